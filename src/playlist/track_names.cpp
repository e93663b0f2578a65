#include "playlist/track_names.h"

#include "engine/utf8.h"
#include "playlist/chapters.h"

namespace tarnwick {
namespace {

// A playlist text as a Matroska name: decoded, valid UTF-8, on one line and
// without the blanks around it, which a player would show.
std::string nameText(std::string_view raw) {
  std::string text = validUtf8(xmlText(raw));
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string audioKindWord(std::int32_t id) {
  const std::optional<AudioKind> kind = id < 0 ? std::nullopt : audioKindOf(static_cast<std::uint32_t>(id));
  if (!kind) return "Audio";
  switch (*kind) {
    case AudioKind::DolbyDigital: return "DD";
    case AudioKind::DolbyDigitalPlus: return "DD+";
    // The kind the boxes call DTSHD: the first packet's core header cannot
    // tell a core-only stream from one with an HD extension.
    case AudioKind::Dts: return "DTS-HD";
    case AudioKind::Lpcm: return "LPCM";
    case AudioKind::TrueHd: return "TrueHD";
  }
  return "Audio";
}

std::string videoKindWord(std::int32_t id) {
  if (id < 0) return "Video";
  const auto u = static_cast<std::uint32_t>(id);
  if (isVc1Extension(u)) return "VC-1";
  if (isH264Id(u)) return "H.264";
  if (isMpegVideoId(u)) return "MPEG-2";
  return "Video";
}

}  // namespace

std::string streamKindName(StreamSlot slot, const ScanState& scan) {
  const std::int32_t id = scan.slotId(slot);
  switch (slot.streamClass) {
    case StreamClass::Video: return videoKindWord(id);
    case StreamClass::Subpicture: return "Subtitle " + std::to_string(slot.slot + 1);
    case StreamClass::Audio: break;
  }
  std::string name = audioKindWord(id);
  const AudioChannels channels = scan.record(slot).channels;
  if (channels.fullBand > 0) name += " " + std::to_string(channels.fullBand) + (channels.lfe ? ".1" : ".0");
  return name;
}

MkvTrackLabel mkvTrackLabel(StreamSlot slot, const ScanState& scan, const XplTitle& playlist) {
  MkvTrackLabel label;
  if (playlist.found) {
    for (const XplTrack& track : playlist.tracks) {
      if (trackSlot(track) != slot) continue;
      label.name = nameText(track.description);
      label.language = track.language;
      break;
    }
  }
  if (label.name.empty()) label.name = streamKindName(slot, scan);
  return label;
}

std::string mkvTitle(const XplTitle& playlist) { return playlist.found ? nameText(playlist.name) : std::string(); }

}  // namespace tarnwick
