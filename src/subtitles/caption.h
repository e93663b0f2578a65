#pragma once
// A caption as the subpicture decoder, the PGS writer and the PGS reader see
// it: an indexed bitmap on the video frame, its palette and its times.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarnwick {

// One palette entry in the video's colour space (Y, Cr, Cb as the streams
// carry them) with alpha: 0 transparent, 255 opaque.
struct PaletteEntry {
  std::uint8_t y = 16;
  std::uint8_t cr = 128;
  std::uint8_t cb = 128;
  std::uint8_t alpha = 0;
  bool operator==(const PaletteEntry&) const = default;
};

using Palette = std::array<PaletteEntry, 256>;

struct Caption {
  std::uint32_t start = 0;           // 90 kHz ticks
  std::optional<std::uint32_t> end;  // none: the unit had no stop command
  bool forced = false;
  int x = 0;  // top-left corner on the video frame
  int y = 0;
  int width = 0;
  int height = 0;
  int frameHeight = 0;  // of the video frame it is placed on; 0 when not known
  std::vector<std::uint8_t> pixels;  // width × height palette indices, line by line
  Palette palette{};
};

}  // namespace tarnwick
