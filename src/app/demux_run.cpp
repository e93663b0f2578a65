#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/busy_scope.h"
#include "app/file_names.h"
#include "app/input_scope.h"
#include "app/tf_main.h"
#include "engine/scanner.h"
#include "engine/time_format.h"

namespace tarnwick {
namespace {

std::optional<OutputFile>& outputOf(ScanState& state, ControlId box) {
  const BoxSlot b = boxSlot(box);
  const auto k = static_cast<std::size_t>(b.slot);
  switch (b.streamClass) {
    case StreamClass::Video: return state.videoOutputs[k];
    case StreamClass::Audio: return state.audioOutputs[k];
    default: return state.subpictureOutputs[k];
  }
}

void select(ScanState& state, ControlId box) {
  const BoxSlot b = boxSlot(box);
  const auto k = static_cast<std::size_t>(b.slot);
  switch (b.streamClass) {
    case StreamClass::Video: state.videoSelected[k] = true; break;
    case StreamClass::Audio: state.audioSelected[k] = true; break;
    default: state.subpictureSelected[k] = true; break;
  }
}

// Closes what a failed run created; the first error is the one reported.
void closeQuietly(ScanState& state) {
  try {
    state.closeOutputs();
  } catch (const FileError&) {
  }
}

}  // namespace

std::vector<ControlId> TfMain::runGuard() {
  std::vector<ControlId> guarded = {ControlId::bbEVO, ControlId::bbXPL, ControlId::bCheck, ControlId::bReadXPL};
  for (int n = static_cast<int>(ControlId::cbVideo0); n < kControlCount; ++n)
    guarded.push_back(static_cast<ControlId>(n));
  return guarded;
}

std::string TfMain::outputFolder(const std::string& workdir) const {
  // No output folder: write beside the input.
  std::string folder = workdir.empty() ? files_.EvoFolder : workdir;
  if (!folder.empty() && !endsWithSeparator(folder)) folder += kSeparator;
  return folder;
}

std::string TfMain::outputFileName(ControlId box, const std::string& workdir) const {
  const std::string folder = outputFolder(workdir);
  const StreamClass streamClass = boxSlot(box).streamClass;
  const ControlId extBox = streamClass == StreamClass::Video   ? ControlId::eVideoExt
                           : streamClass == StreamClass::Audio ? ControlId::eAudioExt
                                                               : ControlId::eSubExt;
  return folder + files_.OutputBaseName + "." + safeNamePart(window_.caption(box)) + "." +
         safeNamePart(window_.text(extBox));
}

void TfMain::bDemuxClick() {
  if (busy_) return;
  BusyScope busy(*this, runGuard());

  window_.setEnabled(ControlId::bDemux, false);
  window_.setEnabled(ControlId::bRebuild, false);
  window_.showPage(0);
  const std::string workdir = window_.text(ControlId::eWorkdir);
  scan_.VideoFrameCounts = {};
  const Continuation second = continuationSetUp();
  const std::string inputPath = window_.text(ControlId::eEVOfile);

  InputScope inputScope(scan_);
  openRunInput(inputPath);

  scan_.clearSelection();
  try {
    std::vector<std::string> created;
    for (ControlId box : outputBoxes()) {
      if (!window_.checked(box)) continue;
      const std::string name = outputFileName(box, workdir);
      // Never write over an input of this run, nor over another output of it.
      refuseInputAsOutput(name, inputPath, second);
      for (const std::string& earlier : created)
        if (earlier == name || sameFile(name, earlier))
          throw cannotCreate(name, "Another stream of this run is written to it");
      outputOf(scan_, box).emplace(name);
      created.push_back(name);
      select(scan_, box);
      window_.log("Creating " + name);
    }

    window_.slog("Demuxing " + namePart(inputPath), 0);
    demux(scan_, window_, ScanMode::Extraction);
    continueOnSecond(second, "Demuxing", [&] { demux(scan_, window_, ScanMode::Extraction); });
    scan_.InputStream.reset();
    scan_.closeOutputs();
  } catch (...) {
    closeQuietly(scan_);
    throw;
  }

  logDone();
  for (int n = 0; n < 2; ++n) {
    const std::int32_t count = scan_.VideoFrameCounts[n];
    if (count <= 0) continue;
    const long double days = static_cast<long double>(count) / 23.976L / 86400;
    window_.log(std::to_string(count) + " frames (" + formatLongTime(days) + " s) count in video stream " +
                std::to_string(n) + ".");
  }
  window_.setEnabled(ControlId::bDemux, true);
  window_.setEnabled(ControlId::bRebuild, true);
}

}  // namespace tarnwick
