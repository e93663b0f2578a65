#include <string>
#include <vector>

#include "app/busy_scope.h"
#include "app/stream_lists.h"
#include "app/tf_main.h"
#include "engine/demux_run.h"
#include "engine/file_names.h"
#include "matroska/mkv_run.h"

namespace tarnwick {

std::vector<ControlId> TfMain::runGuard() {
  std::vector<ControlId> guarded = {ControlId::bbEVO, ControlId::bbXPL, ControlId::bCheck, ControlId::bReadXPL};
  for (int n = static_cast<int>(ControlId::cbVideo0); n < kControlCount; ++n)
    guarded.push_back(static_cast<ControlId>(n));
  return guarded;
}

std::string TfMain::outputFileName(ControlId box, const std::string& workdir) const {
  return outputName(streams_[boxSlot(box)], outputNaming(workdir));
}

void TfMain::writingRun(const std::function<Outcome(RunReport&)>& command) {
  if (busy_) return;
  BusyScope busy(*this, runGuard());
  window_.setEnabled(ControlId::bDemux, false);
  window_.setEnabled(ControlId::bRebuild, false);
  window_.setEnabled(ControlId::bMkv, false);
  window_.showPage(0);
  command(report_).rethrowFailure();
  // Rebuild comes back only for an EVO source, as the boxes offer it.
  window_.setEnabled(ControlId::bDemux, true);
  window_.setEnabled(ControlId::bMkv, true);
  cbVideoClick();
}

void TfMain::bDemuxClick() {
  writingRun([this](RunReport& report) {
    const RunSetUp setUp = setUpRun();
    return demuxStreams(scan_, setUp.input, setUp.options, selectionOf(streams_, &setUp.naming), report);
  });
}

void TfMain::bMkvClick() {
  writingRun([this](RunReport& report) {
    MkvRequest request = mkvRequest(setUpRun(), streams_, playlistTitle_);
    request.mkvmerge = window_.text(ControlId::eMkvmerge);
    // A disc's MKV is named after its title; an EVO file's keeps Demux's base name.
    if (titleRun_) request.baseName = titleRun_->mkvBaseName;
    return makeMkv(scan_, request, report);
  });
}

}  // namespace tarnwick
