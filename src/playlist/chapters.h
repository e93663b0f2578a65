#pragma once
// The chapters of the title that plays the EVO, in the simple chapter format
// that Matroska muxers read:
//   CHAPTER01=00:00:00.000
//   CHAPTER01NAME=Opening

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "playlist/xpl_reader.h"

namespace tarnwick {

// The text of an attribute value: the character references (&amp;, &#10;,
// &#x41;) decoded; anything that is not one stays as it stands.
std::string xmlText(std::string_view text);

// Frames per second of a TitleSet time base ("50fps"); 60 for anything else.
int framesPerSecond(std::string_view timeBase);
// Whether the time base is one framesPerSecond() reads rather than defaults.
bool knownTimeBase(std::string_view timeBase);

// "HH:MM:SS:FF" in frames of the time base, to the nearest millisecond;
// nothing when the text is not of that form.
std::optional<std::int64_t> chapterMilliseconds(std::string_view begin, int fps);

struct ChapterFile {
  std::string text;
  int written = 0;
  int skipped = 0;  // chapters whose start is not a time
  int pastEnd = 0;  // chapters that start after the title's duration
};

// Names are made valid UTF-8; a byte-order mark tells the reader so when a
// name is not plain ASCII. A chapter without a name of its own is called
// "Chapter NN", numbered as the file numbers it.
// Chapters that start after the title's end (when its duration is a time)
// are left out: a player would offer a point it cannot reach.
ChapterFile simpleChapters(const XplTitle& title);

// What the user learns of the chapters left out, one line per reason.
std::vector<std::string> chapterNotes(const ChapterFile& file);

}  // namespace tarnwick
