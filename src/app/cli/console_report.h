#pragma once
// The console report: the commands' log lines go to standard output as they
// arrive, their progress text to a terminal's standard error.

#include <cstdio>
#include <string>

#include "engine/run_report.h"

namespace tarnwick::cli {

struct ConsoleStreams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool outIsTerminal = false;  // bold runs as ANSI escapes
  bool errIsTerminal = false;  // progress is shown at all
};

// The process's standard output and error, with their terminal states.
ConsoleStreams processStreams();

class ConsoleReport final : public RunReport {
 public:
  explicit ConsoleReport(ConsoleStreams streams) : streams_(streams) {}
  // An error may end the command in the middle of a progress line.
  ~ConsoleReport() override { endProgress(); }
  ConsoleReport(const ConsoleReport&) = delete;
  ConsoleReport& operator=(const ConsoleReport&) = delete;

  // --json keeps the log off standard output.
  void setPrintLog(bool print) { printLog_ = print; }

  void log(std::string_view message) override;
  // The state is the window's; a console shows the running detail only.
  void state(std::string_view) override {}
  void detail(std::string_view text) override;
  void progress(const RunProgress& p) override { detail(progressText(p)); }
  // Nothing on a console cancels: an interrupt ends the process.
  bool cancelRequested() override { return false; }

  // Ends a progress line still on the terminal, before an error is printed.
  void endProgress();

 private:
  void clearProgress();

  ConsoleStreams streams_;
  bool printLog_ = true;
  bool progressShown_ = false;
};

}  // namespace tarnwick::cli
