#pragma once
// Stream ids and what they stand for: the ids the scanner accepts, the kind,
// class and slot of each, and the words that name a kind. The scanner, the
// writer, the rebuild, the stream lists and the reports all ask here.

#include <cstdint>
#include <optional>
#include <string>

#include "analysers/codes.h"

namespace tarnwick {

enum class StreamClass { Video, Audio, Subpicture };

constexpr int kVideoOutputs = 2;
constexpr int kAudioOutputs = 16;
constexpr int kSubpictureOutputs = 16;
// Every stream that can be chosen: video 0-1, audio 0-15, subpicture 0-15,
// in the order the outputs are created.
constexpr int kOutputCount = kVideoOutputs + kAudioOutputs + kSubpictureOutputs;

// A stream's place in its class.
struct StreamSlot {
  StreamClass streamClass = StreamClass::Video;
  int slot = 0;
  bool operator==(const StreamSlot&) const = default;
};

// The place of output n (0 … kOutputCount − 1) and back.
constexpr StreamSlot outputSlot(int n) {
  if (n < kVideoOutputs) return {StreamClass::Video, n};
  if (n < kVideoOutputs + kAudioOutputs) return {StreamClass::Audio, n - kVideoOutputs};
  return {StreamClass::Subpicture, n - kVideoOutputs - kAudioOutputs};
}
constexpr int outputIndex(StreamSlot s) {
  switch (s.streamClass) {
    case StreamClass::Video: return s.slot;
    case StreamClass::Audio: return kVideoOutputs + s.slot;
    default: return kVideoOutputs + kAudioOutputs + s.slot;
  }
}

// PES stream ids, ISO/IEC 13818-1 Table 2-18.
constexpr std::uint8_t kProgramStreamMapId = 0xBC;
constexpr std::uint8_t kPrivateStream1Id = 0xBD;
constexpr std::uint8_t kPaddingStreamId = 0xBE;
constexpr std::uint8_t kPrivateStream2Id = 0xBF;
constexpr std::uint8_t kSystemHeaderId = 0xBB;
constexpr std::uint8_t kExtendedStreamIdId = 0xFD;
// VC-1 video: stream_id_extension values of the extended stream id.
constexpr std::uint8_t kVc1ExtensionFirst = 0x55;
constexpr std::uint8_t kVc1ExtensionSecond = 0x56;

// MPEG-2 video 0xE0-0xE1 and H.264 0xE2-0xE3: slot id & 1.
constexpr bool isMpegVideoId(std::uint32_t id) { return id >= 0xE0 && id <= 0xE3; }
constexpr bool isH264Id(std::uint32_t id) { return id == 0xE2 || id == 0xE3; }
constexpr bool isVc1Extension(std::uint32_t x) { return x == kVc1ExtensionFirst || x == kVc1ExtensionSecond; }
// VC-1 streams beyond the two that boxes hold (ISO/IEC 13818-1 Table 2-27:
// stream_id_extension 0x55-0x5F is VC-1 video).
constexpr bool isUnboxedVc1Extension(std::uint32_t x) { return x > kVc1ExtensionSecond && x <= 0x5F; }
// MPEG audio 0xC0-0xDF: no box holds it.
constexpr bool isMpegAudioId(std::uint32_t id) { return id >= 0xC0 && id <= 0xDF; }

// The audio kind of a private-stream-1 substream id, if the scanner accepts it.
constexpr std::optional<AudioKind> audioKindOf(std::uint32_t id) {
  if (id >= 0x80 && id <= 0x87) return AudioKind::DolbyDigital;
  if (id >= 0x88 && id <= 0x8F) return AudioKind::Dts;
  if (id >= 0xC0 && id <= 0xCF) return AudioKind::DolbyDigitalPlus;
  if (id >= 0xA0 && id <= 0xA7) return AudioKind::Lpcm;
  if (id >= 0xB0 && id <= 0xB7) return AudioKind::TrueHd;
  return std::nullopt;
}
// Dolby Digital, DTS and Dolby TrueHD share slots 0-7 (id & 7); Dolby
// Digital Plus and LPCM use id & 0x0F.
constexpr int audioSlotOf(AudioKind kind, std::uint32_t id) {
  const bool eight = kind == AudioKind::DolbyDigital || kind == AudioKind::Dts || kind == AudioKind::TrueHd;
  return static_cast<int>(id & (eight ? 0x07u : 0x0Fu));
}
// Subpicture 0x20-0x3F and extended subpicture 0x60-0x7F: slot id & 0x1F.
constexpr bool isSubpictureId(std::uint32_t id) { return (id & 0xE0) == 0x20 || (id & 0xE0) == 0x60; }
constexpr bool isExtendedSubpictureId(std::uint32_t id) { return (id & 0xE0) == 0x60; }
constexpr int subpictureSlotOf(std::uint32_t id) { return static_cast<int>(id & 0x1F); }

// The kind words of a slot table entry: the stem of a box's caption and of
// its output file name ("DD+.stream"), or the empty box's caption.
std::string VideoKindName(std::int32_t id);
std::string AudioKindName(std::int32_t id);
std::string SubpictureKindName(std::int32_t id);
std::string kindName(StreamClass streamClass, std::int32_t id);

}  // namespace tarnwick
