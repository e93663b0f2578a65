#include "app/stream_table.h"

#include <algorithm>

#include "app/stream_lists.h"

namespace tarnwick {

StreamTable::StreamTable() { reset(); }

void StreamTable::reset() {
  for (int k = 0; k < kOutputCount; ++k) {
    const StreamSlot s = outputSlot(k);
    entries_[static_cast<std::size_t>(k)] = StreamEntry{s, -1, false, false, emptyCaption(s.streamClass), {}, {}};
  }
}

void StreamTable::fillFromScan(const ScanState& scan) {
  reset();
  for (StreamEntry& entry : entries_) {
    entry.id = scan.slot(entry.slot).id;
    entry.found = entry.chosen = entry.id >= 0;
    if (entry.found) entry.caption = foundCaption(scan, entry.slot);
  }
}

void StreamTable::fillFromPlaylist(const XplTitle& title) {
  for (const XplTrack& track : title.tracks) {
    const std::optional<StreamSlot> slot = trackSlot(track);
    if (!slot || !isOutputSlot(*slot)) continue;
    StreamEntry& entry = entries_[index(*slot)];
    entry.found = entry.chosen = true;
    entry.caption = entry.label = track.label;
    entry.language = track.language;
  }
}

bool StreamTable::choose(StreamSlot s, bool chosen) {
  StreamEntry& entry = entries_[index(s)];
  if (!entry.found) return false;
  entry.chosen = chosen;
  return true;
}

bool StreamTable::chooseOnly(const std::vector<StreamSlot>& slots) {
  for (StreamSlot s : slots)
    if (!(*this)[s].found) return false;
  for (StreamEntry& entry : entries_)
    if (entry.found) entry.chosen = std::find(slots.begin(), slots.end(), entry.slot) != slots.end();
  return true;
}

bool StreamTable::anyChosen() const {
  return std::any_of(entries_.begin(), entries_.end(), [](const StreamEntry& entry) { return entry.chosen; });
}

bool StreamTable::anyChosen(StreamClass streamClass) const {
  return std::any_of(entries_.begin(), entries_.end(), [&](const StreamEntry& entry) {
    return entry.chosen && entry.slot.streamClass == streamClass;
  });
}

void StreamTable::chooseLanguages(StreamClass streamClass, const std::vector<std::string>& languages) {
  for (StreamEntry& entry : entries_)
    if (entry.found && entry.slot.streamClass == streamClass)
      entry.chosen = std::find(languages.begin(), languages.end(), entry.language) != languages.end();
}

std::vector<std::string> StreamTable::languages(StreamClass streamClass) const {
  std::vector<std::string> result;
  for (const StreamEntry& entry : entries_)
    if (entry.found && entry.slot.streamClass == streamClass &&
        std::find(result.begin(), result.end(), entry.language) == result.end())
      result.push_back(entry.language);
  return result;
}

namespace {

struct NameStem {
  StreamClass streamClass;
  std::string_view stem;
  int digits;
  int count;
};
constexpr std::array<NameStem, 3> kNameStems = {{{StreamClass::Video, "video", 1, kVideoOutputs},
                                                  {StreamClass::Audio, "audio", 2, kAudioOutputs},
                                                  {StreamClass::Subpicture, "sub", 2, kSubpictureOutputs}}};

}  // namespace

std::string entryName(StreamSlot s) {
  for (const NameStem& stem : kNameStems) {
    if (stem.streamClass != s.streamClass) continue;
    std::string number = std::to_string(s.slot);
    if (static_cast<int>(number.size()) < stem.digits) number.insert(0, stem.digits - number.size(), '0');
    return std::string(stem.stem) + number;
  }
  return {};
}

// Only the spellings entryName() gives: "audio3" or "audio003" name nothing.
std::optional<StreamSlot> parseEntryName(std::string_view name) {
  for (const NameStem& stem : kNameStems) {
    if (!name.starts_with(stem.stem)) continue;
    const std::string_view digits = name.substr(stem.stem.size());
    if (static_cast<int>(digits.size()) != stem.digits) return std::nullopt;
    int slot = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      slot = slot * 10 + (c - '0');
    }
    if (slot >= stem.count) return std::nullopt;
    return StreamSlot{stem.streamClass, slot};
  }
  return std::nullopt;
}

std::string outputName(const StreamEntry& entry, const OutputNaming& naming) {
  const StreamClass c = entry.slot.streamClass;
  const std::string& ext = c == StreamClass::Video   ? naming.videoExt
                           : c == StreamClass::Audio ? naming.audioExt
                                                     : naming.subExt;
  return demuxFileName(naming.folder, naming.baseName, entry.caption, ext);
}

StreamSelection selectionOf(const StreamTable& table, const OutputNaming* naming) {
  StreamSelection selection;
  for (const StreamEntry& entry : table.entries())
    if (entry.chosen) selection.choose(entry.slot, naming != nullptr ? outputName(entry, *naming) : std::string());
  return selection;
}

}  // namespace tarnwick
