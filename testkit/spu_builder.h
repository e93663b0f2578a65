#pragma once
// Builds subpicture units from a bitmap for tests and the sample disc: the
// DVD form (16-bit header, 2-bit run-length code) and the HD DVD form (zero
// word, 32-bit header; 2-bit or 8-bit run-length code), with the display
// control sequences a test asks for.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "testkit/ps_builder.h"

namespace tarnwick::testkit {

struct SpuBitmap {
  int x = 0;  // display area's top-left corner
  int y = 0;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // width × height pixel values, line by line
  std::uint8_t& at(int px, int py) { return pixels[static_cast<std::size_t>(py) * static_cast<std::size_t>(width) + px]; }
};

struct SpuOptions {
  bool hdHeader = false;  // the HD DVD header form
  bool eightBit = false;  // 8-bit pixels (implies hdHeader)
  bool forced = false;    // FSTA_DSP instead of STA_DSP
  std::uint16_t startDelay = 0;               // SP_DCSQ_STM of the start, units of 1024 ticks
  std::optional<std::uint16_t> stopDelay;     // none: no stop command
  // 2-bit SET_COLOR and SET_CONTR, by pixel value 0..3.
  std::array<std::uint8_t, 4> colour{0, 15, 0, 8};
  std::array<std::uint8_t, 4> contrast{0, 15, 15, 15};
  // 8-bit palette (Y, Cr, Cb) and contrast (0 opaque, 255 transparent).
  std::array<std::array<std::uint8_t, 3>, 256> palette{};
  std::array<std::uint8_t, 256> contrast8{};
  // Code the last run of each line as "to the end of the line".
  bool toLineEnd = true;
  // Write the colour commands: SET_COLOR and SET_CONTR (2-bit), the palette
  // and the contrast table (8-bit). Without them a unit shows the colours
  // of the units before it.
  bool colourCommands = true;
};

Bytes buildSpu(const SpuBitmap& bitmap, const SpuOptions& options);

// The display area command (0x05, or 0x85 for 8-bit pixels) with its
// 12-bit corner coordinates, appended to `unit`.
void putDisplayArea(Bytes& unit, std::uint8_t command, const SpuBitmap& bitmap);

// A palette with distinct colours, and contrast that leaves entry 0
// transparent and the rest opaque.
void fillTestPalette(SpuOptions& options);

// Appends the unit as subpicture packets of substream `id`, each in a pack of
// its own and at most `chunk` bytes of payload; the first carries the PTS.
void addSpuPackets(PsBuilder& ps, std::uint8_t id, const Bytes& unit, std::uint64_t pts, std::size_t chunk = 2000);

}  // namespace tarnwick::testkit
