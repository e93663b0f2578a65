#include "engine/scan_state.h"

#include <cstdio>
#include <exception>
#include <utility>

namespace tarnwick {

ScanState::ScanState() : PackBuffer(allocateAligned(kPackBufferSize)) { resetSlots(); }

void ScanState::fillAc3RateTable() {
  // Sampling rates by fscod, then bit rates by frmsizecod / 2 (ATSC A/52 Tables 5.6, 5.18).
  Ac3RateTable = {48000,  44100,  32000,  0,      32000,  40000,  48000,  56000,
                  64000,  80000,  96000,  112000, 128000, 160000, 192000, 224000,
                  256000, 320000, 384000, 448000, 512000, 576000, 640000};
}

void ScanState::resetSlots() {
  for (std::span<SlotState> table : slotTables())
    for (SlotState& slot : table) {
      slot.id = -1;
      slot.Reported = false;
      slot.timeClamped = false;
    }
  leftOut.clear();
  leftOutStreamIds = {};
  leftOutSubstreamIds = {};
}

SlotState& ScanState::slot(StreamSlot s) {
  return const_cast<SlotState&>(std::as_const(*this).slot(s));
}

const SlotState& ScanState::slot(StreamSlot s) const {
  const auto k = static_cast<std::size_t>(s.slot);
  switch (s.streamClass) {
    case StreamClass::Video: return VideoSlots.at(k);
    case StreamClass::Audio: return AudioSlots.at(k);
    default: return SubpictureSlots.at(k);
  }
}

std::array<std::span<SlotState>, 3> ScanState::slotTables() {
  return {std::span<SlotState>(VideoSlots), std::span<SlotState>(AudioSlots), std::span<SlotState>(SubpictureSlots)};
}

std::array<std::span<const SlotState>, 3> ScanState::slotTables() const {
  return {std::span<const SlotState>(VideoSlots), std::span<const SlotState>(AudioSlots),
          std::span<const SlotState>(SubpictureSlots)};
}

void ScanState::resetLpcmFormats() {
  for (SlotState& slot : AudioSlots) {
    slot.lpcmFormat.reset();
    slot.lpcmFormatChange.reset();
  }
}

void ScanState::resetVideoFrameCounts() {
  for (SlotState& slot : VideoSlots) slot.VideoFrameCounts = 0;
}

void ScanState::closeOutputsQuietly() {
  for (SlotState& slot : SubpictureSlots) slot.pgsConverter.reset();
  try {
    closeOutputs();
  } catch (const FileError&) {
  }
}

VideoSize ScanState::videoSize() const {
  for (int n = 0; n < kVideoOutputs; ++n)
    for (const std::string& line : VideoSlots[static_cast<std::size_t>(n)].record.details) {
      // "   Size = 1920x1080" (VC-1), "   size = 720x576" (MPEG-2)
      const std::size_t at = line.find("ize = ");
      int width = 0, height = 0;
      if (at != std::string::npos && std::sscanf(line.c_str() + at + 6, "%dx%d", &width, &height) == 2 &&
          width > 0 && height > 0 && width <= 8192 && height <= 8192)
        return {width, height};
    }
  return {};
}

void ScanState::closeOutputs() {
  std::exception_ptr first;
  for (SlotState& slot : SubpictureSlots) {
    std::unique_ptr<PgsConverter>& converter = slot.pgsConverter;
    if (!converter) continue;
    try {
      converter->finish();
      slot.pgsTally = PgsTally{converter->captionsWritten(), converter->unitsSkipped(), converter->blankUnits()};
    } catch (...) {
      if (!first) first = std::current_exception();
    }
    converter.reset();
  }
  for (std::span<SlotState> table : slotTables())
    for (SlotState& slot : table) {
      std::optional<OutputFile>& out = slot.output;
      if (!out) continue;
      try {
        out->close();
      } catch (...) {
        if (!first) first = std::current_exception();
      }
      out.reset();
    }
  if (first) std::rethrow_exception(first);
}

}  // namespace tarnwick
