#pragma once
// Closes the command's input however the command ends.

#include "engine/scan_state.h"

namespace tarnwick {

class InputScope {
 public:
  explicit InputScope(ScanState& state) : state_(state) {}
  ~InputScope() { state_.InputStream.reset(); }
  InputScope(const InputScope&) = delete;
  InputScope& operator=(const InputScope&) = delete;

 private:
  ScanState& state_;
};

}  // namespace tarnwick
