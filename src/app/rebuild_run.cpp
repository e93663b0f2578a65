#include <string>
#include <vector>

#include "app/busy_scope.h"
#include "app/file_names.h"
#include "app/input_scope.h"
#include "app/tf_main.h"
#include "rebuild/rebuild.h"

namespace tarnwick {
namespace {

// Closes what a failed run created; the first error is the one reported.
void closeQuietly(ScanState& state) {
  try {
    state.closeOutputs();
  } catch (const FileError&) {
  }
}

RebuildSelection takeSelection(const Window& window) {
  RebuildSelection selection;
  for (int n = 0; n < 2; ++n) selection.video[static_cast<std::size_t>(n)] = window.checked(videoBox(n));
  for (int n = 0; n < 16; ++n) {
    selection.audio[static_cast<std::size_t>(n)] = window.checked(audioBox(n));
    selection.subpicture[static_cast<std::size_t>(n)] = window.checked(subBox(n));
  }
  return selection;
}

}  // namespace

void TfMain::bRebuildClick() {
  if (busy_) return;
  BusyScope busy(*this, runGuard());

  window_.setEnabled(ControlId::bDemux, false);
  window_.setEnabled(ControlId::bRebuild, false);
  window_.showPage(0);
  const std::string workdir = window_.text(ControlId::eWorkdir);
  RebuildState rebuild;
  const RebuildSelection selection = takeSelection(window_);
  const Continuation second = continuationSetUp();
  const std::string inputPath = window_.text(ControlId::eEVOfile);
  const std::string outputPath = outputFolder(workdir) + safeNamePart(files_.OutputBaseName) + ".rebuilt.EVO";

  InputScope inputScope(scan_);
  openRunInput(inputPath);

  refuseInputAsOutput(outputPath, inputPath, second);
  try {
    scan_.videoOutputs[0].emplace(outputPath);
    window_.log("Creating " + outputPath);
    window_.slog("Rebuilding " + namePart(inputPath), 0);
    Rebuild(scan_, rebuild, selection, window_);
    continueOnSecond(second, "Rebuilding", [&] { Rebuild(scan_, rebuild, selection, window_); });
    scan_.InputStream.reset();
    scan_.closeOutputs();
  } catch (...) {
    closeQuietly(scan_);
    throw;
  }

  logDone();
  window_.setEnabled(ControlId::bRebuild, true);
  window_.setEnabled(ControlId::bDemux, true);
}

}  // namespace tarnwick
