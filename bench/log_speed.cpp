// tarnwick-log-bench [LINES]: appends LINES lines (default 10000), every
// other one with a bold run, to the window's log and prints the time of each
// thousand, so that a cost growing with the log's length shows.

#include <QApplication>
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <string>

#include "engine/message_log.h"
#include "app/qt/log_view.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int lines = argc > 1 ? std::stoi(argv[1]) : 10000;
  tarnwick::qt::LogView log;
  log.resize(336, 161);
  log.show();
  QCoreApplication::processEvents();
  auto start = std::chrono::steady_clock::now();
  const auto begin = start;
  for (int n = 1; n <= lines; ++n) {
    const std::string message = n % 2 == 0 ? "[b]Dolby Digital Plus[/b] audio stream " + std::to_string(n) + " found!"
                                           : "   First PTS = " + std::to_string(n * 3003);
    log.appendLine(tarnwick::parseLogMessage(message));
    if (n % 1000 == 0) {
      // Paint as a progress point would.
      QCoreApplication::processEvents();
      const auto now = std::chrono::steady_clock::now();
      std::printf("lines %5d-%5d: %.1f ms\n", n - 999, n, std::chrono::duration<double, std::milli>(now - start).count());
      start = now;
    }
  }
  std::printf("total %d lines: %.1f ms\n", lines,
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count());
  return 0;
}
