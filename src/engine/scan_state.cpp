#include "engine/scan_state.h"

#include <exception>

namespace tarnwick {

ScanState::ScanState() : PackBuffer(allocateAligned(kPackBufferSize)) { resetSlots(); }

void ScanState::fillAc3RateTable() {
  // Sampling rates by fscod, then bit rates by frmsizecod / 2 (ATSC A/52 Tables 5.6, 5.18).
  Ac3RateTable = {48000,  44100,  32000,  0,      32000,  40000,  48000,  56000,
                  64000,  80000,  96000,  112000, 128000, 160000, 192000, 224000,
                  256000, 320000, 384000, 448000, 512000, 576000, 640000};
}

void ScanState::resetSlots() {
  VideoSlots.fill(-1);
  AudioSlots.fill(-1);
  SubpictureSlots.fill(-1);
  AudioReported = {};
  VideoReported = {};
  SubpictureReported = {};
}

void ScanState::clearSelection() {
  videoSelected = {};
  audioSelected = {};
  subpictureSelected = {};
}

void ScanState::closeOutputs() {
  std::exception_ptr first;
  auto closeAll = [&](auto& outputs) {
    for (auto& out : outputs) {
      if (!out) continue;
      try {
        out->close();
      } catch (...) {
        if (!first) first = std::current_exception();
      }
      out.reset();
    }
  };
  closeAll(videoOutputs);
  closeAll(audioOutputs);
  closeAll(subpictureOutputs);
  clearSelection();
  if (first) std::rethrow_exception(first);
}

}  // namespace tarnwick
