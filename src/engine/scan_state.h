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

namespace tarnwick {

constexpr std::size_t kPackBufferSize = 0x40000;
constexpr int kVideoOutputs = 2;
constexpr int kAudioOutputs = 16;
constexpr int kSubpictureOutputs = 16;

enum class ScanMode : std::uint8_t { Analysis = 0, Extraction = 1 };

// What Read EVO learnt about one stream, for reports such as `read --json`.
struct StreamRecord {
  bool found = false;
  std::int32_t streamId = -1;
  bool hasFirstPts = false;
  std::uint32_t firstPts = 0;
  std::vector<std::string> details;  // the detail lines, tags stripped
};

struct ScanState {
  ScanState();

  // The read buffer: one page-aligned allocation for the life of the program.
  AlignedBytes PackBuffer;

  std::optional<InputFile> InputStream;
  std::array<std::optional<OutputFile>, kAudioOutputs> audioOutputs;
  std::array<std::optional<OutputFile>, kSubpictureOutputs> subpictureOutputs;
  std::array<std::optional<OutputFile>, kVideoOutputs> videoOutputs;

  std::array<std::int32_t, 16> VideoSlots{};
  std::array<std::int32_t, 16> AudioSlots{};
  std::array<std::int32_t, 32> SubpictureSlots{};
  std::array<bool, 16> AudioReported{};
  std::array<bool, 2> VideoReported{};
  std::array<bool, 16> SubpictureReported{};

  bool CancelRequested = false;
  bool ExtractionRunning = false;
  std::array<std::int32_t, 2> VideoFrameCounts{};
  std::uint32_t EarliestPts = 0;
  std::array<std::uint32_t, 23> Ac3RateTable{};

  // Last four bytes seen by the frame counter per video slot, carried from one
  // payload run to the next within a scan so a split marker counts once.
  std::array<std::uint32_t, 2> FrameCountWindow{};

  // Per-stream report of the latest analysis scan.
  std::array<StreamRecord, 2> videoRecords;
  std::array<StreamRecord, 16> audioRecords;
  std::array<StreamRecord, 32> subpictureRecords;

  // The selection that Demux took when it created the outputs; the writer
  // and the frame counter follow it, never the live check boxes.
  std::array<bool, 2> videoSelected{};
  std::array<bool, 16> audioSelected{};
  std::array<bool, 16> subpictureSelected{};

  void fillAc3RateTable();
  void resetSlots();
  void clearSelection();
  // Flushes and closes every open output; the first error is rethrown after
  // all of them have been closed.
  void closeOutputs();
};

}  // namespace tarnwick
