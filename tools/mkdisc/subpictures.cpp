#include "subpictures.h"

#include <algorithm>
#include <stdexcept>
#include <string>

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
  if (hasStartCodePrefix(unit)) throw std::logic_error(std::string(what) + " contains 00 00 01");
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

}  // namespace tarnwick::mkdisc
