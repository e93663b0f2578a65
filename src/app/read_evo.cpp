#include "app/busy_scope.h"
#include "app/tf_main.h"
#include "engine/demux_run.h"

namespace tarnwick {

void TfMain::bCheckClick() {
  if (busy_) return;
  BusyScope busy(*this, {ControlId::bbEVO, ControlId::bbXPL, ControlId::bReadXPL});
  window_.setEnabled(ControlId::bCheck, false);
  window_.setEnabled(ControlId::bDemux, false);
  window_.setEnabled(ControlId::bRebuild, false);
  window_.setEnabled(ControlId::bMkv, false);
  Resetcbs();
  // The boxes no longer show the playlist's names, nor will an MKV.
  playlistTitle_ = XplTitle();
  window_.showPage(0);
  const RunSetUp setUp = setUpRun();
  readEvo(scan_, setUp.input, setUp.options, report_).rethrowFailure();
  Fillcbs();
  window_.setEnabled(ControlId::bCheck, true);
  cbVideoClick();
}

}  // namespace tarnwick
