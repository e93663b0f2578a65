#pragma once
// The streams of the input as the reads leave them: one entry per stream
// that can be chosen (video 0-1, audio 0-15, subpicture 0-15). Read EVO and
// Read XPL fill it, the user's ticks and --streams choose from it, and the
// window's boxes are a view of it. What a command writes is made from it in
// one place, selectionOf().

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_request.h"
#include "engine/scan_state.h"
#include "engine/stream_ids.h"
#include "playlist/xpl_reader.h"

namespace tarnwick {

// A slot that owns an output (video 0-1, audio 0-15, subpicture 0-15).
constexpr bool isOutputSlot(StreamSlot s) {
  const int count = s.streamClass == StreamClass::Video   ? kVideoOutputs
                    : s.streamClass == StreamClass::Audio ? kAudioOutputs
                                                          : kSubpictureOutputs;
  return s.slot >= 0 && s.slot < count;
}

struct StreamEntry {
  StreamSlot slot;
  // The id Read EVO found in the slot (−1: none, or the entry comes from
  // the playlist alone).
  std::int32_t id = -1;
  // A read found the stream (or the playlist lists it): it can be chosen.
  bool found = false;
  bool chosen = false;
  // What the box shows and the output is named after: the kind and number
  // Read EVO gives ("DD+.stream.00"), the playlist's label, or the empty
  // box's caption.
  std::string caption;
  // From the playlist: its label (also the box's hint) and language.
  std::string label;
  std::string language;
};

class StreamTable {
 public:
  StreamTable();

  // Every entry empty and not chosen.
  void reset();
  // After Read EVO: each slot holding a stream is found and chosen, named
  // by its kind; the other entries are emptied.
  void fillFromScan(const ScanState& scan);
  // After Read XPL on an emptied table: each track of the title labels its
  // entry, found and chosen.
  void fillFromPlaylist(const XplTitle& title);

  // Ticks or unticks an entry; false when nothing was found to choose.
  bool choose(StreamSlot s, bool chosen);
  // --streams: the named entries chosen, every other one not; false (and
  // nothing changed) when a named entry holds no stream.
  bool chooseOnly(const std::vector<StreamSlot>& slots);
  bool anyChosen() const;
  bool anyChosen(StreamClass streamClass) const;
  // --langs: of the found entries of a class, those in one of `languages`
  // (as languageCode() gives them) chosen, the others not.
  void chooseLanguages(StreamClass streamClass, const std::vector<std::string>& languages);
  // The languages of the found entries of a class, each once, in slot order.
  std::vector<std::string> languages(StreamClass streamClass) const;

  const StreamEntry& operator[](StreamSlot s) const { return entries_[index(s)]; }
  const std::array<StreamEntry, kOutputCount>& entries() const { return entries_; }

 private:
  static std::size_t index(StreamSlot s) { return static_cast<std::size_t>(outputIndex(s)); }
  std::array<StreamEntry, kOutputCount> entries_;
};

// An entry's name on the command line and in reports: "video0", "audio03",
// "sub12"; and back, for exactly those spellings.
std::string entryName(StreamSlot s);
std::optional<StreamSlot> parseEntryName(std::string_view name);

// How outputs are named: FOLDER BASE.CAPTION.EXT, with the extension of the
// stream's class. An empty folder gives the names alone.
struct OutputNaming {
  std::string folder;
  std::string baseName;
  std::string videoExt;
  std::string audioExt;
  std::string subExt;
};

// The output file of one entry.
std::string outputName(const StreamEntry& entry, const OutputNaming& naming);
// The chosen entries as a command takes them, each with its output file when
// `naming` is given (Demux, MKV), without (Rebuild).
StreamSelection selectionOf(const StreamTable& table, const OutputNaming* naming);

}  // namespace tarnwick
