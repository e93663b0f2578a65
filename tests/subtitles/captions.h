#pragma once
// Caption scenarios shared by the subtitle suites: bitmaps whose two fields
// differ, with long runs, and the units and program stream made of them.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "subtitles/pgs_writer.h"
#include "support/lines_sink.h"
#include "support/spu_builder.h"

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
