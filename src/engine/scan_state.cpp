#include "engine/scan_state.h"

#include <cstdio>
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
  leftOut.clear();
  SubpictureTimeClamped = {};
  LeftOutStreamIds = {};
  LeftOutSubstreamIds = {};
}

std::optional<OutputFile>& ScanState::output(StreamSlot s) {
  const auto k = static_cast<std::size_t>(s.slot);
  switch (s.streamClass) {
    case StreamClass::Video: return videoOutputs.at(k);
    case StreamClass::Audio: return audioOutputs.at(k);
    default: return subpictureOutputs.at(k);
  }
}

std::int32_t ScanState::slotId(StreamSlot s) const {
  const auto k = static_cast<std::size_t>(s.slot);
  switch (s.streamClass) {
    case StreamClass::Video: return VideoSlots.at(k);
    case StreamClass::Audio: return AudioSlots.at(k);
    default: return SubpictureSlots.at(k);
  }
}

const StreamRecord& ScanState::record(StreamSlot s) const {
  const auto k = static_cast<std::size_t>(s.slot);
  switch (s.streamClass) {
    case StreamClass::Video: return videoRecords.at(k);
    case StreamClass::Audio: return audioRecords.at(k);
    default: return subpictureRecords.at(k);
  }
}

std::optional<LpcmFormat> ScanState::lpcmFormat(int slot) const {
  return lpcmFormats.at(static_cast<std::size_t>(slot));
}

const std::optional<LpcmFormatChange>& ScanState::lpcmFormatChange(int slot) const {
  return lpcmFormatChanges.at(static_cast<std::size_t>(slot));
}

void ScanState::resetLpcmFormats() {
  lpcmFormats = {};
  lpcmFormatChanges = {};
}

void ScanState::closeOutputsQuietly() {
  for (auto& converter : pgsConverters) converter.reset();
  try {
    closeOutputs();
  } catch (const FileError&) {
  }
}

VideoSize ScanState::videoSize() const {
  for (const StreamRecord& record : videoRecords)
    for (const std::string& line : record.details) {
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
  for (std::size_t k = 0; k < pgsConverters.size(); ++k) {
    std::unique_ptr<PgsConverter>& converter = pgsConverters[k];
    if (!converter) continue;
    try {
      converter->finish();
      pgsTallies[k] = PgsTally{converter->captionsWritten(), converter->unitsSkipped(), converter->blankUnits()};
    } catch (...) {
      if (!first) first = std::current_exception();
    }
    converter.reset();
  }
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
  if (first) std::rethrow_exception(first);
}

}  // namespace tarnwick
