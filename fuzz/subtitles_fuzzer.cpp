// Subpicture units in any state of damage: decoded and written as PGS, the
// PGS read back, and the two sides must agree (every caption we wrote comes
// back whole, inside the frame, cropped to visible pixels). The input is
// also read as SP records and as a PGS stream of its own.

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "subtitles/pgs_reader.h"
#include "subtitles/pgs_writer.h"
#include "subtitles/sp_records.h"

namespace {

class NullSink : public tarnwick::LogSink {
 public:
  void log(std::string_view) override {}
};

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  NullSink log;
  std::vector<std::uint8_t> pgs;
  // A small frame, so that captions also fall partly outside it.
  const VideoSize video{size % 2 ? 720 : 1920, size % 2 ? 576 : 1080};
  PgsConverter converter([&](const std::uint8_t* p, std::size_t n) { pgs.insert(pgs.end(), p, p + n); }, log,
                         {video, 1000, std::nullopt});
  // Units one after another, each in packets of up to 2000 bytes as the
  // scanner hands them over; the time stamps step from below the base.
  std::size_t pos = 0;
  std::uint32_t pts = 0;
  while (pos < size) {
    std::size_t unit = subpictureUnitSize(data + pos, size - pos);
    if (unit == 0) unit = size - pos;
    unit = std::min(unit, size - pos);
    for (std::size_t at = 0; at < unit; at += 2000)
      converter.feed(data + pos + at, std::min<std::size_t>(2000, unit - at), at == 0, pts);
    pos += unit;
    pts += 40000;
  }
  converter.finish();

  // Display sets never go back in time, whatever times the units carry.
  std::uint32_t last = 0;
  for (std::size_t at = 0; at + kPgsSegmentHeaderSize <= pgs.size();
       at += kPgsSegmentHeaderSize + (static_cast<std::size_t>(pgs[at + 11]) << 8 | pgs[at + 12])) {
    const std::uint32_t time = static_cast<std::uint32_t>(pgs[at + 2]) << 24 | static_cast<std::uint32_t>(pgs[at + 3]) << 16 |
                               static_cast<std::uint32_t>(pgs[at + 4]) << 8 | pgs[at + 5];
    check(time >= last);
    last = time;
  }

  std::istringstream written(std::string(pgs.begin(), pgs.end()));
  std::uint64_t captions = 0;
  const PgsReadSummary summary = readPgs(written, log, [&](const Caption& c) {
    ++captions;
    check(c.end.has_value() && *c.end >= c.start);
    check(c.width > 0 && c.height > 0 && c.x >= 0 && c.y >= 0);
    check(c.x + c.width <= video.width && c.y + c.height <= video.height);
    check(c.pixels.size() == static_cast<std::size_t>(c.width) * static_cast<std::size_t>(c.height));
    // Cropped: the first and last line and column each hold a visible pixel.
    const auto visible = [&](int x, int y) { return c.palette[c.pixels[static_cast<std::size_t>(y) * c.width + x]].alpha != 0; };
    bool top = false, bottom = false, left = false, right = false;
    for (int x = 0; x < c.width; ++x) top |= visible(x, 0), bottom |= visible(x, c.height - 1);
    for (int y = 0; y < c.height; ++y) left |= visible(0, y), right |= visible(c.width - 1, y);
    check(top && bottom && left && right);
  });
  check(!summary.damaged);
  check(captions == converter.captionsWritten());
  check(summary.displaySets == 2 * captions);

  std::istringstream records(std::string(reinterpret_cast<const char*>(data), size));
  SubpictureDecoder decoder(log);
  readSpRecords(records, log, [&](const std::uint8_t* u, std::size_t n, std::uint32_t t) { decoder.decode(u, n, t); });
  std::istringstream raw(std::string(reinterpret_cast<const char*>(data), size));
  readPgs(raw, log, [](const Caption&) {});
  return 0;
}
