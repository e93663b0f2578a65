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

}  // namespace

std::string streamKindName(StreamSlot slot, const ScanState& scan) {
  const StreamKindRow* row = slotKind(slot.streamClass, scan.slot(slot).id);
  switch (slot.streamClass) {
    case StreamClass::Video: return row != nullptr ? row->trackWord : "Video";
    case StreamClass::Subpicture:
      return std::string(row != nullptr ? row->trackWord : "Subtitle") + " " + std::to_string(slot.slot + 1);
    case StreamClass::Audio: break;
  }
  std::string name = row != nullptr ? row->trackWord : "Audio";
  const AudioChannels channels = scan.slot(slot).record.channels;
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
