#include "subpictures.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

#include "testkit/spu_builder.h"

namespace tarnwick::mkdisc {
namespace {

using testkit::SpuBitmap;

// Where the captions stand in the 1920x1080 frame: the 2-bit stream's at the
// bottom, the 8-bit stream's just above, so that both can show at once; the
// large caption above both.
constexpr int kTwoBitTop = 960;
constexpr int kEightBitTop = 880;
constexpr int kLargeTop = 420;
constexpr int kWideWidth = 1720;

// 2-bit pixel values: 0 background, 1 letters, 2 outline, 3 antialiasing.
// SET_COLOR picks them from the colour table: white letters (15), a dark
// outline (1) and grey between (9); SET_CONTR leaves only 0 transparent.
constexpr std::uint8_t kTwoBitColour[2] = {0x91, 0xF0};  // e2 e1, p b
constexpr std::uint8_t kTwoBitContrast[2] = {0xFF, 0xF0};

std::uint8_t twoBitLevel(std::uint8_t v) {
  if (v < 40) return 0;
  if (v < 140) return 2;
  if (v < 210) return 3;
  return 1;
}

// 8-bit palette entries in use: 0 background, a few dark ones coded in two
// bits (outline and dark antialiasing), light ones in eight bits (light
// antialiasing and the letters), and 254 for the letters' stripes in the
// large caption.
constexpr int kStripe = 254;

std::uint8_t eightBitLevel(std::uint8_t v) {
  if (v < 40) return 0;
  if (v < 110) return 1;
  if (v < 150) return 2;
  if (v < 180) return 3;
  if (v < 210) return 100;
  if (v < 240) return 180;
  return 255;
}

std::array<std::uint8_t, 3> eightBitPalette(int i) {
  switch (i) {
    case 1: return {40, 128, 128};
    case 2: return {90, 128, 128};
    case 3: return {130, 128, 128};
    case 100: return {170, 128, 128};
    case 180: return {205, 128, 128};
    case kStripe: return {190, 150, 70};  // pale yellow
    case 255: return {235, 128, 128};
    default:  // unused: a grey ramp with a tint, so that a wrong index shows
      return {static_cast<std::uint8_t>(16 + i * 219 / 255), static_cast<std::uint8_t>(128 + (i % 32) - 16),
              static_cast<std::uint8_t>(128 - (i % 32) + 16)};
  }
}

// The caption's picture as pixel values at its place in the frame, with
// `extra` transparent lines below it. The buffers are kept from one caption
// to the next: the large ones would otherwise cost fresh pages every time.
const SpuBitmap& captionBitmap(bool eightBit, int kind, CaptionLanguage language, std::uint64_t number, int extra) {
  static CaptionPicture picture;
  static SpuBitmap b;
  const bool large = eightBit && kind == 1;
  if (large) {
    largeCaptionPicture(language, number, picture);
  } else {
    picture = captionPicture(language, number);
  }
  const CaptionPicture& p = picture;
  const bool wide = kind == 2;
  b.width = wide ? kWideWidth : p.width;
  b.height = p.height + extra;
  b.x = (1920 - b.width) / 2;
  b.y = large ? kLargeTop : eightBit ? kEightBitTop : kTwoBitTop;
  b.pixels.assign(static_cast<std::size_t>(b.width) * static_cast<std::size_t>(b.height), 0);
  const int left = (b.width - p.width) / 2;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const std::uint8_t v = p.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) + x];
      std::uint8_t c = eightBit ? eightBitLevel(v) : twoBitLevel(v);
      // Stripes a pixel wide in the large letters and their outline: every
      // pixel a run of its own, which takes the run-length data past 128 KiB
      // (past 64 KiB, and with a size field clear of 00 00 01).
      if (large && x % 2 == 1) c = c == 255 ? kStripe : c == 1 ? 2 : c;
      b.at(left + x, y) = c;
    }
  return b;
}

// Display delay units are 1024 ticks of the 90 kHz clock.
std::uint16_t delayUnits(std::uint32_t ticks) { return static_cast<std::uint16_t>((ticks + 512) / 1024); }

