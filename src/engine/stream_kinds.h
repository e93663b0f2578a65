#pragma once
// The kinds of stream the program knows, one row each: where their ids lie,
// which slot an id takes, and every name a kind goes by (the scanner's found
// line, the box caption, the Matroska track name, the rebuild's log).
// Adding a kind means adding a row here.

#include <array>
#include <cstdint>
#include <optional>

#include "analysers/codes.h"

namespace tarnwick {

enum class StreamClass { Video, Audio, Subpicture };

// Where an id is read: a PES stream_id, the stream_id_extension of the
// extended stream id, or the first payload byte of private stream 1.
enum class IdField : std::uint8_t { StreamId, Extension, Substream };

enum class StreamKind : std::uint8_t {
  Mpeg2Video,
  H264Video,
  Vc1Video,
  DolbyDigital,
  Dts,
  DolbyDigitalPlus,
  Lpcm,
  TrueHd,
  Subpicture,
  ExtendedSubpicture,
  MpegAudio,
};

struct StreamKindRow {
  StreamKind kind;
  StreamClass streamClass;
  IdField field;
  // The kind's ids; the first `slotCount` of them take slot id − first, the rest
  // are of the kind but in no slot (VC-1 beyond the two that boxes hold).
  std::uint8_t first;
  std::uint8_t last;
  std::uint8_t slotCount;
  // Unticked streams of this kind up to this id are renumbered by the
  // rebuild as if ticked; 0: only the streams a box holds are.
  std::uint8_t renumberedUpTo;
  std::optional<AudioKind> audioKind;
  // The scanner's "… N found!" line, before the slot number.
  const char* foundPrefix;
  // The box caption before ".NN" and the output file's name part.
  const char* caption;
  // The Matroska track name when the playlist gives none.
  const char* trackWord;
  // The rebuild log's name of the kind.
  const char* logName;
};

// MPEG audio is named only in the rebuild's log: no box holds it.
inline constexpr std::array<StreamKindRow, 11> kStreamKinds{{
    {StreamKind::Mpeg2Video, StreamClass::Video, IdField::StreamId, 0xE0, 0xE1, 2, 0xE1, std::nullopt,
     "MPEG-2 video stream ", "MPEG-2.stream", "MPEG-2", "MPEG-2 video"},
    {StreamKind::H264Video, StreamClass::Video, IdField::StreamId, 0xE2, 0xE3, 2, 0xE3, std::nullopt,
     "H.264 video stream ", "H.264.stream", "H.264", "H.264 video"},
    {StreamKind::Vc1Video, StreamClass::Video, IdField::Extension, 0x55, 0x5F, 2, 0x5F, std::nullopt,
     "[b]VC-1[/b] video stream ", "VC-1.stream", "VC-1", "VC-1 video"},
    {StreamKind::DolbyDigital, StreamClass::Audio, IdField::Substream, 0x80, 0x87, 8, 0, AudioKind::DolbyDigital,
     "[b]Dolby Digital[/b] audio stream ", "DD.stream", "DD", "Dolby Digital"},
    // The boxes call it DTSHD: the first packet's core header cannot tell a
    // core-only stream from one with an HD extension.
    {StreamKind::Dts, StreamClass::Audio, IdField::Substream, 0x88, 0x8F, 8, 0x8F, AudioKind::Dts,
     "[b]DTS HD (DTS)[/b] audio stream ", "DTSHD.stream", "DTS-HD", "DTS"},
    {StreamKind::DolbyDigitalPlus, StreamClass::Audio, IdField::Substream, 0xC0, 0xCF, 16, 0xC8,
     AudioKind::DolbyDigitalPlus, "[b]Dolby Digital[/b] Plus audio stream ", "DD+.stream", "DD+",
     "Dolby Digital Plus"},
    {StreamKind::Lpcm, StreamClass::Audio, IdField::Substream, 0xA0, 0xA7, 8, 0, AudioKind::Lpcm,
     "[b]LPCM[/b] audio stream ", "LPCM.stream", "LPCM", "LPCM"},
    {StreamKind::TrueHd, StreamClass::Audio, IdField::Substream, 0xB0, 0xB7, 8, 0, AudioKind::TrueHd,
     "[b]Dolby TrueHD (MLP)[/b] audio stream ", "MLP.stream", "TrueHD", "Dolby TrueHD"},
    {StreamKind::Subpicture, StreamClass::Subpicture, IdField::Substream, 0x20, 0x3F, 32, 0x2F, std::nullopt,
     "[b]Subpicture[/b] stream ", "Subpicture", "Subtitle", "Subpicture"},
    {StreamKind::ExtendedSubpicture, StreamClass::Subpicture, IdField::Substream, 0x60, 0x7F, 32, 0, std::nullopt,
     "[b]Extended subpicture[/b] stream ", "Ext.Subpicture", "Subtitle", "Subpicture"},
    {StreamKind::MpegAudio, StreamClass::Audio, IdField::StreamId, 0xC0, 0xDF, 0, 0xDF, std::nullopt, "", "", "",
     "MPEG audio"},
}};

constexpr const StreamKindRow& kindRow(StreamKind kind) { return kStreamKinds[static_cast<std::size_t>(kind)]; }
constexpr bool rowsInKindOrder() {
  for (std::size_t n = 0; n < kStreamKinds.size(); ++n)
    if (static_cast<std::size_t>(kStreamKinds[n].kind) != n) return false;
  return true;
}
static_assert(rowsInKindOrder(), "kindRow indexes the table by kind");

namespace detail {
// Per id space, the row of each id (−1: none), so that a packet header costs
// one index.
constexpr std::array<std::int8_t, 256> rowsOf(IdField field) {
  std::array<std::int8_t, 256> rows{};
  rows.fill(-1);
  for (std::size_t n = 0; n < kStreamKinds.size(); ++n) {
    const StreamKindRow& row = kStreamKinds[n];
    if (row.field != field) continue;
    for (unsigned id = row.first; id <= row.last; ++id) rows[id] = static_cast<std::int8_t>(n);
  }
  return rows;
}
inline constexpr std::array<std::array<std::int8_t, 256>, 3> kRowOfId{
    rowsOf(IdField::StreamId), rowsOf(IdField::Extension), rowsOf(IdField::Substream)};
}  // namespace detail

// The kind of an id in its space, or null.
constexpr const StreamKindRow* kindOf(IdField field, std::uint32_t id) {
  if (id > 0xFF) return nullptr;
  const std::int8_t n = detail::kRowOfId[static_cast<std::size_t>(field)][id];
  return n < 0 ? nullptr : &kStreamKinds[static_cast<std::size_t>(n)];
}
// The slot of an id of the row, or −1 when the kind has no slot for it.
constexpr int slotIn(const StreamKindRow& row, std::uint32_t id) {
  const auto at = static_cast<int>(id) - row.first;
  return at >= 0 && at < row.slotCount ? at : -1;
}

// The kind of a slot table entry of the class (an id the scanner put in a
// slot), or null for −1 or an id of no slot of that class.
constexpr const StreamKindRow* slotKind(StreamClass c, std::int32_t id) {
  if (id < 0) return nullptr;
  const auto u = static_cast<std::uint32_t>(id);
  const StreamKindRow* row = nullptr;
  switch (c) {
    case StreamClass::Video:
      row = kindOf(IdField::Extension, u);
      if (row == nullptr || slotIn(*row, u) < 0) row = kindOf(IdField::StreamId, u);
      break;
    default: row = kindOf(IdField::Substream, u); break;
  }
  return row != nullptr && row->streamClass == c && slotIn(*row, u) >= 0 ? row : nullptr;
}

}  // namespace tarnwick
