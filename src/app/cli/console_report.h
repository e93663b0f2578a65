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

// Ctrl+C and a polite kill (SIGINT and SIGTERM; on Windows Ctrl+C and
// Ctrl+Break): the first asks the running command to stop as the window's
// Cancel does, through every console report's cancel poll; a second one ends
// the process at once, for a run that does not get to its next poll.
void catchInterrupts();
bool interrupted();

class ConsoleReport final : public RunReport {
 public:
  explicit ConsoleReport(ConsoleStreams streams) : streams_(streams) {}
  // An error may end the command in the middle of a progress line.
  ~ConsoleReport() override { endProgress(); }
  ConsoleReport(const ConsoleReport&) = delete;
  ConsoleReport& operator=(const ConsoleReport&) = delete;

  // --json keeps the log off standard output.
  void setPrintLog(bool print) { printLog_ = print; }
  // Put before every progress text: which input of several runs ("disc 3 of 12: ").
  void setProgressPrefix(std::string prefix) { prefix_ = std::move(prefix); }

  void log(std::string_view message) override;
  // The state is the window's; a console shows the running detail only.
  void state(std::string_view) override {}
  void detail(std::string_view text) override;
  void progress(const RunProgress& p) override { detail(progressText(p)); }
  // An interrupt is the console's Cancel.
  bool cancelRequested() override { return interrupted(); }

  // Ends a progress line still on the terminal, before an error is printed.
  void endProgress();

 private:
  void clearProgress();

  ConsoleStreams streams_;
  bool printLog_ = true;
  std::string prefix_;
  bool progressShown_ = false;
};

}  // namespace tarnwick::cli
