#include "subpictures.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "testkit/spu_builder.h"

namespace tarnwick::mkdisc {
namespace {

// A framed box with a few stripes, so that lines have several runs.
// Colour indices: 0 background, 1 frame, 2 stripes, 3 fill.
int pixelAt(const SubpictureArea& a, int x, int y, int variant) {
  if (x == 0 || y == 0 || x == a.width - 1 || y == a.height - 1) return 1;
  if (x < 2 || y < 2 || x >= a.width - 2 || y >= a.height - 2) return 0;
  const int band = (x + variant * 5) / 9;
  if (band % 3 == 0) return 2;
  return 3;
}

// Display delay units are 1024 ticks of the 90 kHz clock.
std::uint32_t delayUnits(std::uint32_t ticks) { return (ticks + 512) / 1024; }

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

Bytes twoBitField(const SubpictureArea& a, int firstLine, int variant) {
  NibbleWriter w;
  for (int y = firstLine; y < a.height; y += 2) {
    int x = 0;
    while (x < a.width) {
      const int c = pixelAt(a, x, y, variant);
      int n = 1;
      while (x + n < a.width && n < 255 && pixelAt(a, x + n, y, variant) == c) ++n;
      w.run(n, c);
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

// Colour classes spread over the 256-entry palette: a shade per stripe band.
int eightBitColour(const SubpictureArea& a, int x, int y, int variant) {
  const int c = pixelAt(a, x, y, variant);
  if (c == 0) return 0;
  if (c == 1) return 255;
  if (c == 2) return 64 + ((x + variant * 5) / 9) % 64;
  return 160 + (y % 64);
}

Bytes eightBitField(const SubpictureArea& a, int firstLine, int variant) {
  BitWriter w;
  for (int y = firstLine; y < a.height; y += 2) {
    int x = 0;
    while (x < a.width) {
      const int c = eightBitColour(a, x, y, variant);
      int n = 1;
      while (x + n < a.width && eightBitColour(a, x + n, y, variant) == c) ++n;
      if (x + n == a.width) {
        eightBitRun(w, n, c, true);
      } else {
        n = std::min(n, 136);
        eightBitRun(w, n, c, false);
      }
      x += n;
    }
    w.align(0);
  }
  return w.bytes();
}

void checkNoPrefix(const Bytes& unit, const char* what) {
  // The unit travels inside PES packets, where a reader scanning for start
  // codes would otherwise trip on it.
  for (std::size_t i = 2; i < unit.size(); ++i)
    if (unit[i] == 1 && unit[i - 1] == 0 && unit[i - 2] == 0)
      throw std::logic_error(std::string(what) + " contains 00 00 01 at byte " + std::to_string(i - 2) + " of " +
                             std::to_string(unit.size()));
}

}  // namespace

Bytes twoBitSubpictureUnit(const SubpictureArea& a, std::uint32_t displayTicks, int variant) {
  const Bytes top = twoBitField(a, 0, variant);
  const Bytes bottom = twoBitField(a, 1, variant);
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
  u.insert(u.end(), {0x03, 0x21, 0xF0});         // colours: e2=2 e1=1 pattern=15 background=0
  u.insert(u.end(), {0x04, 0xFF, 0xF0});         // contrast: background transparent
  const unsigned x2 = static_cast<unsigned>(a.x + a.width - 1), y2 = static_cast<unsigned>(a.y + a.height - 1);
  u.push_back(0x05);                             // display area, 12-bit coordinates
  u.push_back(static_cast<std::uint8_t>(a.x >> 4));
  u.push_back(static_cast<std::uint8_t>((a.x & 0xF) << 4 | x2 >> 8));
  u.push_back(static_cast<std::uint8_t>(x2));
  u.push_back(static_cast<std::uint8_t>(a.y >> 4));
  u.push_back(static_cast<std::uint8_t>((a.y & 0xF) << 4 | y2 >> 8));
  u.push_back(static_cast<std::uint8_t>(y2));
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
  checkNoPrefix(u, "2-bit subpicture unit");
  return u;
}

Bytes eightBitSubpictureUnit(const SubpictureArea& a, std::uint32_t displayTicks, int variant) {
  const Bytes top = eightBitField(a, 0, variant);
  const Bytes bottom = eightBitField(a, 1, variant);
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
    u.push_back(static_cast<std::uint8_t>(16 + i * 219 / 255));
    u.push_back(static_cast<std::uint8_t>(128 + (i % 32) - 16));
    u.push_back(static_cast<std::uint8_t>(128 - (i % 32) + 16));
  }
  u.push_back(0x84);  // contrast per entry: entry 0 transparent, the rest opaque
  u.push_back(0xFF);
  u.insert(u.end(), 255, 0x00);
  const unsigned x2 = static_cast<unsigned>(a.x + a.width - 1), y2 = static_cast<unsigned>(a.y + a.height - 1);
  u.push_back(0x85);  // display area, 12-bit coordinates; marks 8-bit pixels
  u.push_back(static_cast<std::uint8_t>(a.x >> 4));
  u.push_back(static_cast<std::uint8_t>((a.x & 0xF) << 4 | x2 >> 8));
  u.push_back(static_cast<std::uint8_t>(x2));
  u.push_back(static_cast<std::uint8_t>(a.y >> 4));
  u.push_back(static_cast<std::uint8_t>((a.y & 0xF) << 4 | y2 >> 8));
  u.push_back(static_cast<std::uint8_t>(y2));
  u.push_back(0x86);  // pixel data offsets per field, 32-bit
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
  checkNoPrefix(u, "8-bit subpicture unit");
  return u;
}

namespace {

// Pixel values for the special captions: `wide` lines hold runs far longer
// than one code, and the two fields draw different patterns.
int specialPixel(int kind, int w, int h, int x, int y, int variant, bool eightBit) {
  if (x == 0 || y == 0 || x == w - 1 || y == h - 1) return 1;
  if (kind == 2) {
    if (y == h / 2) return eightBit ? 200 : 3;  // one run across the whole line
    const int segment = y % 2 == 0 ? 300 + 40 * variant : 170;
    const int band = x / segment;
    if (eightBit) return band % 2 == 0 ? 0 : 4 + (band * 37 + y) % 250;
    return band % 2 == 0 ? 0 : 2 + band % 2;
  }
  if (y % 2 == 0) return ((x + variant * 3) / 7) % 3 == 0 ? 0 : 2;
  return ((x / 5 + y) % 4 == 0) ? 0 : 3;
}

testkit::SpuBitmap specialBitmap(bool eightBit, int kind, int variant, int extra) {
  testkit::SpuBitmap b;
  if (kind == 1 && eightBit) {
    // Noise in wide colours: every pixel its own 10-bit code, about 168 KB
    // of run-length data, whose size keeps the header clear of 00 00 01.
    b = {680, 700, 560, 240 + extra, {}};
    b.pixels.resize(static_cast<std::size_t>(b.width) * b.height);
    std::uint32_t seed = 2024u + static_cast<std::uint32_t>(variant);
    for (auto& p : b.pixels) {
      seed = seed * 1103515245u + 12345u;
      p = static_cast<std::uint8_t>(4 + (seed >> 16) % 252);
    }
  } else {
    if (kind == 1) b = {560, 980, 800, 36, {}};
    if (kind == 2) b = {100, 1000, 1720, 30, {}};
    if (kind == 3) b = eightBit ? testkit::SpuBitmap{720, 900, 480, 64, {}} : testkit::SpuBitmap{860, 900, 200, 40, {}};
    b.height += extra;
    b.pixels.resize(static_cast<std::size_t>(b.width) * b.height);
    for (int y = 0; y < b.height; ++y)
      for (int x = 0; x < b.width; ++x)
        b.at(x, y) = static_cast<std::uint8_t>(specialPixel(kind, b.width, b.height, x, y, variant, eightBit));
  }
  return b;
}

}  // namespace

Bytes specialSubpictureUnit(bool eightBit, int kind, std::uint32_t displayTicks, int variant) {
  testkit::SpuOptions o;
  o.eightBit = eightBit;
  o.stopDelay = static_cast<std::uint16_t>(delayUnits(displayTicks));
  if (eightBit) {
    for (int i = 0; i < 256; ++i) {
      o.palette[i] = {static_cast<std::uint8_t>(16 + i * 219 / 255), static_cast<std::uint8_t>(128 + (i % 32) - 16),
                      static_cast<std::uint8_t>(128 - (i % 32) + 16)};
      o.contrast8[i] = i == 0 ? 0xFF : 0x00;
    }
  } else {
    o.colour = {0, 15, 1, 2};    // b p e1 e2, as the box captions
    o.contrast = {0, 15, 15, 15};
  }
  o.forced = kind == 1 ? !eightBit : kind == 2 && eightBit;
  if (kind == 3) o.stopDelay.reset();
  // A field address or size may read 00 00 01 in the unit: then the caption
  // grows by two lines until none does.
  for (int extra = 0; extra < 40; extra += 2) {
    Bytes u = testkit::buildSpu(specialBitmap(eightBit, kind, variant, extra), o);
    if (!hasStartCodePrefix(u)) return u;
  }
  throw std::logic_error("special subpicture unit contains 00 00 01");
}

}  // namespace tarnwick::mkdisc
