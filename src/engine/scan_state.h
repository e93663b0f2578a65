#pragma once
// The state shared by the commands, the scanner, the analysers and the writer.
// One instance lives in TfMain for the life of the program.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
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

struct ScanState {
  ScanState();

  // The read buffer: one page-aligned allocation for the life of the program.
  AlignedBytes PackBuffer;

  std::optional<InputFile> InputStream;
  std::array<std::optional<OutputFile>, kAudioOutputs> audioOutputs;
  std::array<std::optional<OutputFile>, kSubpictureOutputs> subpictureOutputs;
  std::array<std::optional<OutputFile>, kVideoOutputs> videoOutputs;
  // With PGS chosen, a subpicture output is written through its converter.
  std::array<std::unique_ptr<PgsConverter>, kSubpictureOutputs> pgsConverters;
  // Each converter's tally, kept by closeOutputs() when it finishes.
  std::array<std::optional<PgsTally>, kSubpictureOutputs> pgsTallies;

  std::array<std::int32_t, 16> VideoSlots{};
  std::array<std::int32_t, 16> AudioSlots{};
  std::array<std::int32_t, 32> SubpictureSlots{};
  std::array<bool, 16> AudioReported{};
  std::array<bool, 2> VideoReported{};
  std::array<bool, 16> SubpictureReported{};

  // The streams left out by the latest scan, in the order they were met,
  // and the same by id: PES stream ids (with the VC-1 stream_id_extension
  // values, which never meet them) and private-stream-1 substream ids.
  std::vector<LeftOutStream> leftOut;
  std::array<bool, 256> LeftOutStreamIds{};
  std::array<bool, 256> LeftOutSubstreamIds{};

  // A subpicture time stamp before EarliestPts was written as 0 and logged,
  // by subpicture slot, in this scan.
  std::array<bool, 32> SubpictureTimeClamped{};

  // How the latest loop ended. The user's request to stop is not kept here:
  // the loops ask their run report for it.
  ScanStop scanStop = ScanStop::None;
  // The latest loop stopped early, by Cancel or by the fast-check limit: the
  // run goes on into no second file.
  bool CancelRequested() const { return scanStop != ScanStop::None; }
  bool ExtractionRunning = false;
  std::array<std::int32_t, 2> VideoFrameCounts{};
  std::uint32_t EarliestPts = 0;
  std::array<std::uint32_t, 23> Ac3RateTable{};

  // Last four bytes seen by the frame counter per video slot, carried from one
  // payload run to the next within a scan so a split marker counts once.
  std::array<std::uint32_t, 2> FrameCountWindow{};

  // LPCM, by audio slot, over the files of the latest Read EVO or Demux: the
  // format that the first packet of the slot's stream gave, and the first
  // packet that gave another one.
  std::array<std::optional<LpcmFormat>, kAudioOutputs> lpcmFormats;
  std::array<std::optional<LpcmFormatChange>, kAudioOutputs> lpcmFormatChanges;

  // Per-stream report of the latest analysis scan.
  std::array<StreamRecord, 2> videoRecords;
  std::array<StreamRecord, 16> audioRecords;
  std::array<StreamRecord, 32> subpictureRecords;

  // The output of a stream, its slot table entry and its report. An open
  // output is what selects a stream for the writer and the frame counter.
  std::optional<OutputFile>& output(StreamSlot s);
  std::int32_t slotId(StreamSlot s) const;
  const StreamRecord& record(StreamSlot s) const;

  // The LPCM format of audio slot `slot`, when an LPCM stream owns it.
  std::optional<LpcmFormat> lpcmFormat(int slot) const;
  // Where that stream first changes its format, if it does.
  const std::optional<LpcmFormatChange>& lpcmFormatChange(int slot) const;
  void resetLpcmFormats();

  void fillAc3RateTable();
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
