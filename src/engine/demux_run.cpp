#include "engine/demux_run.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/file_io.h"
#include "engine/file_names.h"
#include "engine/input_scope.h"
#include "engine/run_steps.h"
#include "engine/scanner.h"
#include "engine/time_format.h"

namespace tarnwick {

std::string frameCountLine(std::int32_t count, int stream, FrameCountStyle style) {
  // Each style computes its time in its own order and precision: the two
  // lines differ for some counts, and users compare them with earlier runs.
  const bool read = style == FrameCountStyle::ReadEvo;
  const std::string time = read ? formatLongTime(static_cast<double>(count) / 24000 * 1001 / 86400)
                                : formatLongTime(static_cast<long double>(count) / 23.976L / 86400);
  return std::to_string(count) + " frames (" + (read ? "[b]" + time + " s[/b]" : time + " s") +
         ") count in video stream " + std::to_string(stream) + ".";
}

namespace {

// Each subpicture output gets a PGS converter, on the time line of the
// other outputs; its canvas is the plane the captions are placed on.
void startPgs(ScanState& state, RunReport& report) {
  const std::uint32_t timeBase = subtitleTimeBase(state);
  PgsOptions pgs;
  pgs.video = subpicturePlane(state.videoSize());
  for (SlotState& slot : state.SubpictureSlots) slot.pgsTally.reset();
  pgs.timeBase = timeBase;
  for (int k = 0; k < kSubpictureOutputs; ++k) {
    SlotState& slot = state.SubpictureSlots[static_cast<std::size_t>(k)];
    if (!slot.output) continue;
    OutputFile* file = &*slot.output;
    slot.pgsConverter = std::make_unique<PgsConverter>(
        [file](const std::uint8_t* p, std::size_t n) { file->write(p, n); }, report, pgs);
  }
}

class NoCaptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string units(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " unit" : " units"); }

// A subpicture stream that gave no caption leaves no PGS file (an empty one
// is no stream to its readers: mkvmerge refuses it), and the run fails, so
// that the user hears of it rather than finding the caption track missing.
void refuseEmptyPgs(const ScanState& state, const StreamSelection& selection, RunReport& report) {
  std::string message;
  for (int k = 0; k < kSubpictureOutputs; ++k) {
    const std::optional<PgsTally>& tally = state.SubpictureSlots[static_cast<std::size_t>(k)].pgsTally;
    if (!tally || tally->captions > 0) continue;
    const StreamSlot slot{StreamClass::Subpicture, k};
    const std::string& name = selection.outputNames[static_cast<std::size_t>(outputIndex(slot))];
    std::string line = "Subpicture stream " + std::to_string(k) + " gave no caption (" + units(tally->skipped) +
                       " skipped";
    if (tally->blank > 0) line += ", " + units(tally->blank) + " without a visible pixel";
    line += "): " + name + " removed.";
    report.log(line);
    std::error_code ignored;
    std::filesystem::remove(pathFromUtf8(name), ignored);
    message += (message.empty() ? "" : "\n") + line;
  }
  if (!message.empty()) throw NoCaptionError(message);
}

Outcome readEvoRun(ScanState& state, const RunInput& input, const ScanOptions& options, RunReport& report) {
  state.resetVideoFrameCounts();
  state.resetLpcmFormats();
  state.EarliestPts = 0xFFFFFFFF;
  report.log("Opening file [b]" + namePart(input.path) + "[/b]");
  InputScope inputScope(state);
  state.InputStream.emplace(openInput(input, input.path));
  report.state("Reading " + namePart(state.InputStream->path()));
  report.log("File size: " + std::to_string(state.InputStream->size() / 1048576) + " Mbytes.");
  // Whether any scan of the run met a stream, kept or left out: each scan
  // starts its tables afresh.
  bool anyStream = false;
  const auto scan = [&] {
    demux(state, options, report, ScanMode::Analysis);
    const auto taken = [](const auto& slots) {
      return std::any_of(slots.begin(), slots.end(), [](const SlotState& slot) { return slot.id >= 0; });
    };
    anyStream = anyStream || taken(state.VideoSlots) || taken(state.AudioSlots) || taken(state.SubpictureSlots) ||
                !state.leftOut.empty();
  };
  scan();
  // Demux's outputs start in the first file: a stream's first time stamp,
  // and so its delay, is the one found there, not in the second file.
  std::vector<std::pair<StreamRecord*, std::uint32_t>> firstPts;
  for (std::span<SlotState> table : state.slotTables())
    for (SlotState& slot : table)
      if (slot.record.hasFirstPts) firstPts.emplace_back(&slot.record, slot.record.firstPts);
  continueOnSecond(state, input, "Reading", report, scan);
  for (const auto& [record, pts] : firstPts) {
    record->hasFirstPts = true;
    record->firstPts = pts;
  }
  state.InputStream.reset();

  // Otherwise a file that is no program stream at all ends with "Done." alone.
  if (!anyStream && !report.cancelRequested()) report.log("No stream was found.");
  logDone(report);
  for (int n = 0; n < 2; ++n)
    if (state.VideoSlots[n].VideoFrameCounts > 0)
      report.log(frameCountLine(state.VideoSlots[n].VideoFrameCounts, n, FrameCountStyle::ReadEvo));
  if (static_cast<std::int64_t>(state.VideoSlots[0].VideoFrameCounts) + state.VideoSlots[1].VideoFrameCounts > 0)
    report.log("");
  return report.cancelRequested() ? Outcome::cancelled() : Outcome::done();
}

Outcome demuxRun(ScanState& state, const RunInput& input, const ScanOptions& options,
                 const StreamSelection& selection, RunReport& report) {
  state.resetVideoFrameCounts();
  state.resetLpcmFormats();
  InputScope inputScope(state);
  openRunInput(state, input, report);
  try {
    std::vector<std::string> created;
    for (int k = 0; k < kOutputCount; ++k) {
      if (!selection.chosen[static_cast<std::size_t>(k)]) continue;
      const std::string& name = selection.outputNames[static_cast<std::size_t>(k)];
      // Never write over an input of this run, nor over another output of it.
      refuseInputAsOutput(name, input);
      for (const std::string& earlier : created)
        if (earlier == name || sameFile(name, earlier))
          throw cannotCreate(name, "Another stream of this run is written to it");
      state.slot(outputSlot(k)).output.emplace(name);
      created.push_back(name);
      report.log("Creating " + name);
    }
  } catch (...) {
    state.closeOutputsQuietly();
    throw;
  }
  if (options.pgs) startPgs(state, report);
  writeOverInputs(state, input, "Demuxing", report, [&] { demux(state, options, report, ScanMode::Extraction); });
  if (options.pgs && state.scanStop != ScanStop::Cancelled) refuseEmptyPgs(state, selection, report);

  logDone(report);
  for (int n = 0; n < 2; ++n)
    if (state.VideoSlots[n].VideoFrameCounts > 0)
      report.log(frameCountLine(state.VideoSlots[n].VideoFrameCounts, n, FrameCountStyle::Demux));
  return state.scanStop == ScanStop::Cancelled ? Outcome::cancelled() : Outcome::done();
}

}  // namespace

