#include "vc1_essence.h"

#include <algorithm>

namespace tarnwick::mkdisc {

Bytes vc1Escape(const Bytes& raw) {
  Bytes out;
  out.reserve(raw.size() + 4);
  int zeros = 0;
  for (std::uint8_t b : raw) {
    if (zeros >= 2 && b <= 3) {
      out.push_back(0x03);
      zeros = 0;
    }
    out.push_back(b);
    zeros = (b == 0) ? zeros + 1 : 0;
  }
  return out;
}

namespace {

Bytes withStartCode(std::uint8_t suffix, const BitWriter& w) {
  Bytes out = {0x00, 0x00, 0x01, suffix};
  const Bytes body = vc1Escape(w.bytes());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// Filler for frame bodies: no zero bytes, so neither start codes nor
// escapes can appear. Frames copy from one pool: cheap at gigabytes.
const Bytes& fillerPool() {
  static const Bytes pool = [] {
    Bytes p(1u << 22);
    std::uint32_t x = 2463534242u;
    for (auto& b : p) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      b = static_cast<std::uint8_t>(x >> 24);
      if (b == 0) b = 0x5A;
    }
    return p;
  }();
  return pool;
}

}  // namespace

Bytes vc1SequenceHeader(const Vc1Format& f) {
  BitWriter w;
  w.put(3, 2);                        // PROFILE: advanced
  w.put(static_cast<unsigned>(f.level), 3);
  w.put(1, 2);                        // COLORDIFF_FORMAT: 4:2:0
  w.put(5, 3);                        // FRMRTQ_POSTPROC: about 24 fps
  w.put(31, 5);                       // BITRTQ_POSTPROC: 2 Mbit/s or more
  w.put(0, 1);                        // POSTPROCFLAG
  w.put(static_cast<unsigned>(f.width / 2 - 1), 12);   // MAX_CODED_WIDTH
  w.put(static_cast<unsigned>(f.height / 2 - 1), 12);  // MAX_CODED_HEIGHT
  w.put(0, 1);                        // PULLDOWN
  w.put(0, 1);                        // INTERLACE
  w.put(0, 1);                        // TFCNTRFLAG
  w.put(0, 1);                        // FINTERPFLAG
  w.put(1, 1);                        // reserved, always 1
  w.put(0, 1);                        // PSF
  w.put(1, 1);                        // DISPLAY_EXT
  w.put(static_cast<unsigned>(f.width - 1), 14);   // DISP_HORIZ_SIZE
  w.put(static_cast<unsigned>(f.height - 1), 14);  // DISP_VERT_SIZE
  w.put(1, 1);                        // ASPECT_RATIO_FLAG
  w.put(static_cast<unsigned>(f.aspectRatio), 4);
  w.put(1, 1);                        // FRAMERATE_FLAG
  w.put(0, 1);                        // FRAMERATEIND: NR/DR form
  w.put(static_cast<unsigned>(f.frameRateNr), 8);
  w.put(static_cast<unsigned>(f.frameRateDr), 4);
  w.put(1, 1);                        // COLOR_FORMAT_FLAG
  w.put(1, 8);                        // COLOR_PRIM: BT.709
  w.put(1, 8);                        // TRANSFER_CHAR: BT.709
  w.put(1, 8);                        // MATRIX_COEF: BT.709
  w.put(0, 1);                        // HRD_PARAM_FLAG
  w.putBit(1);                        // stuffing: a one, then zeros to the byte
  w.align(0);
  return withStartCode(0x0F, w);
}

Bytes vc1EntryPoint() {
  BitWriter w;
  w.put(0, 1);  // BROKEN_LINK
  w.put(1, 1);  // CLOSED_ENTRY
  w.put(0, 1);  // PANSCAN_FLAG
  w.put(0, 1);  // REFDIST_FLAG
  w.put(1, 1);  // LOOPFILTER
  w.put(0, 1);  // FASTUVMC
  w.put(0, 1);  // EXTENDED_MV
  w.put(0, 2);  // DQUANT
  w.put(1, 1);  // VSTRANSFORM
  w.put(0, 1);  // OVERLAP
  w.put(0, 2);  // QUANTIZER: implicit
  w.put(0, 1);  // CODED_SIZE_FLAG
  w.put(0, 1);  // RANGE_MAPY_FLAG
  w.put(0, 1);  // RANGE_MAPUV_FLAG
  w.putBit(1);
  w.align(0);
  return withStartCode(0x0E, w);
}

Bytes vc1Frame(Vc1PictureType type, std::size_t size, std::uint32_t seed) {
  BitWriter w;
  // PTYPE for a progressive picture: P = 0, B = 10, I = 110.
  switch (type) {
    case Vc1PictureType::P: w.put(0b0, 1); break;
    case Vc1PictureType::B: w.put(0b10, 2); break;
    case Vc1PictureType::I: w.put(0b110, 3); break;
  }
  w.put(0, 1);    // RNDCTRL
  w.put(10, 5);   // PQINDEX (above 8, so no HALFQP bit)
  w.align(1);     // ones keep the body free of zero bytes
  Bytes out = withStartCode(0x0D, w);
  const Bytes& pool = fillerPool();
  std::size_t at = (static_cast<std::size_t>(seed) * 7919u) % pool.size();
  out.reserve(size);
  while (out.size() < size) {
    const std::size_t n = std::min(size - out.size(), pool.size() - at);
    out.insert(out.end(), pool.begin() + static_cast<std::ptrdiff_t>(at),
               pool.begin() + static_cast<std::ptrdiff_t>(at + n));
    at = 0;
  }
  return out;
}

}  // namespace tarnwick::mkdisc
