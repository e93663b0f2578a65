#pragma once
// How a command reports while it runs, whoever runs it: the window, the
// command line, a test or a pipeline. Log lines ("[b]" … "[/b]" mark bold),
// the state and the progress as numbers, a cancel request to poll, and a
// chance to let pending input through.

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "analysers/log_sink.h"

namespace tarnwick {

// Where a long loop stands: the input position and size in bytes, the time
// since the loop began, and the task's words before the numbers ("Rebuilding
// FEATURE_1.EVO"), empty for a scan.
struct RunProgress {
  std::int64_t position = 0;
  std::int64_t size = 0;
  double elapsedSeconds = 0;
  std::string task;
};

// The remaining time as a fraction of a day: the elapsed time scaled by the
// part still to read, plus one second.
double remainingDays(const RunProgress& p);
// The same as "h:mm:ss".
std::string remainingTime(const RunProgress& p);
// "[TASK ]P/S Mbytes, Remaining time: h:mm:ss", sizes in MiB. A front end
// that also shows the remaining time on its own passes it in, so that it is
// worked out once.
std::string progressText(const RunProgress& p, std::string_view remaining);
std::string progressText(const RunProgress& p);

class RunReport : public LogSink {
 public:
  void log(std::string_view message) override = 0;
  // The state, such as "Reading FEATURE_1.EVO" or "Ready".
  virtual void state(std::string_view text) = 0;
  // A running detail that is not a progress: "1024/4096 bytes", or empty.
  virtual void detail(std::string_view text) = 0;
  virtual void progress(const RunProgress& p) = 0;
  // Whether the user asked to stop the run: the one place a front end keeps
  // that request. Asked at the loops' progress points, right after
  // letInputThrough().
  virtual bool cancelRequested() = 0;
  // Pending input (a Cancel click) gets its turn here.
  virtual void letInputThrough() {}
  virtual void repaint() {}
  // A loop that can be cancelled begins (true) or has ended (false).
  virtual void cancellable(bool) {}

  // A loop's point of cancel: pending input gets its turn, then the answer
  // is whether the run is to stop.
  bool cancelPoint() {
    letInputThrough();
    return cancelRequested();
  }
  // A loop's progress point: where it stands is shown, then as cancelPoint().
  bool progressPoint(const RunProgress& p) {
    progress(p);
    return cancelPoint();
  }
};

// A cancellable loop runs for as long as the scope lives, however it ends.
class CancellableScope {
 public:
  explicit CancellableScope(RunReport& report) : report_(report) { report_.cancellable(true); }
  ~CancellableScope() { report_.cancellable(false); }
  CancellableScope(const CancellableScope&) = delete;
  CancellableScope& operator=(const CancellableScope&) = delete;

 private:
  RunReport& report_;
};

// A report that keeps nothing and never cancels.
class SilentReport : public RunReport {
 public:
  void log(std::string_view) override {}
  void state(std::string_view) override {}
  void detail(std::string_view) override {}
  void progress(const RunProgress&) override {}
  bool cancelRequested() override { return false; }
};

// How a command ended. A failure carries the error it ended with, so that a
// front end may show its text or raise it again.
struct Outcome {
  enum class Kind { Done, Cancelled, Failed };
  Kind kind = Kind::Done;
  std::string message;
  std::exception_ptr error;

  static Outcome done() { return {}; }
  static Outcome cancelled() { return {Kind::Cancelled, "Cancelled.", nullptr}; }
  static Outcome failed(std::exception_ptr error);

  bool isDone() const { return kind == Kind::Done; }
  bool isCancelled() const { return kind == Kind::Cancelled; }
  bool isFailed() const { return kind == Kind::Failed; }
  // Raises the failure's error again; nothing for the other outcomes.
  void rethrowFailure() const {
    if (error) std::rethrow_exception(error);
  }
};

// Runs the command and turns the exception it ends with into a failure.
template <typename Command>
Outcome runCommand(Command&& command) {
  try {
    return command();
  } catch (...) {
    return Outcome::failed(std::current_exception());
  }
}

}  // namespace tarnwick