std::uint32_t subtitleTimeBase(const ScanState& state) {
  std::uint32_t timeBase = state.EarliestPts;
  if (timeBase == 0xFFFFFFFF) {
    for (int n = 0; n < kVideoOutputs; ++n) {
      const StreamRecord& record = state.VideoSlots[static_cast<std::size_t>(n)].record;
      if (record.hasFirstPts && record.firstPts < timeBase) timeBase = record.firstPts;
    }
    for (const SlotState& slot : state.AudioSlots)
      if (slot.record.hasFirstPts && slot.record.firstPts < timeBase) timeBase = slot.record.firstPts;
    if (timeBase == 0xFFFFFFFF) timeBase = 0;
  }
  return timeBase;
}

std::int64_t delayMs(std::uint32_t pts, std::uint32_t reference) {
  return (static_cast<std::int64_t>(pts) - static_cast<std::int64_t>(reference)) / 90;
}

Outcome readEvo(ScanState& state, const RunInput& input, const ScanOptions& options, RunReport& report) {
  return runCommand([&] { return readEvoRun(state, input, options, report); });
}

Outcome demuxStreams(ScanState& state, const RunInput& input, const ScanOptions& options,
                     const StreamSelection& selection, RunReport& report) {
  return runCommand([&] { return demuxRun(state, input, options, selection, report); });
}

}  // namespace tarnwick
