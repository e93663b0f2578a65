#pragma once
// The console window: the in-memory window whose log lines go to standard
// output as they arrive and whose progress text goes to a terminal's
// standard error.

#include <cstdio>
#include <string>

#include "app/model_window.h"

namespace tarnwick::cli {

struct ConsoleStreams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool outIsTerminal = false;  // bold runs as ANSI escapes
  bool errIsTerminal = false;  // progress is shown at all
};

// The process's standard output and error, with their terminal states.
ConsoleStreams processStreams();

class ConsoleWindow : public ModelWindow {
 public:
  explicit ConsoleWindow(ConsoleStreams streams) : streams_(streams) {}
  // An error may end the command in the middle of a progress line.
  ~ConsoleWindow() override { endProgress(); }
  ConsoleWindow(const ConsoleWindow&) = delete;
  ConsoleWindow& operator=(const ConsoleWindow&) = delete;

  // --json keeps the log off standard output; the lines are still kept.
  void setPrintLog(bool print) { printLog_ = print; }

  void appendLogLine(const LogLine& line) override;
  void setStatusPanel(int panel, const std::string& shownText) override;

  // Whether a "Done." line came since the last forgetDone(): the command
  // ran to its end.
  bool sawDone() const { return sawDone_; }
  void forgetDone() { sawDone_ = false; }

  // Ends a progress line still on the terminal, before an error is printed.
  void endProgress();

 private:
  void clearProgress();

  ConsoleStreams streams_;
  bool printLog_ = true;
  bool sawDone_ = false;
  bool progressShown_ = false;
};

}  // namespace tarnwick::cli
