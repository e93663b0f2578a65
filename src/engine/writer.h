#pragma once
// The elementary stream writer: appends payload runs to the selected outputs,
// framing subpictures as "SP" records.

#include <cstdint>

#include "analysers/codes.h"
#include "engine/scan_state.h"

namespace tarnwick {

// What the writer needs of the scanner's registers for one payload run.
struct PayloadContext {
  PayloadKind kind = PayloadKind::NoPacket;
  std::int32_t videoSlot = -1;
  std::int32_t audioSlot = -1;
  std::int32_t subpictureSlot = -1;
  // The scanner's CurrentPts; the writer rebases it and clears it once a
  // record header has been written.
  std::uint32_t* currentPts = nullptr;
  // Set while the current packet's own PES header carried a (nonzero) PTS and
  // no record header has been written for it: only then may a record start.
  bool* recordPending = nullptr;
};

// Writes buffer[position, position + count) for the selected stream of ctx.
void writePayload(ScanState& state, const PayloadContext& ctx, std::int32_t position, std::int32_t count);

// The 10-byte subpicture record header for a presentation time.
void makeSubpictureRecordHeader(std::uint32_t time, std::uint8_t out[10]);

}  // namespace tarnwick
