#pragma once
// What a Matroska file calls the streams it holds and itself: from the
// playlist when Read XPL found the title that plays the EVO, else from what
// Read EVO learnt of each stream.

#include <string>

#include "engine/scan_state.h"
#include "engine/stream_ids.h"
#include "playlist/xpl_reader.h"

namespace tarnwick {

struct MkvTrackLabel {
  std::string name;             // "English", "DTS-HD 5.1", "VC-1", "Subtitle 1"
  std::string language = "und";  // three-letter ISO 639-2 ("eng"), "und" when not known
};

// The stream in `slot`: the playlist's own description of its track
// (character references decoded) and its langcode's language; without
// them, its kind and channels and "und". `playlist` is what the last Read
// XPL found; an XplTitle() when there was none.
MkvTrackLabel mkvTrackLabel(StreamSlot slot, const ScanState& scan, const XplTitle& playlist);

// The kind of the stream in `slot`, with the channels its header announced
// when they are known: "DD+ 2.0", "DTS-HD 5.1", "LPCM", "H.264", "Subtitle 3".
std::string streamKindName(StreamSlot slot, const ScanState& scan);

// The file's title: the displayName of the title that plays the EVO,
// decoded; empty when Read XPL found none.
std::string mkvTitle(const XplTitle& playlist);

}  // namespace tarnwick
