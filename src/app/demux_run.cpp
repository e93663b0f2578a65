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
  const StreamClass streamClass = boxSlot(box).streamClass;
  const ControlId extBox = streamClass == StreamClass::Video   ? ControlId::eVideoExt
                           : streamClass == StreamClass::Audio ? ControlId::eAudioExt
                                                               : ControlId::eSubExt;
  return demuxFileName(outputFolder(workdir, files_.EvoFolder), files_.OutputBaseName, window_.caption(box),
                       window_.text(extBox));
}

void TfMain::writingRun(const std::function<Outcome(RunReport&)>& command) {
  if (busy_) return;
  BusyScope busy(*this, runGuard());
  window_.setEnabled(ControlId::bDemux, false);
  window_.setEnabled(ControlId::bRebuild, false);
  window_.setEnabled(ControlId::bMkv, false);
  window_.showPage(0);
  command(report_).rethrowFailure();
  window_.setEnabled(ControlId::bDemux, true);
  window_.setEnabled(ControlId::bRebuild, true);
  window_.setEnabled(ControlId::bMkv, true);
}

void TfMain::bDemuxClick() {
  writingRun([this](RunReport& report) {
    const std::string workdir = window_.text(ControlId::eWorkdir);
    const Continuation second = continuationSetUp();
    StreamSelection selection;
    for (ControlId box : outputBoxes())
      if (window_.checked(box)) selection.choose(boxSlot(box), outputFileName(box, workdir));
    return demuxStreams(scan_, runInput(second), scanOptions(), selection, report);
  });
}

void TfMain::bMkvClick() {
  writingRun([this](RunReport& report) {
    const std::string workdir = window_.text(ControlId::eWorkdir);
    const Continuation second = continuationSetUp();
    MkvRequest request;
    request.input = runInput(second);
    request.folder = outputFolder(workdir, files_.EvoFolder);
    request.baseName = files_.OutputBaseName;
    // The stream files go in the run's temporary folder, under Demux's names.
    for (ControlId box : outputBoxes())
      if (window_.checked(box)) request.selection.choose(boxSlot(box), namePart(outputFileName(box, workdir)));
    request.title = playlistTitle_;
    request.options = scanOptions();
    request.mkvmerge = window_.text(ControlId::eMkvmerge);
    return makeMkv(scan_, request, report);
  });
}

}  // namespace tarnwick
