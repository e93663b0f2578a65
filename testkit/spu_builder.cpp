#include "testkit/spu_builder.h"

#include <algorithm>
#include <stdexcept>

namespace tarnwick::testkit {
namespace {

class BitWriter {
 public:
  void put(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      cur_ = static_cast<std::uint8_t>(cur_ << 1 | ((value >> i) & 1u));
      if (++used_ == 8) {
        out_.push_back(cur_);
        cur_ = 0;
        used_ = 0;
      }
    }
  }
  void align() {
    while (used_ != 0) put(0, 1);
  }
  Bytes& bytes() { return out_; }

 private:
  Bytes out_;
  std::uint8_t cur_ = 0;
  int used_ = 0;
};

void put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}
void put32(Bytes& out, std::uint32_t v) {
  put16(out, v >> 16);
  put16(out, v & 0xFFFF);
}
void set(Bytes& out, std::size_t at, std::uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out[at + static_cast<std::size_t>(bytes - 1 - i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// 2-bit code: n << 2 | c in 1, 2, 3 or 4 nibbles; 0 << 2 | c in 4 nibbles fills the line.
void twoBitRun(BitWriter& w, int n, int c) {
  const std::uint32_t code = static_cast<std::uint32_t>(n << 2 | c);
  const int nibbles = n == 0 ? 4 : n < 4 ? 1 : n < 16 ? 2 : n < 64 ? 3 : 4;
  w.put(code, 4 * nibbles);
}

// 8-bit code: run flag, wide-colour flag, colour (2 or 8 bits), then for runs
// the long flag and 3 bits (2..9) or 7 bits (10..136, 0 to the line's end).
void eightBitRun(BitWriter& w, int n, int c) {
  const bool wide = c > 3;
  w.put(n != 1 ? 1 : 0, 1);
  w.put(wide ? 1 : 0, 1);
  w.put(static_cast<std::uint32_t>(c), wide ? 8 : 2);
  if (n == 1) return;
  if (n == 0) {
    w.put(1, 1);
    w.put(0, 7);
  } else if (n <= 9) {
    w.put(0, 1);
    w.put(static_cast<std::uint32_t>(n - 2), 3);
  } else {
    w.put(1, 1);
    w.put(static_cast<std::uint32_t>(n - 9), 7);
  }
}

Bytes field(const SpuBitmap& b, int firstLine, const SpuOptions& o) {
  BitWriter w;
  const int maxRun = o.eightBit ? 136 : 255;
  for (int y = firstLine; y < b.height; y += 2) {
    const std::uint8_t* line = &b.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(b.width)];
    int x = 0;
    while (x < b.width) {
      int n = 1;
      while (x + n < b.width && line[x + n] == line[x]) ++n;
      const bool last = x + n == b.width;
      int coded = n;
      if (last && o.toLineEnd) {
        coded = 0;
      } else {
        n = std::min(n, maxRun);
        coded = n;
      }
      if (o.eightBit) {
        eightBitRun(w, coded, line[x]);
      } else {
        twoBitRun(w, coded, line[x]);
      }
      x += n;
    }
    w.align();
  }
  return w.bytes();
}

}  // namespace

void fillTestPalette(SpuOptions& o) {
  for (int i = 0; i < 256; ++i) {
    o.palette[i] = {static_cast<std::uint8_t>(16 + (i * 7) % 220), static_cast<std::uint8_t>(40 + (i * 13) % 176),
                    static_cast<std::uint8_t>(40 + (i * 29) % 176)};
    o.contrast8[i] = i == 0 ? 255 : 0;
  }
}

void putDisplayArea(Bytes& u, std::uint8_t command, const SpuBitmap& b) {
  const unsigned x2 = static_cast<unsigned>(b.x + b.width - 1), y2 = static_cast<unsigned>(b.y + b.height - 1);
  u.push_back(command);
  u.push_back(static_cast<std::uint8_t>(b.x >> 4));
  u.push_back(static_cast<std::uint8_t>((b.x & 0xF) << 4 | x2 >> 8));
  u.push_back(static_cast<std::uint8_t>(x2));
  u.push_back(static_cast<std::uint8_t>(b.y >> 4));
  u.push_back(static_cast<std::uint8_t>((b.y & 0xF) << 4 | y2 >> 8));
  u.push_back(static_cast<std::uint8_t>(y2));
}

Bytes buildSpu(const SpuBitmap& b, const SpuOptions& o) {
  if (b.pixels.size() != static_cast<std::size_t>(b.width) * static_cast<std::size_t>(b.height))
    throw std::invalid_argument("bitmap size");
  const bool hd = o.hdHeader || o.eightBit;
  const int off = hd ? 4 : 2;
  Bytes u;
  if (hd) u = {0, 0};
  u.resize(hd ? 10 : 4, 0);
  const std::size_t topAt = u.size();
  const Bytes top = field(b, 0, o);
  u.insert(u.end(), top.begin(), top.end());
  const std::size_t bottomAt = u.size();
  const Bytes bottom = field(b, 1, o);
  u.insert(u.end(), bottom.begin(), bottom.end());

  const std::size_t first = u.size();
  put16(u, o.startDelay);                      // SP_DCSQ_STM
  const std::size_t nextAt = u.size();
  u.resize(u.size() + static_cast<std::size_t>(off));  // SP_NXT_DCSQ_SA, set below
  u.push_back(o.forced ? 0x00 : 0x01);
  if (o.colourCommands && o.eightBit) {
    u.push_back(0x83);
    for (const auto& e : o.palette) u.insert(u.end(), e.begin(), e.end());
    u.push_back(0x84);
    u.insert(u.end(), o.contrast8.begin(), o.contrast8.end());
  } else if (o.colourCommands) {
    u.push_back(0x03);
    u.push_back(static_cast<std::uint8_t>(o.colour[3] << 4 | o.colour[2]));
    u.push_back(static_cast<std::uint8_t>(o.colour[1] << 4 | o.colour[0]));
    u.push_back(0x04);
    u.push_back(static_cast<std::uint8_t>(o.contrast[3] << 4 | o.contrast[2]));
    u.push_back(static_cast<std::uint8_t>(o.contrast[1] << 4 | o.contrast[0]));
  }
  putDisplayArea(u, o.eightBit ? 0x85 : 0x05, b);
  if (hd && o.eightBit) {
    u.push_back(0x86);
    put32(u, static_cast<std::uint32_t>(topAt));
    put32(u, static_cast<std::uint32_t>(bottomAt));
  } else {
    u.push_back(0x06);
    put16(u, static_cast<std::uint32_t>(topAt));
    put16(u, static_cast<std::uint32_t>(bottomAt));
  }
  u.push_back(0xFF);
  std::size_t last = first;
  if (o.stopDelay) {
    last = u.size();
    put16(u, *o.stopDelay);
    u.resize(u.size() + static_cast<std::size_t>(off));
    set(u, u.size() - static_cast<std::size_t>(off), static_cast<std::uint32_t>(last), off);  // the last points to itself
    u.push_back(0x02);
    u.push_back(0xFF);
  }
  set(u, nextAt, static_cast<std::uint32_t>(last), off);
  if (hd) {
    set(u, 2, static_cast<std::uint32_t>(u.size()), 4);
    set(u, 6, static_cast<std::uint32_t>(first), 4);
  } else {
    if (u.size() > 0xFFFF) throw std::invalid_argument("a DVD unit holds at most 65535 bytes");
    set(u, 0, static_cast<std::uint32_t>(u.size()), 2);
    set(u, 2, static_cast<std::uint32_t>(first), 2);
  }
  return u;
}

void addSpuPackets(PsBuilder& ps, std::uint8_t id, const Bytes& unit, std::uint64_t pts, std::size_t chunk) {
  for (std::size_t at = 0; at < unit.size(); at += chunk) {
    const std::size_t n = std::min(chunk, unit.size() - at);
    ps.packHeader(pts > 9000 ? pts - 9000 : 0);
    ps.subpicture(id, Bytes(unit.begin() + static_cast<std::ptrdiff_t>(at), unit.begin() + static_cast<std::ptrdiff_t>(at + n)),
                  at == 0 ? std::optional<std::uint64_t>(pts) : std::nullopt);
  }
}

}  // namespace tarnwick::testkit
