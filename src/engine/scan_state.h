#pragma once
// The state shared by the commands, the scanner, the analysers and the writer.
// One instance lives in TfMain for the life of the program.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/file_io.h"
#include "engine/lpcm_wav.h"
#include "engine/stream_ids.h"
#include "subtitles/pgs_writer.h"

namespace tarnwick {

constexpr std::size_t kPackBufferSize = 0x40000;

enum class ScanMode : std::uint8_t { Analysis = 0, Extraction = 1 };

// What Read EVO learnt about one stream, for reports such as `read --json`.
struct StreamRecord {
  bool found = false;
  std::int32_t streamId = -1;
  bool hasFirstPts = false;
  std::uint32_t firstPts = 0;
  std::vector<std::string> details;  // the detail lines, tags stripped
  AudioChannels channels;            // what an audio header announced
  std::string frameRate;             // H.264: from the sequence's timing, as "24000/1001"
};

// What a PGS converter made of its stream: the captions written, the units
// skipped as faults, and the units without a visible pixel.
struct PgsTally {
  std::uint64_t captions = 0;
  std::uint64_t skipped = 0;
  std::uint64_t blank = 0;
};

// A stream that the scans leave out: another stream owns its slot (the first
// one seen there), or no box can hold it (ownerId −1).
struct LeftOutStream {
  StreamClass streamClass = StreamClass::Audio;
  std::int32_t id = -1;
  int slot = -1;
  std::int32_t ownerId = -1;
};

// Why the latest scan or rebuild loop ended before the end of its input.
// The fast-check limit is not a cancel, but the runs treat it as one: no
// second file, no count lines.
enum class ScanStop : std::uint8_t { None, Cancelled, FastCheckLimit };

// One stream slot and everything the scans keep of the stream that owns it,
// one per slot in VideoSlots, AudioSlots and SubpictureSlots.
// Only video slots 0-1, audio 0-15 and subpicture 0-15 have a box: only they
// ever get an output. A report is kept for video slots 0-1 and for every
// audio and subpicture slot. The fields of one class stay unset in the others.
// Fields are camelCase but two, which keep the names the rest of the system
// knows them by: `Reported` is VideoReported, AudioReported or
// SubpictureReported, the array the slot sits in naming the class;
// `VideoFrameCounts` stays whole, as only video has it.
struct SlotState {
  // The slot table entry: the id that owns the slot (the first one seen
  // there in this scan), -1 while free.
  std::int32_t id = -1;
  // Video: the pictures counted in this stream over the run's files, and the
  // last four bytes the frame counter saw, carried from one payload run to
  // the next within a scan so a split marker counts once.
  std::int32_t VideoFrameCounts = 0;
  std::uint32_t frameCountWindow = 0;
  // The stream's details were reported in this scan.
  bool Reported = false;
  // Subpicture: a time stamp before EarliestPts was written as 0 and logged
  // in this scan.
  bool timeClamped = false;
  // An open output is what selects a stream for the writer and the frame
  // counter.
  std::optional<OutputFile> output;
  // Subpicture, with PGS chosen: the output is written through this
  // converter, whose tally closeOutputs() keeps when it finishes.
  std::unique_ptr<PgsConverter> pgsConverter;
  std::optional<PgsTally> pgsTally;
  // What the latest analysis scan reported of the stream (Read EVO keeps
  // the first time stamp of the feature's first file). Left alone by
  // resetSlots(): the Demux's scans do not touch it.
  StreamRecord record;
  // Audio, over the files of the latest Read EVO or Demux: the LPCM format
  // that the first packet of the slot's stream gave, and the first packet
  // that gave another one.
  std::optional<LpcmFormat> lpcmFormat;
  std::optional<LpcmFormatChange> lpcmFormatChange;
};

struct ScanState {
  ScanState();

  // The read buffer: one page-aligned allocation for the life of the program.
  AlignedBytes PackBuffer;

  std::optional<InputFile> InputStream;

  // The slot tables, indexed by slot.
  std::array<SlotState, 16> VideoSlots;
  std::array<SlotState, 16> AudioSlots;
  std::array<SlotState, 32> SubpictureSlots;

  // The streams left out by the latest scan, in the order they were met,
  // and the same by id: PES stream ids (with the VC-1 stream_id_extension
  // values, which never meet them) and private-stream-1 substream ids.
  std::vector<LeftOutStream> leftOut;
  std::array<bool, 256> leftOutStreamIds{};
  std::array<bool, 256> leftOutSubstreamIds{};

  // How the latest loop ended. The user's request to stop is not kept here:
  // the loops ask their run report for it.
  ScanStop scanStop = ScanStop::None;
  // The latest loop stopped early, by Cancel or by the fast-check limit: the
  // run goes on into no second file.
  bool CancelRequested() const { return scanStop != ScanStop::None; }
  bool ExtractionRunning = false;
  std::uint32_t EarliestPts = 0;
  std::array<std::uint32_t, 23> Ac3RateTable{};

  // The slot of a stream by its place.
  SlotState& slot(StreamSlot s);
  const SlotState& slot(StreamSlot s) const;
  // The three slot tables, video, audio, subpicture.
  std::array<std::span<SlotState>, 3> slotTables();
  std::array<std::span<const SlotState>, 3> slotTables() const;

  void resetLpcmFormats();
  void resetVideoFrameCounts();

  void fillAc3RateTable();
  // Frees every slot for a new scan and forgets what the latest one left out
  // and reported; the records, the LPCM formats and the frame counts stay.
  void resetSlots();
  // The video size that Read EVO's details reported for the first video
  // stream; 1920x1080 when they told none.
  VideoSize videoSize() const;

  // Flushes and closes every open output (a PGS converter first shows its
  // last caption's end); the first error is rethrown after all of them have
  // been closed.
  void closeOutputs();
  // As closeOutputs(), for a run that already fails: its error is the one
  // the user sees, not a later one of closing.
  void closeOutputsQuietly();
};

}  // namespace tarnwick
