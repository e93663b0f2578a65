#pragma once
// The titles of a disc: what its playlist (ADV_OBJ/VPLST000.XPL) says each
// title is and plays, or, on a disc without one, its EVO files or a DVD's
// title sets. Every command takes a title the same way.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disc/disc.h"
#include "playlist/xpl_reader.h"

namespace tarnwick {

// Where the playlist lives on an HD DVD.
inline constexpr const char* kDiscPlaylist = "ADV_OBJ/VPLST000.XPL";

struct TitleClip {
  std::string path;  // on the disc, "HVDVD_TS/FEATURE_1.EVO"
  std::int64_t bytes = 0;
  bool exists = false;
};

struct TitleTrack {
  int streamNumber = 0;  // as in the playlist, from 1
  std::string language;  // three letters ("eng"), "und" when not known
  std::string description;  // decoded; empty when the track has none
};

struct Title {
  int number = 0;  // the playlist's titleNumber, or the position from 1
  std::string name;
  std::optional<std::int64_t> durationMs;  // none without a playlist or a readable duration
  std::vector<TitleClip> clips;  // in the order they play
  std::vector<TitleTrack> audio;
  std::vector<TitleTrack> subtitles;
  int chapters = 0;
  bool main = false;
  bool dvd = false;  // a DVD's VOB set rather than EVO files
  // The playlist's reading of the title (labels, chapters, time base), for
  // the commands that name tracks and write chapters; not found without a
  // playlist.
  XplTitle playlist;

  std::int64_t bytes() const;
  // Something to play, and all of it on the disc.
  bool playable() const;
};

// The disc's titles in the playlist's order, the main feature marked. A
// playlist that cannot be read is a DiscError naming it.
std::vector<Title> discTitles(const Disc& disc);

// Marks the main feature: the longest playable title, ties to the lower
// number. Without durations (a disc without a playlist) the one with the
// most bytes. None when no title is playable.
void markMainFeature(std::vector<Title>& titles);

// The disc path of the EVO a clip's src names: the MAP of the same base
// name in the same folder ("file:///dvddisc/HVDVD_TS/FEATURE_1.MAP" gives
// "HVDVD_TS/FEATURE_1.EVO"); HVDVD_TS when the src names no folder of the
// disc. Empty when the src names no file.
std::string clipEvoPath(std::string_view src);

}  // namespace tarnwick
