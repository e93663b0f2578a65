#pragma once
// The EVO rebuild: a copy of the open input, pack by pack, that leaves out the
// packets of unticked streams (a pack with nothing else goes; in one that
// stays they become padding), gives the kept streams new consecutive numbers
// per class in the order they first occur, each in a box of its own, and sets
// the system header's stream bounds from the ticked boxes.

#include <array>
#include <cstdint>
#include <string>

#include "engine/run_report.h"
#include "engine/run_request.h"
#include "engine/scan_state.h"

namespace tarnwick {

constexpr std::size_t kPackSize = 2048;
// A map entry with no new id yet. It is never written into a pack.
constexpr std::uint8_t kNoId = 0xFF;

// Reset once per command and carried across both files of a split feature,
// so that a stream keeps its new id in the second file.
struct RebuildState {
  RebuildState() { reset(); }
  void reset();

  // New id by source id, kNoId while none is assigned. Stream ids (byte 17 of
  // the pack, and the VC-1 stream_id_extension, whose values never meet the
  // stream ids') and private-stream-1 substream ids are separate id spaces:
  // MPEG audio stream 0xC0 and Dolby Digital Plus substream 0xC0 are two
  // streams.
  std::array<std::uint8_t, 256> StreamIdMap{};
  std::array<std::uint8_t, 256> SubstreamIdMap{};
  std::uint8_t NextVideoNumber = 0;
  std::uint8_t NextAudioNumber = 0;
  std::uint8_t NextSubpictureNumber = 0;

  // What became of each source id once its first pack was seen, and which
  // ids the output already carries (for the collision test of the kinds
  // renumbered within their own range).
  enum class Fate : std::uint8_t { Undecided, Drop, Keep };
  std::array<Fate, 256> streamFate{};
  std::array<Fate, 256> substreamFate{};
  std::array<bool, 256> streamHeld{};
  std::array<bool, 256> substreamHeld{};
  // Which slots of the rebuilt file the kept streams fill (video 0-1, audio
  // 0-15, subpicture 0-31), so that each reads back in a box of its own.
  std::array<std::array<bool, 32>, 3> outputSlotHeld{};
  bool& slotHeld(StreamSlot s) {
    return outputSlotHeld[static_cast<std::size_t>(s.streamClass)][static_cast<std::size_t>(s.slot)];
  }
  bool slotHeld(StreamSlot s) const {
    return outputSlotHeld[static_cast<std::size_t>(s.streamClass)][static_cast<std::size_t>(s.slot)];
  }

  // Where the renumberings and the streams left out are logged, if anywhere.
  LogSink* log = nullptr;
};

// What one pack became.
enum class PackResult : std::uint8_t {
  Skip,     // not a pack (no pack start code): not written
  Drop,     // every packet belongs to a stream left out
  Keep,     // written as read
  Changed,  // written with an id, a bound or a packet left out rewritten
};

// Decides one 2048-byte pack (fewer bytes for a pack cut short by the end of
// the file) and rewrites its ids, bounds and left-out packets in place. The
// slot tables are those of `state` as the last Read EVO left them.
PackResult rebuildPack(std::uint8_t* pack, std::size_t length, RebuildState& rebuild, const ScanState& state,
                       const StreamSelection& selection);

// Copies state.InputStream from its position to its end (or to a cancel
// request, seen at the 4 MiB progress points) into state.VideoSlots[0].output.
// The selection is the one the command began with, for its whole run.
void Rebuild(ScanState& state, RebuildState& rebuild, const StreamSelection& selection, RunReport& report);

// The Rebuild command: NAME.rebuilt.EVO at outputPath (never over an input)
// from the input and its second file, with the chosen streams only.
Outcome rebuildEvo(ScanState& state, const RunInput& input, const StreamSelection& selection,
                   const std::string& outputPath, RunReport& report);

}  // namespace tarnwick