// 2-bit run-length coding: a run of n pixels of colour c is (n << 2 | c)
// written in 1, 2, 3 or 4 nibbles for n up to 3, 15, 63 and 255.
class NibbleWriter {
 public:
  void nibble(unsigned v) {
    if (half_) {
      out_.back() = static_cast<std::uint8_t>(out_.back() | (v & 0xF));
      half_ = false;
    } else {
      out_.push_back(static_cast<std::uint8_t>((v & 0xF) << 4));
      half_ = true;
    }
  }
  void run(int n, int colour) {
    const unsigned code = static_cast<unsigned>(n << 2 | colour);
    const int nibbles = n < 4 ? 1 : n < 16 ? 2 : n < 64 ? 3 : 4;
    for (int i = nibbles - 1; i >= 0; --i) nibble(code >> (4 * i));
  }
  void endLine() { half_ = false; }  // lines start on a byte boundary
  Bytes& bytes() { return out_; }

 private:
  Bytes out_;
  bool half_ = false;
};

Bytes twoBitField(const SpuBitmap& b, int firstLine) {
  NibbleWriter w;
  for (int y = firstLine; y < b.height; y += 2) {
    const std::uint8_t* line = &b.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(b.width)];
    int x = 0;
    while (x < b.width) {
      int n = 1;
      while (x + n < b.width && n < 255 && line[x + n] == line[x]) ++n;
      w.run(n, line[x]);
      x += n;
    }
    w.endLine();
  }
  return w.bytes();
}

// 8-bit run-length coding, bit by bit: has-run flag, wide-colour flag,
// colour in 2 or 8 bits, then for runs a long flag and the length as 3 bits
// (2..9) or 7 bits (10..136; 0 fills the line). Lines start on a byte.
void eightBitRun(BitWriter& w, int n, int colour, bool toLineEnd) {
  const bool wide = colour > 3;
  w.put(n > 1 ? 1 : 0, 1);
  w.put(wide ? 1 : 0, 1);
  w.put(static_cast<unsigned>(colour), wide ? 8 : 2);
  if (n == 1) return;
  if (toLineEnd && n > 136) {
    w.put(1, 1);
    w.put(0, 7);
  } else if (n <= 9) {
    w.put(0, 1);
    w.put(static_cast<unsigned>(n - 2), 3);
  } else {
    w.put(1, 1);
    w.put(static_cast<unsigned>(n - 9), 7);
  }
}

Bytes eightBitField(const SpuBitmap& b, int firstLine) {
  BitWriter w;
  for (int y = firstLine; y < b.height; y += 2) {
    const std::uint8_t* line = &b.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(b.width)];
    int x = 0;
    while (x < b.width) {
      int n = 1;
      while (x + n < b.width && line[x + n] == line[x]) ++n;
      if (x + n == b.width) {
        eightBitRun(w, n, line[x], true);
      } else {
        n = std::min(n, 136);
        eightBitRun(w, n, line[x], false);
      }
      x += n;
    }
    w.align(0);
  }
  return w.bytes();
}

Bytes twoBitUnit(const SpuBitmap& b, std::uint32_t displayTicks) {
  const Bytes top = twoBitField(b, 0);
  const Bytes bottom = twoBitField(b, 1);
  Bytes u(4, 0);
  const std::size_t topAt = u.size();
  u.insert(u.end(), top.begin(), top.end());
  const std::size_t bottomAt = u.size();
  u.insert(u.end(), bottom.begin(), bottom.end());

  const std::size_t first = u.size();
  const std::size_t firstLen = 4 + 1 + 3 + 3 + 7 + 5 + 1;
  const std::size_t second = first + firstLen;
  put16(u, 0);                                   // delay
  put16(u, static_cast<std::uint32_t>(second));  // next sequence
  u.push_back(0x01);                             // start display
  u.insert(u.end(), {0x03, kTwoBitColour[0], kTwoBitColour[1]});
  u.insert(u.end(), {0x04, kTwoBitContrast[0], kTwoBitContrast[1]});
  testkit::putDisplayArea(u, 0x05, b);
  u.push_back(0x06);                             // pixel data offsets per field
  put16(u, static_cast<std::uint32_t>(topAt));
  put16(u, static_cast<std::uint32_t>(bottomAt));
  u.push_back(0xFF);
  if (u.size() != second) throw std::logic_error("2-bit control sequence length");
  put16(u, delayUnits(displayTicks));
  put16(u, static_cast<std::uint32_t>(second));  // the last sequence points to itself
  u.push_back(0x02);                             // stop display
  u.push_back(0xFF);
  if (u.size() > 0xFFFF) throw std::logic_error("2-bit unit too large");
  set16(u, 0, static_cast<std::uint32_t>(u.size()));
  set16(u, 2, static_cast<std::uint32_t>(first));
  return u;
}

