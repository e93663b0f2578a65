#include <string>

#include "app/busy_scope.h"
#include "app/stream_lists.h"
#include "app/tf_main.h"
#include "app/window_report.h"
#include "rebuild/rebuild.h"

namespace tarnwick {

void TfMain::bRebuildClick() {
  if (busy_) return;
  BusyScope busy(*this, runGuard());

  window_.setEnabled(ControlId::bDemux, false);
  window_.setEnabled(ControlId::bRebuild, false);
  window_.showPage(0);
  const std::string workdir = window_.text(ControlId::eWorkdir);
  StreamSelection selection;
  for (ControlId box : outputBoxes())
    if (window_.checked(box)) selection.choose(boxSlot(box));
  const Continuation second = continuationSetUp();
  const std::string outputPath = rebuildFileName(outputFolder(workdir, files_.EvoFolder), files_.OutputBaseName);

  WindowReport report(window_, cancelRequested_);
  rebuildEvo(scan_, runInput(second), selection, outputPath, report).rethrowFailure();
  window_.setEnabled(ControlId::bRebuild, true);
  window_.setEnabled(ControlId::bDemux, true);
}

}  // namespace tarnwick
