#pragma once
// Caption scenarios shared by the subtitle suites: bitmaps whose two fields
// differ, with long runs, and the units and program stream made of them.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "subtitles/pgs_writer.h"
#include "support/lines_sink.h"
#include "support/builders.h"

namespace tarnwick::test {

struct TimedUnit {
  std::uint64_t pts;
  Bytes unit;
};

// A framed band of stripes; odd and even lines differ, and the middle line is
// one long run. `noise` fills the inside with pixel-by-pixel noise (a unit
// whose run-length data is far larger than one PGS segment).
inline SpuBitmap captionBitmap(int x, int y, int width, int height, int colours, int variant, bool noise = false) {
  SpuBitmap b{x, y, width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height, 0)};
  std::uint32_t seed = 12345u + static_cast<std::uint32_t>(variant);
  for (int py = 0; py < height; ++py) {
    for (int px = 0; px < width; ++px) {
      std::uint8_t v;
      if (py < 2 || py >= height - 2) {
        v = 0;  // transparent margin, cropped away in PGS
      } else if (px == 2 || px == width - 3 || py == 2 || py == height - 3) {
        v = 1;
      } else if (px < 2 || px > width - 3) {
        v = 0;
      } else if (noise) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(1 + (seed >> 16) % static_cast<std::uint32_t>(colours - 1));
      } else if (py == height / 2) {
        v = static_cast<std::uint8_t>(colours - 1);  // one run across the line
      } else if (py % 2 == 0) {
        v = static_cast<std::uint8_t>(1 + ((px + variant * 7) / 11) % (colours - 1));
      } else {
        v = static_cast<std::uint8_t>(1 + ((px / 5 + py) % (colours - 1)));
      }
      b.at(px, py) = v;
    }
  }
  return b;
}

// The units as a program stream of subpicture packets of substream `id`.
inline Bytes subpictureProgramStream(const std::vector<TimedUnit>& units, std::uint8_t id, std::size_t chunk = 2000) {
  PsBuilder ps;
  for (const TimedUnit& u : units) addSpuPackets(ps, id, u.unit, u.pts, chunk);
  ps.raw({0x00, 0x00, 0x01, 0xB9});
  return ps.bytes();
}

// A VC-1 advanced-profile sequence header of a progressive width × height
// stream at 24000/1001, then one frame start: the start of a video stream
// as Read EVO reports its size.
inline Bytes vc1StreamStart(int width, int height) {
  Bytes out;
  int used = 0;
  const auto put = [&](std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i, ++used) {
      if (used % 8 == 0) out.push_back(0);
      if ((value >> i) & 1) out.back() |= static_cast<std::uint8_t>(0x80 >> (used % 8));
    }
  };
  put(0x0000010F, 32);
  put(3, 2), put(3, 3), put(1, 2);  // PROFILE, LEVEL, COLORDIFF_FORMAT
  put(0xFF, 8), put(1, 1);          // FRMRTQ_POSTPROC, BITRTQ_POSTPROC, POSTPROCFLAG
  put(static_cast<std::uint32_t>(width / 2 - 1), 12), put(static_cast<std::uint32_t>(height / 2 - 1), 12);
  put(0, 1), put(0, 1), put(0b0010, 4);  // PULLDOWN, INTERLACE, TFCNTRFLAG .. PSF
  put(1, 1);                             // DISPLAY_EXT
  put(static_cast<std::uint32_t>(width - 1), 14), put(static_cast<std::uint32_t>(height - 1), 14);
  put(1, 1), put(1, 4);                  // ASPECT_RATIO_FLAG, ASPECT_RATIO 1:1
  put(1, 1), put(0, 1), put(1, 8), put(2, 4);  // FRAMERATE_FLAG, FRAMERATEIND, FRAMERATENR, FRAMERATEDR
  put(0, 1), put(0, 1), put(0x80, 8);    // COLOR_FORMAT_FLAG, HRD_PARAM_FLAG, stuffing
  out.insert(out.end(), {0x00, 0x00, 0x01, 0x0D});
  out.insert(out.end(), 64, 0xC5);
  return out;
}

struct Converted {
  Bytes pgs;
  std::vector<std::string> log;
  std::uint64_t captions = 0;
};

// Feeds the units to a converter packet by packet, as the scanner would.
inline Converted convertUnits(const std::vector<TimedUnit>& units, PgsOptions options, std::size_t chunk = 2000) {
  Converted out;
  LinesSink log;
  PgsConverter converter([&](const std::uint8_t* p, std::size_t n) { out.pgs.insert(out.pgs.end(), p, p + n); }, log,
                         options);
  for (const TimedUnit& u : units) {
    for (std::size_t at = 0; at < u.unit.size(); at += chunk) {
      const std::size_t n = std::min(chunk, u.unit.size() - at);
      converter.feed(u.unit.data() + at, n, at == 0, static_cast<std::uint32_t>(u.pts));
    }
  }
  converter.finish();
  out.log = log.lines;
  out.captions = converter.captionsWritten();
  return out;
}

}  // namespace tarnwick::test
