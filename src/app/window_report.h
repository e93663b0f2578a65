#pragma once
// The run interface of the commands, shown on a window: log lines in its
// log, the state and progress in its status bar, Cancel enabled while a
// loop can be cancelled, and the window's own Cancel flag polled.

#include "app/window.h"

namespace tarnwick {

class WindowReport final : public RunReport {
 public:
  WindowReport(Window& window, const bool& cancelFlag) : window_(window), cancelFlag_(cancelFlag) {}

  void log(std::string_view message) override { window_.log(message); }
  void state(std::string_view text) override { window_.slog(text, 0); }
  void detail(std::string_view text) override { window_.slog(text, 1); }
  void progress(const RunProgress& p) override { window_.showProgress(p); }
  bool cancelRequested() override { return cancelFlag_; }
  void letInputThrough() override { window_.processMessages(); }
  void repaint() override { window_.repaint(); }
  void cancellable(bool on) override { window_.setEnabled(ControlId::bCancel, on); }

 private:
  Window& window_;
  const bool& cancelFlag_;
};

}  // namespace tarnwick
