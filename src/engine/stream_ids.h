#pragma once
// Stream ids and what they stand for: the outputs, the PES ids, and the
// questions about an id that the scanner, the writer, the rebuild, the stream
// lists and the reports ask, answered from the table of stream kinds
// (stream_kinds.h), which holds every kind's ids and names.

#include <cstdint>
#include <optional>
#include <string>

#include "analysers/codes.h"
#include "engine/stream_kinds.h"

namespace tarnwick {

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

// The id predicates, read off the table of stream kinds.
constexpr bool isKind(IdField field, std::uint32_t id, StreamKind kind) {
  const StreamKindRow* row = kindOf(field, id);
  return row != nullptr && row->kind == kind;
}
// MPEG-2 video 0xE0-0xE1 and H.264 0xE2-0xE3: slot id & 1.
constexpr bool isMpegVideoId(std::uint32_t id) {
  return isKind(IdField::StreamId, id, StreamKind::Mpeg2Video) || isKind(IdField::StreamId, id, StreamKind::H264Video);
}
constexpr bool isH264Id(std::uint32_t id) { return isKind(IdField::StreamId, id, StreamKind::H264Video); }
// VC-1 video: the extensions that boxes hold, and those beyond them
// (ISO/IEC 13818-1 Table 2-27: stream_id_extension 0x55-0x5F is VC-1 video).
constexpr bool isVc1Extension(std::uint32_t x) {
  return isKind(IdField::Extension, x, StreamKind::Vc1Video) && slotIn(kindRow(StreamKind::Vc1Video), x) >= 0;
}
constexpr bool isUnboxedVc1Extension(std::uint32_t x) {
  return isKind(IdField::Extension, x, StreamKind::Vc1Video) && slotIn(kindRow(StreamKind::Vc1Video), x) < 0;
}
// MPEG audio 0xC0-0xDF: no box holds it.
constexpr bool isMpegAudioId(std::uint32_t id) { return isKind(IdField::StreamId, id, StreamKind::MpegAudio); }

// The audio kind of a private-stream-1 substream id, if the scanner accepts it.
constexpr std::optional<AudioKind> audioKindOf(std::uint32_t id) {
  const StreamKindRow* row = kindOf(IdField::Substream, id);
  return row != nullptr ? row->audioKind : std::nullopt;
}
// Dolby Digital, DTS and Dolby TrueHD share slots 0-7; Dolby Digital Plus
// takes 0-15, LPCM 0-7 (the offset from the kind's first id).
constexpr int audioSlotOf(AudioKind, std::uint32_t id) {
  const StreamKindRow* row = kindOf(IdField::Substream, id);
  return row != nullptr ? slotIn(*row, id) : -1;
}
// Subpicture 0x20-0x3F and extended subpicture 0x60-0x7F: slot id & 0x1F.
constexpr bool isSubpictureId(std::uint32_t id) {
  const StreamKindRow* row = kindOf(IdField::Substream, id);
  return row != nullptr && row->streamClass == StreamClass::Subpicture;
}
constexpr bool isExtendedSubpictureId(std::uint32_t id) {
  return isKind(IdField::Substream, id, StreamKind::ExtendedSubpicture);
}
constexpr int subpictureSlotOf(std::uint32_t id) { return static_cast<int>(id & 0x1F); }

// The kind words of a slot table entry: the stem of a box's caption and of
// its output file name ("DD+.stream"), or the empty box's caption.
std::string VideoKindName(std::int32_t id);
std::string AudioKindName(std::int32_t id);
std::string SubpictureKindName(std::int32_t id);
std::string kindName(StreamClass streamClass, std::int32_t id);

}  // namespace tarnwick
