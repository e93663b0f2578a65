#include "subtitles/subpicture_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "subtitles/bit_reader.h"

namespace tarnwick {

using subtitles::BitReader;
using subtitles::readBe16;
using subtitles::readBe32;

namespace {

// Display control commands (DVD-Video sub-picture SP_DCSQ; the 0x8x forms
// are the HD DVD 8-bit ones).
constexpr std::uint8_t kFstaDsp = 0x00;    // forced start display
constexpr std::uint8_t kStaDsp = 0x01;     // start display
constexpr std::uint8_t kStpDsp = 0x02;     // stop display
constexpr std::uint8_t kSetColor = 0x03;   // 4 nibbles: e2 e1 p b
constexpr std::uint8_t kSetContr = 0x04;   // 4 nibbles: e2 e1 p b
constexpr std::uint8_t kSetDarea = 0x05;   // sx ex sy ey, 12 bits each
constexpr std::uint8_t kSetDspxa = 0x06;   // top and bottom field addresses, 16 bits
constexpr std::uint8_t kChgColcon = 0x07;  // 16-bit parameter size including itself
constexpr std::uint8_t kSetPalette8 = 0x83;   // 256 × Y, Cr, Cb
constexpr std::uint8_t kSetContrast8 = 0x84;  // 256 contrast values
constexpr std::uint8_t kSetDarea8 = 0x85;     // as SET_DAREA; the pixel data is 8-bit
constexpr std::uint8_t kSetDspxa8 = 0x86;     // top and bottom field addresses, 32 bits
constexpr std::uint8_t kCmdEnd = 0xFF;

constexpr int kMaxSequences = 4096;  // a loop of forward links cannot pass the unit's end; this bounds odd ones

std::uint32_t readOffset(const std::uint8_t* p, bool hd) { return hd ? readBe32(p) : readBe16(p); }

// Paints `run` pixels of a line from x on. Most runs are a few pixels: where
// the line has room, one 16-byte store paints them, and the pixels it paints
// beyond the run belong to the runs that follow on the same line.
[[gnu::always_inline]] inline void paint(std::uint8_t* line, int x, int run, int width, std::uint8_t colour) {
  if (run <= 16 && width - x >= 16) {
    std::uint8_t block[16];
    std::memset(block, colour, sizeof block);
    std::memcpy(line + x, block, sizeof block);
  } else {
    std::fill(line + x, line + x + run, colour);
  }
}

}  // namespace

std::size_t subpictureUnitSize(const std::uint8_t* p, std::size_t n) {
  if (n < 2) return 0;
  if (readBe16(p) != 0) return readBe16(p) >= kDvdUnitHeaderSize ? readBe16(p) : 0;
  if (n < 6) return 0;
  const std::uint32_t size = readBe32(p + 2);
  return size >= kHdUnitHeaderSize ? size : 0;
}

ColourTable defaultColourTable() {
  ColourTable t{};
  for (int i = 0; i < 16; ++i) {
    t[i].y = static_cast<std::uint8_t>(16 + i * 219 / 15);
    t[i].cr = 128;
    t[i].cb = 128;
    t[i].alpha = 255;
  }
  return t;
}

std::string formatTicks(std::uint32_t ticks) {
  const std::uint32_t ms = static_cast<std::uint32_t>(static_cast<std::uint64_t>(ticks) / 90);
  char text[32];
  std::snprintf(text, sizeof text, "%u:%02u:%02u.%03u", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  return text;
}

SubpictureDecoder::SubpictureDecoder(LogSink& log, std::optional<ColourTable> colours)
    : log_(log), colours_(colours ? *colours : defaultColourTable()), defaultColours_(!colours) {}

std::optional<Caption> SubpictureDecoder::damaged(std::uint32_t pts, const std::string& why) {
  ++skipped_;
  log_.log("   Damaged subpicture unit at PTS " + formatTicks(pts) + " skipped: " + why);
  return std::nullopt;
}

std::optional<Caption> SubpictureDecoder::decode(const std::uint8_t* unit, std::size_t size, std::uint32_t pts) {
  if (size < kDvdUnitHeaderSize) return damaged(pts, "shorter than its header");
  const bool hd = readBe16(unit) == 0;
  const std::size_t headerSize = hd ? kHdUnitHeaderSize : kDvdUnitHeaderSize;
  const std::size_t offsetSize = hd ? 4 : 2;
  if (size < headerSize) return damaged(pts, "shorter than its header");
  const std::size_t SPDSZ = hd ? readBe32(unit + 2) : readBe16(unit);
  if (SPDSZ > size || SPDSZ < headerSize) return damaged(pts, "size field does not match the unit");
  const std::size_t SP_DCSQTA = readOffset(unit + (hd ? 6 : 2), hd);

  std::optional<std::uint32_t> start, stop;
  bool forced = false;
  bool eightBit = false;
  bool area = false;
  int sx = 0, ex = 0, sy = 0, ey = 0;
  std::optional<std::size_t> topField, bottomField;
  bool paletteInUnit = false;
  auto colourIndex = colourIndex_;
  auto contrast = contrast_;
  auto contrast8 = contrast8_;
  std::optional<Palette> palette8 = palette8_;

  std::size_t sequence = SP_DCSQTA;
  for (int count = 0;; ++count) {
    if (count == kMaxSequences) return damaged(pts, "too many control sequences");
    if (sequence < headerSize || sequence + 2 + offsetSize > SPDSZ)
      return damaged(pts, "control sequence offset past the unit's end");
    const std::uint32_t SP_DCSQ_STM = readBe16(unit + sequence);
    const std::size_t SP_NXT_DCSQ_SA = readOffset(unit + sequence + 2, hd);
    const std::uint32_t when = pts + SP_DCSQ_STM * kDelayUnitTicks;
    std::size_t pos = sequence + 2 + offsetSize;
    bool ended = false;
    const auto need = [&](std::size_t n) { return SPDSZ - pos >= n; };
    while (!ended) {
      if (pos >= SPDSZ) return damaged(pts, "control sequence runs past the unit's end");
      const std::uint8_t command = unit[pos++];
      switch (command) {
        case kFstaDsp:
          forced = true;
          [[fallthrough]];
        case kStaDsp:
          if (!start) start = when;
          break;
        case kStpDsp:
          if (start && !stop) stop = when;
          break;
        case kSetColor:
        case kSetContr: {
          if (!need(2)) return damaged(pts, "colour command past the unit's end");
          auto& target = command == kSetColor ? colourIndex : contrast;
          target[3] = unit[pos] >> 4;
          target[2] = unit[pos] & 0xF;
          target[1] = unit[pos + 1] >> 4;
          target[0] = unit[pos + 1] & 0xF;
          pos += 2;
          break;
        }
        case kSetDarea:
        case kSetDarea8:
          if (!need(6)) return damaged(pts, "display area past the unit's end");
          sx = static_cast<int>(unit[pos] << 4 | unit[pos + 1] >> 4);
          ex = static_cast<int>((unit[pos + 1] & 0xF) << 8 | unit[pos + 2]);
          sy = static_cast<int>(unit[pos + 3] << 4 | unit[pos + 4] >> 4);
          ey = static_cast<int>((unit[pos + 4] & 0xF) << 8 | unit[pos + 5]);
          area = true;
          eightBit = command == kSetDarea8;
          pos += 6;
          break;
        case kSetDspxa:
          if (!need(4)) return damaged(pts, "field addresses past the unit's end");
          topField = readBe16(unit + pos);
          bottomField = readBe16(unit + pos + 2);
          pos += 4;
          break;
        case kSetDspxa8:
          if (!need(8)) return damaged(pts, "field addresses past the unit's end");
          topField = readBe32(unit + pos);
          bottomField = readBe32(unit + pos + 4);
          pos += 8;
          break;
        case kChgColcon: {
          // Colour changes inside areas are a player's effect: skipped whole.
          if (!need(2)) return damaged(pts, "colour change command past the unit's end");
          const std::size_t parameterSize = readBe16(unit + pos);
          if (parameterSize < 2 || !need(parameterSize)) return damaged(pts, "colour change command past the unit's end");
          pos += parameterSize;
          break;
        }
        case kSetPalette8: {
          if (!need(768)) return damaged(pts, "palette past the unit's end");
          Palette p{};
          for (int i = 0; i < 256; ++i) {
            p[i].y = unit[pos + 3 * i];
            p[i].cr = unit[pos + 3 * i + 1];
            p[i].cb = unit[pos + 3 * i + 2];
          }
          palette8 = p;
          paletteInUnit = true;
          pos += 768;
          break;
        }
        case kSetContrast8:
          if (!need(256)) return damaged(pts, "contrast table past the unit's end");
          std::copy(unit + pos, unit + pos + 256, contrast8.begin());
          pos += 256;
          break;
        case kCmdEnd:
          ended = true;
          break;
        default:
          // An unknown command's length is unknown: the sequence ends here.
          ended = true;
          break;
      }
    }
    // The last sequence points to itself; a link backwards cannot be followed.
    if (SP_NXT_DCSQ_SA <= sequence) break;
    sequence = SP_NXT_DCSQ_SA;
  }

  if (!start) return damaged(pts, "no start command");
  if (!area) return damaged(pts, "no display area");
  if (!topField || !bottomField) return damaged(pts, "no pixel data addresses");
  if (ex < sx || ey < sy) return damaged(pts, "empty display area");
  if (*topField < headerSize || *topField >= SPDSZ || *bottomField < headerSize || *bottomField >= SPDSZ)
    return damaged(pts, "pixel data address past the unit's end");

  Caption c;
  c.start = *start;
  c.end = stop;
  c.forced = forced;
  c.x = sx;
  c.y = sy;
  c.width = ex - sx + 1;
  c.height = ey - sy + 1;
  // No clearing: the two fields below write every pixel, or the unit is
  // skipped as damaged.
  c.pixels = std::move(spare_);
  spare_ = {};
  c.pixels.resize(static_cast<std::size_t>(c.width) * static_cast<std::size_t>(c.height));
  const int topLines = (c.height + 1) / 2, bottomLines = c.height / 2;
  const std::size_t stride = static_cast<std::size_t>(c.width) * 2;
  const auto field = eightBit ? decodeEightBitField : decodeTwoBitField;
  if (!field(unit, *topField, SPDSZ, c.width, topLines, c.pixels.data(), stride) ||
      !field(unit, *bottomField, SPDSZ, c.width, bottomLines, c.pixels.data() + c.width, stride))
    return damaged(pts, "pixel data ends early or a run crosses a line's end");

  if (eightBit) {
    if (!palette8) {
      if (!saidDefaultPalette_)
        log_.log("   The 8-bit subpicture stream carries no palette before its first unit: a grey ramp is used");
      saidDefaultPalette_ = true;
      Palette ramp{};
      for (int i = 0; i < 256; ++i) ramp[i].y = static_cast<std::uint8_t>(16 + i * 219 / 255);
      palette8 = ramp;
    }
    c.palette = *palette8;
    for (int i = 0; i < 256; ++i) c.palette[i].alpha = static_cast<std::uint8_t>(255 - contrast8[i]);
  } else {
    if (defaultColours_ && !saidDefaultColours_) {
      log_.log("   The 2-bit subpicture stream carries no colour table: the default grey ramp is used");
      saidDefaultColours_ = true;
    }
    for (int i = 0; i < 4; ++i) {
      c.palette[i] = colours_[colourIndex[i]];
      c.palette[i].alpha = static_cast<std::uint8_t>(contrast[i] * 17);
    }
  }
  // Only a unit that decoded whole changes the state that later units inherit.
  colourIndex_ = colourIndex;
  contrast_ = contrast;
  contrast8_ = contrast8;
  if (paletteInUnit) palette8_ = palette8;
  return c;
}

bool decodeTwoBitField(const std::uint8_t* data, std::size_t begin, std::size_t end, int width, int lines,
                       std::uint8_t* out, std::size_t stride) {
  BitReader bits(data, begin, end);
  for (int line = 0; line < lines; ++line, out += stride) {
    int x = 0;
    while (x < width) {
      // A code is 1 to 4 nibbles: the leading zero nibbles tell how many.
      std::uint32_t code = 0;
      for (std::uint32_t limit = 1; code < limit && limit <= 0x40; limit <<= 2) code = code << 4 | bits.get(4);
      if (bits.overrun()) return false;
      const std::uint8_t colour = code & 3;
      int run = static_cast<int>(code >> 2);
      if (run == 0) {
        run = width - x;  // a zero count fills the line
      } else if (run > width - x) {
        return false;
      }
      paint(out, x, run, width, colour);
      x += run;
    }
    bits.alignToByte();
  }
  return true;
}

bool decodeEightBitField(const std::uint8_t* data, std::size_t begin, std::size_t end, int width, int lines,
                         std::uint8_t* out, std::size_t stride) {
  BitReader bits(data, begin, end);
  for (int line = 0; line < lines; ++line, out += stride) {
    int x = 0;
    while (x < width) {
      // run flag, colour-size flag, colour in 2 or 8 bits; a run is 2..9
      // (3 bits) or, with the long flag, 10..136 (7 bits; 0 fills the line).
      const bool hasRun = bits.get(1) != 0;
      const bool wideColour = bits.get(1) != 0;
      const std::uint8_t colour = static_cast<std::uint8_t>(bits.get(wideColour ? 8 : 2));
      int run = 1;
      bool toLineEnd = false;
      if (hasRun) {
        if (bits.get(1) != 0) {
          const int length = static_cast<int>(bits.get(7));
          toLineEnd = length == 0;
          run = length + 9;
        } else {
          run = static_cast<int>(bits.get(3)) + 2;
        }
      }
      if (bits.overrun()) return false;
      if (toLineEnd) {
        run = width - x;
      } else if (run > width - x) {
        return false;
      }
      paint(out, x, run, width, colour);
      x += run;
    }
    bits.alignToByte();
  }
  return true;
}

}  // namespace tarnwick