Bytes eightBitUnit(const SpuBitmap& b, std::uint32_t displayTicks) {
  const Bytes top = eightBitField(b, 0);
  const Bytes bottom = eightBitField(b, 1);
  Bytes u = {0x00, 0x00};  // marks the 8-bit unit
  u.resize(10, 0);         // size and control-sequence offset, filled below
  const std::size_t topAt = u.size();
  u.insert(u.end(), top.begin(), top.end());
  const std::size_t bottomAt = u.size();
  u.insert(u.end(), bottom.begin(), bottom.end());

  const std::size_t first = u.size();
  const std::size_t firstLen = 2 + 4 + 1 + (1 + 768) + (1 + 256) + 7 + 9 + 1;
  const std::size_t second = first + firstLen;
  put16(u, 0);
  put32(u, static_cast<std::uint32_t>(second));
  u.push_back(0x01);  // start display
  u.push_back(0x83);  // palette: 256 entries of Y, Cr, Cb
  for (int i = 0; i < 256; ++i) {
    const auto e = eightBitPalette(i);
    u.insert(u.end(), e.begin(), e.end());
  }
  u.push_back(0x84);  // contrast per entry: entry 0 transparent, the rest opaque
  u.push_back(0xFF);
  u.insert(u.end(), 255, 0x00);
  testkit::putDisplayArea(u, 0x85, b);  // marks 8-bit pixels
  u.push_back(0x86);    // pixel data offsets per field, 32-bit
  put32(u, static_cast<std::uint32_t>(topAt));
  put32(u, static_cast<std::uint32_t>(bottomAt));
  u.push_back(0xFF);
  if (u.size() != second) throw std::logic_error("8-bit control sequence length");
  put16(u, delayUnits(displayTicks));
  put32(u, static_cast<std::uint32_t>(second));
  u.push_back(0x02);
  u.push_back(0xFF);
  set32(u, 2, static_cast<std::uint32_t>(u.size()));
  set32(u, 6, static_cast<std::uint32_t>(first));
  return u;
}

// The special kinds, through the test kit's builder.
Bytes specialUnit(const SpuBitmap& b, bool eightBit, int kind, std::uint32_t displayTicks) {
  testkit::SpuOptions o;
  o.eightBit = eightBit;
  o.stopDelay = delayUnits(displayTicks);
  if (eightBit) {
    for (int i = 0; i < 256; ++i) {
      o.palette[i] = eightBitPalette(i);
      o.contrast8[i] = i == 0 ? 0xFF : 0x00;
    }
  } else {
    o.colour = {0, 15, 1, 9};  // b p e1 e2, as in the plain captions
    o.contrast = {0, 15, 15, 15};
  }
  o.forced = kind == 1 ? !eightBit : kind == 2 && eightBit;
  if (kind == 3) o.stopDelay.reset();
  // Only kind 2 ends its lines with the "to the end of the line" code: in the
  // 2-bit code an empty line so coded is 00 00, and a next line that starts
  // with 64 to 127 transparent pixels would follow it with 01.
  o.toLineEnd = kind == 2;
  return testkit::buildSpu(b, o);
}

}  // namespace

Bytes captionSubpictureUnit(bool eightBit, int kind, CaptionLanguage language, std::uint64_t number,
                            std::uint32_t displayTicks) {
  // The unit travels inside PES packets, where a reader scanning for start
  // codes would trip on 00 00 01. Run-length data or a field address may
  // read so: then the caption grows by two transparent lines until none does.
  for (int extra = 0; extra < 40; extra += 2) {
    const SpuBitmap& b = captionBitmap(eightBit, kind, language, number, extra);
    const Bytes u = kind == 0 ? (eightBit ? eightBitUnit(b, displayTicks) : twoBitUnit(b, displayTicks))
                              : specialUnit(b, eightBit, kind, displayTicks);
    if (!hasStartCodePrefix(u)) return u;
  }
  throw std::logic_error("the subpicture unit of caption " + captionText(language, number) + " contains 00 00 01");
}

}  // namespace tarnwick::mkdisc
