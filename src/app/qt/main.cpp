// tarnwick: the desktop window. Files named on the command line are taken
// as if dropped on the window.

#include <QApplication>
#include <QIcon>
#include <QPixmap>

#include "app/qt/logo.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_settings_store.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Corvane Software");
  QApplication::setApplicationName("Tarnwick");
  QApplication::setApplicationVersion(TARNWICK_VERSION);
  // The task bar's text.
  QApplication::setApplicationDisplayName("HD DVD Tarnwick");
  QApplication::setDesktopFileName("tarnwick");
  QPixmap icon;
  const auto png = tarnwick::qt::iconPng();
  icon.loadFromData(png.data(), static_cast<uint>(png.size()), "PNG");
  QApplication::setWindowIcon(QIcon::fromTheme("tarnwick", QIcon(icon)));
  QApplication::setStyle("Fusion");

  tarnwick::qt::QtSettingsStore store;
  tarnwick::qt::MainWindow window(store);
  window.dropAtStart(QApplication::arguments().mid(1));
  window.show();
  return QApplication::exec();
}
