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
constexpr int kCaptionWidth = 720;
constexpr int kCaptionHeight = 64;
// The large caption: the same text far bigger, over much of the frame. Only
// every fourth caption, numbers 2, 6, 10, ..., has one: drawing them costs
// more than all the others.
constexpr int kLargeCaptionWidth = 1760;
constexpr int kLargeCaptionHeight = 440;
constexpr bool hasLargeCaption(std::uint64_t number) { return number % 4 == 2; }

std::string captionText(CaptionLanguage language, std::uint64_t number);

// Throws, saying what to install, when a font the captions need is missing.
void checkCaptionFonts();

// Large pictures of `language` are drawn along with the normal ones from now
// on; asking for one first would cost an extra ffmpeg run.
void wantLargeCaptions(CaptionLanguage language);

// Caption `number` (1, 2, ...) of `language`. Throws with ffmpeg's message
// when it cannot draw.
CaptionPicture captionPicture(CaptionLanguage language, std::uint64_t number, bool large);

}  // namespace tarnwick::mkdisc
