#pragma once
// The run interface of the commands, shown on a window: log lines in its
// log, the state and progress in its status bar, Cancel enabled while a
// loop can be cancelled, and the window's Cancel request kept for the
// loops to poll.

#include "app/window.h"

namespace tarnwick {

class WindowReport final : public RunReport {
 public:
  explicit WindowReport(Window& window) : window_(window) {}

  void log(std::string_view message) override { window_.log(message); }
  void state(std::string_view text) override { window_.slog(text, 0); }
  void detail(std::string_view text) override { window_.slog(text, 1); }
  void progress(const RunProgress& p) override { window_.showProgress(p); }
  bool cancelRequested() override { return cancelRequested_; }
  void letInputThrough() override { window_.processMessages(); }
  void repaint() override { window_.repaint(); }
  void cancellable(bool on) override { window_.setEnabled(ControlId::bCancel, on); }

  // Cancel was confirmed; a command that begins forgets an earlier request.
  void requestCancel() { cancelRequested_ = true; }
  void forgetCancel() { cancelRequested_ = false; }

 private:
  Window& window_;
  bool cancelRequested_ = false;
};

}  // namespace tarnwick
