#pragma once
// Caption text for the sample disc's subpicture streams: "English 3",
// "日本語 3", "Deutsch 3", drawn by ffmpeg's drawtext from fonts Debian ships
// under a free licence. ffmpeg draws many captions per run, since starting
// it costs more than drawing them.

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::mkdisc {

enum class CaptionLanguage { English, Japanese, German };

// Light text with a dark outline on black, one byte a pixel: 0 background,
// about kCaptionOutline in the outline, 255 in the letters, antialiasing
// in between.
struct CaptionPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

constexpr std::uint8_t kCaptionOutline = 96;
// A caption's picture: a line of text centred in it.
constexpr int kCaptionWidth = 480;
constexpr int kCaptionHeight = 64;
// The large caption: the same text scaled up over much of the frame.
constexpr int kLargeCaptionWidth = 1760;
constexpr int kLargeCaptionHeight = 440;

std::string captionText(CaptionLanguage language, std::uint64_t number);

// Throws, saying what to install, when a font the captions need is missing.
void checkCaptionFonts();

// Caption `number` (1, 2, ...) of `language`. Throws with ffmpeg's message
// when it cannot draw.
CaptionPicture captionPicture(CaptionLanguage language, std::uint64_t number);

// The same caption's letters scaled up smoothly to fill most of a large
// picture: drawing them that size would cost ffmpeg far more.
// `out` keeps its buffer from one call to the next.
void largeCaptionPicture(CaptionLanguage language, std::uint64_t number, CaptionPicture& out);

}  // namespace tarnwick::mkdisc
