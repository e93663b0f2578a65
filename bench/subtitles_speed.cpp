// How long converting a feature's subtitle stream to PGS takes: a few
// thousand captions of the size of two lines of text, fed packet by packet
// as the scanner hands them over. Prints the time, the rate and the peak
// resident memory (which stays flat: the converter holds one caption).
//   tarnwick-subtitles-bench [CAPTIONS]

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "subtitles/pgs_writer.h"
#include "testkit/spu_builder.h"

namespace {

class CountingSink : public tarnwick::LogSink {
 public:
  void log(std::string_view) override { ++lines; }
  int lines = 0;
};

// Two lines of "text" in a 1200×110 area: 40 character cells a line, each
// with a few strokes 3 pixels wide and an outline colour beside them, the
// rest transparent, as rendered subtitles look.
tarnwick::testkit::SpuBitmap textLike(int variant, bool eightBit) {
  tarnwick::testkit::SpuBitmap b{360, 900, 1200, 110, {}};
  b.pixels.assign(static_cast<std::size_t>(b.width) * b.height, 0);
  const std::uint8_t stroke = eightBit ? 200 : 1, outline = eightBit ? 40 : 2;
  for (int y = 0; y < b.height; ++y) {
    const int row = y % 55;
    if (row < 10 || row > 44) continue;
    for (int cell = 0; cell < 40; ++cell) {
      const int x0 = 20 + cell * 29, shape = (cell * 7 + variant + y / 55) % 5;
      for (int dx = 0; dx < 24; ++dx) {
        const bool vertical = dx % (8 + shape) < 3;
        const bool bar = (row == 12 || row == 26 + shape || row == 42) && dx < 20;
        if (vertical || bar) b.at(x0 + dx, y) = stroke;
        else if (dx % (8 + shape) == 3) b.at(x0 + dx, y) = outline;
      }
    }
  }
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  const int captions = argc > 1 ? std::atoi(argv[1]) : 3000;
  for (const bool eightBit : {false, true}) {
    tarnwick::testkit::SpuOptions o;
    o.eightBit = eightBit;
    o.hdHeader = true;
    tarnwick::testkit::fillTestPalette(o);
    o.stopDelay = 200;
    std::vector<tarnwick::testkit::Bytes> units;
    for (int v = 0; v < 8; ++v) units.push_back(tarnwick::testkit::buildSpu(textLike(v, eightBit), o));

    CountingSink log;
    std::size_t in = 0, out = 0;
    const auto started = std::chrono::steady_clock::now();
    tarnwick::PgsConverter converter([&](const std::uint8_t*, std::size_t n) { out += n; }, log);
    for (int i = 0; i < captions; ++i) {
      const auto& u = units[static_cast<std::size_t>(i) % units.size()];
      const std::uint32_t pts = 90000u + static_cast<std::uint32_t>(i) * 270000u;
      for (std::size_t at = 0; at < u.size(); at += 2000)
        converter.feed(u.data() + at, std::min<std::size_t>(2000, u.size() - at), at == 0, pts);
      in += u.size();
    }
    converter.finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s: %d captions, %.1f MB of units -> %.1f MB of PGS in %.3f s (%.0f captions/s), peak RSS %ld MB\n",
                eightBit ? "8-bit" : "2-bit", static_cast<int>(converter.captionsWritten()), in / 1e6, out / 1e6,
                seconds, captions / seconds, usage.ru_maxrss / 1024);
    if (converter.captionsWritten() != static_cast<std::uint64_t>(captions) || log.lines > (eightBit ? 0 : 1)) {
      std::fprintf(stderr, "unexpected: %d log lines\n", log.lines);
      return 1;
    }
  }
  return 0;
}
