#pragma once
// A run report for tests: keeps what a command reports, and lets a test
// answer the cancel poll or act when input is let through.

#include <functional>
#include <string>
#include <vector>

#include "engine/message_log.h"
#include "engine/run_report.h"

namespace tarnwick::test {

class RecordingReport : public RunReport {
 public:
  void log(std::string_view message) override { lines_.push_back(parseLogMessage(message)); }
  void state(std::string_view text) override { states.emplace_back(text); }
  void detail(std::string_view text) override { details.emplace_back(text); }
  void progress(const RunProgress& p) override {
    progressTexts.push_back(progressText(p));
    progresses.push_back(p);
  }
  bool cancelRequested() override { return cancel; }
  void letInputThrough() override {
    if (onLetInputThrough) onLetInputThrough();
  }
  void repaint() override { ++repaints; }
  void cancellable(bool on) override {
    cancellableNow = on;
    if (on) ++cancellableRuns;
  }

  const std::vector<LogLine>& lines() const { return lines_; }
  std::vector<std::string> logText() const {
    std::vector<std::string> text;
    for (const LogLine& line : lines_) text.push_back(line.text);
    return text;
  }
  void clearLog() { lines_.clear(); }

  bool cancel = false;
  std::function<void()> onLetInputThrough;
  std::vector<std::string> states;
  std::vector<std::string> details;
  std::vector<std::string> progressTexts;
  std::vector<RunProgress> progresses;
  int repaints = 0;
  bool cancellableNow = false;
  int cancellableRuns = 0;

 private:
  std::vector<LogLine> lines_;
};

}  // namespace tarnwick::test
