#include <string>

#include "app/stream_lists.h"
#include "app/tf_main.h"
#include "rebuild/rebuild.h"

namespace tarnwick {

void TfMain::bRebuildClick() {
  writingRun([this](RunReport& report) {
    const std::string workdir = window_.text(ControlId::eWorkdir);
    StreamSelection selection;
    for (ControlId box : outputBoxes())
      if (window_.checked(box)) selection.choose(boxSlot(box));
    const Continuation second = continuationSetUp();
    const std::string output = rebuildFileName(outputFolder(workdir, files_.EvoFolder), files_.OutputBaseName);
    return rebuildEvo(scan_, runInput(second), selection, output, report);
  });
}

}  // namespace tarnwick
