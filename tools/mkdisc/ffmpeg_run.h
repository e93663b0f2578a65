#pragma once
// ffmpeg runs for the sample disc's essence, kept in a cache: encoding a
// few seconds of 1080p video takes seconds, and the tests make many discs.

#include <string>
#include <vector>

#include "bits.h"

namespace tarnwick::mkdisc {

// True when `ffmpeg` can be run from PATH.
bool ffmpegAvailable();

// Runs `ffmpeg -nostdin -hide_banner -v error -y ARGUMENTS` in a fresh
// folder and returns the files named in `outputs`, which ARGUMENTS writes
// by those plain names. The files are kept under the cache folder
// ($TARNWICK_MKDISC_CACHE, else $XDG_CACHE_HOME/tarnwick-mkdisc, else
// ~/.cache/tarnwick-mkdisc; "off" keeps nothing) by the arguments and
// ffmpeg's version, and later runs take them from there; with `cached`
// false, outputs too large to be worth keeping are neither looked up nor
// kept. Throws with ffmpeg's message when it fails.
std::vector<Bytes> runFfmpeg(const std::string& arguments, const std::vector<std::string>& outputs,
                             bool cached = true);

// The fonts the sample's pictures are drawn with, and their Debian packages.
struct Font {
  const char* path;
  const char* package;
};
constexpr Font kLatinFont = {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", "fonts-dejavu-core"};
constexpr Font kJapaneseFont = {"/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf", "fonts-vlgothic"};

// The path of the font's file, or a message naming the package to install.
std::string fontFile(const Font& font);

}  // namespace tarnwick::mkdisc
