#pragma once
// Decodes DVD (2-bit) and HD DVD (2-bit and 8-bit) subpicture units into
// captions. Pure functions of the unit's bytes; every length and offset is
// checked before use, and a damaged unit yields no caption and one log line.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysers/log_sink.h"
#include "subtitles/caption.h"

namespace tarnwick {

// A unit starting with a zero 16-bit word is the HD DVD form: SPU_SZ and
// SP_DCSQTA as 32-bit values after it; else SPU_SZ and SP_DCSQTA are 16-bit.
constexpr std::size_t kDvdUnitHeaderSize = 4;
constexpr std::size_t kHdUnitHeaderSize = 10;
// Display control delays (SP_DCSQ_STM) count units of 1024 ticks of 90 kHz.
constexpr std::uint32_t kDelayUnitTicks = 1024;

// The unit's size from its first bytes: 0 when fewer bytes than its header
// are at hand, and also 0 for a size that cannot hold its own header.
std::size_t subpictureUnitSize(const std::uint8_t* p, std::size_t n);

// The 16 colours that a 2-bit unit's colour command indexes. They come from
// the disc's program chain, not from the stream.
using ColourTable = std::array<PaletteEntry, 16>;

// The table used when none is given: a grey ramp from black (0) to white
// (15), so that the usual pattern/emphasis choices stay readable.
ColourTable defaultColourTable();

class SubpictureDecoder {
 public:
  // colours: the 2-bit colour table; none means the default table, said once
  // in the log at the first 2-bit unit.
  explicit SubpictureDecoder(LogSink& log, std::optional<ColourTable> colours = std::nullopt);

  // Decodes one whole unit (the bytes from its first header byte to SPU_SZ)
  // whose first packet carried `pts`. Colours and contrast carry over from
  // unit to unit, as on a player.
  std::optional<Caption> decode(const std::uint8_t* unit, std::size_t size, std::uint32_t pts);

  std::uint64_t skippedUnits() const { return skipped_; }

  // Hands back a caption's pixel buffer once it has been used, so that the
  // next caption decodes into memory already mapped: a feature has
  // thousands of captions, each of up to a few MB.
  void recycle(std::vector<std::uint8_t>&& pixels) { spare_ = std::move(pixels); }

 private:
  std::optional<Caption> damaged(std::uint32_t pts, const std::string& why);

  LogSink& log_;
  ColourTable colours_;
  bool defaultColours_;
  bool saidDefaultColours_ = false;
  bool saidDefaultPalette_ = false;
  // 2-bit state: SET_COLOR and SET_CONTR nibbles, by pixel value 0..3.
  std::array<std::uint8_t, 4> colourIndex_{0, 15, 0, 8};
  std::array<std::uint8_t, 4> contrast_{0, 15, 15, 15};
  // 8-bit state: the 256-entry Y/Cr/Cb palette and its contrast values.
  std::optional<Palette> palette8_;
  std::array<std::uint8_t, 256> contrast8_{};
  std::uint64_t skipped_ = 0;
  std::vector<std::uint8_t> spare_;
};

// Decodes `lines` lines of `width` pixels of one field from bytes
// [begin, end) into out (every `stride` bytes a line). False when the data
// ends early or a run crosses the end of a line.
bool decodeTwoBitField(const std::uint8_t* data, std::size_t begin, std::size_t end, int width, int lines,
                       std::uint8_t* out, std::size_t stride);
bool decodeEightBitField(const std::uint8_t* data, std::size_t begin, std::size_t end, int width, int lines,
                         std::uint8_t* out, std::size_t stride);

// "h:mm:ss.mmm" of a 90 kHz time, for log lines.
std::string formatTicks(std::uint32_t ticks);

}  // namespace tarnwick
