#include "engine/writer.h"

namespace tarnwick {

void makeSubpictureRecordHeader(std::uint32_t time, std::uint8_t out[10]) {
  out[0] = 'S';
  out[1] = 'P';
  for (int i = 0; i < 4; ++i) out[2 + i] = static_cast<std::uint8_t>(time >> (8 * i));  // little-endian
  for (int i = 6; i < 10; ++i) out[i] = 0;  // a second time field, always zero
}

void writePayload(ScanState& state, const PayloadContext& ctx, std::int32_t position, std::int32_t count) {
  if (count < 0) return;
  const std::uint8_t* data = state.PackBuffer.get() + position;
  const auto n = static_cast<std::size_t>(count);
  switch (ctx.kind) {
    case PayloadKind::Video:
      if (ctx.videoSlot >= 0 && ctx.videoSlot < kVideoOutputs && state.videoSelected[ctx.videoSlot] &&
          state.videoOutputs[ctx.videoSlot])
        state.videoOutputs[ctx.videoSlot]->write(data, n);
      break;
    case PayloadKind::Audio:
      if (ctx.audioSlot >= 0 && ctx.audioSlot < kAudioOutputs && state.audioSelected[ctx.audioSlot] &&
          state.audioOutputs[ctx.audioSlot])
        state.audioOutputs[ctx.audioSlot]->write(data, n);
      break;
    case PayloadKind::Subpicture: {
      std::uint32_t& pts = *ctx.currentPts;
      if (pts != 0) pts -= state.EarliestPts;  // modulo 2^32
      const int k = ctx.subpictureSlot;
      if (k < 0 || k >= kSubpictureOutputs || !state.subpictureSelected[k] || !state.subpictureOutputs[k]) break;
      OutputFile& out = *state.subpictureOutputs[k];
      // A packet with its own time stamp starts a record even when the rebased
      // time is 0 (a subpicture at the very start), so records never merge.
      if (*ctx.recordPending) {
        std::uint8_t header[10];
        makeSubpictureRecordHeader(pts, header);
        pts = 0;
        *ctx.recordPending = false;
        out.write(header, sizeof header);
      }
      out.write(data, n);
      break;
    }
    default:
      // MPEG audio owns no slot here and is never written into another
      // stream's output; other kinds carry nothing to write.
      break;
  }
}

}  // namespace tarnwick
