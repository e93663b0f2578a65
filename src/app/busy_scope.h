#pragma once
// While a command runs, the other commands, the browse buttons, dropping and
// (where the command says so) the stream boxes are disabled; their enabled
// states come back when it ends, however it ends.

#include <utility>
#include <vector>

#include "app/tf_main.h"

namespace tarnwick {

class TfMain::BusyScope {
 public:
  BusyScope(TfMain& main, std::vector<ControlId> controls) : main_(main) {
    main_.busy_ = true;
    main_.report_.forgetCancel();
    for (ControlId id : controls) {
      saved_.emplace_back(id, main_.window_.enabled(id));
      main_.window_.setEnabled(id, false);
    }
  }
  ~BusyScope() {
    for (const auto& [id, was] : saved_) main_.window_.setEnabled(id, was);
    main_.busy_ = false;
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  TfMain& main_;
  std::vector<std::pair<ControlId, bool>> saved_;
};

}  // namespace tarnwick
