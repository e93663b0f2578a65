// tarnwick-screenshot EVO_FILE OUT.png [PAGE]: the window at its first size
// after Read EVO and Read XPL on EVO_FILE (the playlist found beside it, as
// the window finds it; a disc folder or image in its place: its main
// feature), showing page PAGE (0 Status, 2 Audio, 4 XPL), written
// as a PNG. Runs without a display (QT_QPA_PLATFORM offscreen; with
// QT_SCALE_FACTOR=2 the PNG has twice the pixels) and with settings of its
// own, so a user's settings neither change the picture nor are changed by it.

#include <QApplication>
#include <QCoreApplication>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>

#include "app/qt/main_window.h"
#include "app/qt/qt_settings_store.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: tarnwick-screenshot EVO_FILE OUT.png [PAGE]\n");
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName("HD DVD Tarnwick");
  QApplication::setStyle("Fusion");
  QTemporaryDir settingsDir;
  tarnwick::qt::QtSettingsStore store(settingsDir.filePath("Tarnwick.conf"));
  tarnwick::qt::MainWindow window(store);
  window.dropAtStart({QString::fromLocal8Bit(argv[1])});
  window.show();
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();

  auto* readEvo = window.findChild<QPushButton*>("bCheck");
  if (readEvo == nullptr || !readEvo->isEnabled()) {
    std::fprintf(stderr, "tarnwick-screenshot: \"Read EVO\" is not enabled for %s\n", argv[1]);
    return 1;
  }
  readEvo->click();
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  auto* readXpl = window.findChild<QPushButton*>("bReadXPL");
  if (readXpl == nullptr || !readXpl->isEnabled()) {
    std::fprintf(stderr, "tarnwick-screenshot: \"Read XPL\" is not enabled for %s\n", argv[1]);
    return 1;
  }
  readXpl->click();
  const int page = argc > 3 ? QString(argv[3]).toInt() : 0;
  window.findChild<QTabWidget*>("PageControl")->setCurrentIndex(page);
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  if (!window.grab().save(QString::fromLocal8Bit(argv[2]))) {
    std::fprintf(stderr, "tarnwick-screenshot: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
