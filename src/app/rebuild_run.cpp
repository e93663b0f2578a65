#include <string>

#include "app/tf_main.h"
#include "rebuild/rebuild.h"

namespace tarnwick {

void TfMain::bRebuildClick() {
  writingRun([this](RunReport& report) {
    const RunSetUp setUp = setUpRun();
    return rebuildEvo(scan_, setUp.input, selectionOf(streams_, nullptr), rebuildOutput(setUp), report);
  });
}

}  // namespace tarnwick
