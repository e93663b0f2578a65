// tarnwick-window-bench EVO_FILE OUT_DIR: Read EVO, then Demux, run in the
// window (offscreen) as a user runs them, with "Fast EVO checking" and
// "Continue with second  EVO" unticked; prints the seconds each command
// took and how many log lines the window holds. bench/window compares the
// figures with tarnwick-cli.

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>
#include <cstdio>

#include "app/qt/log_view.h"
#include "app/qt/main_window.h"
#include "app/settings.h"

namespace {

template <class F>
double seconds(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tarnwick-window-bench EVO_FILE OUT_DIR\n");
    return 2;
  }
  QApplication app(argc, argv);
  tarnwick::MemorySettingsStore store;
  tarnwick::qt::MainWindow window(store);
  window.show();
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();

  window.findChild<QCheckBox*>("cbFastCheck")->setChecked(false);
  window.findChild<QCheckBox*>("cbContinue")->setChecked(false);
  window.findChild<QLineEdit*>("eWorkdir")->setText(QString::fromLocal8Bit(argv[2]));
  window.tfMain().WMDropFiles({argv[1]});
  auto* readEvo = window.findChild<QPushButton*>("bCheck");
  auto* demux = window.findChild<QPushButton*>("bDemux");
  if (!readEvo->isEnabled()) {
    std::fprintf(stderr, "tarnwick-window-bench: not an EVO or VOB file: %s\n", argv[1]);
    return 1;
  }
  const double read = seconds([&] { readEvo->click(); });
  if (!demux->isEnabled()) {
    std::fprintf(stderr, "tarnwick-window-bench: the read found no stream\n");
    return 1;
  }
  const double written = seconds([&] { demux->click(); });
  std::printf("read %.3f\ndemux %.3f\n", read, written);
  return 0;
}
