#include "engine/writer.h"

#include <string>

#include "analysers/number_format.h"

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
      if (ctx.videoSlot >= 0 && ctx.videoSlot < kVideoOutputs && state.VideoSlots[ctx.videoSlot].output)
        state.VideoSlots[ctx.videoSlot].output->write(data, n);
      break;
    case PayloadKind::Audio:
      if (ctx.audioSlot >= 0 && ctx.audioSlot < kAudioOutputs && state.AudioSlots[ctx.audioSlot].output)
        state.AudioSlots[ctx.audioSlot].output->write(data, n);
      break;
    case PayloadKind::Subpicture: {
      std::uint32_t& pts = *ctx.currentPts;
      const int k = ctx.subpictureSlot;
      // A time before the one the outputs measure from is written as 0: a
      // wrapped difference would put the subpicture 13 hours late.
      // (An EarliestPts still at its start value means no time stamp was
      // seen: the times are the PTS plus one, as they always were.)
      const bool early = pts != 0 && pts < state.EarliestPts && state.EarliestPts != 0xFFFFFFFF;
      const std::uint32_t original = pts;
      if (pts != 0) pts = early ? 0 : pts - state.EarliestPts;
      if (k < 0 || k >= kSubpictureOutputs || !state.SubpictureSlots[k].output) break;
      SlotState& slot = state.SubpictureSlots[static_cast<std::size_t>(k)];
      if (PgsConverter* pgs = slot.pgsConverter.get()) {
        // The converter keeps its own time line and record boundaries.
        pgs->feed(data, n, *ctx.recordPending, original);
        *ctx.recordPending = false;
        pts = 0;
        break;
      }
      if (early && !slot.timeClamped && ctx.log != nullptr) {
        slot.timeClamped = true;
        ctx.log->log("Subpicture stream " + std::to_string(k) + ": time stamp " + formatHex(original, 8) + " lies before " +
                     formatHex(state.EarliestPts, 8) + ", the start of the outputs; written as 0.");
      }
      OutputFile& out = *slot.output;
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
