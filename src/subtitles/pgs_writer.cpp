#include "subtitles/pgs_writer.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

namespace tarnwick {
namespace {

constexpr std::uint8_t kFrameRate23976 = 0x10;  // frame_rate code used by every PGS stream seen in the wild
constexpr std::uint8_t kEpochStart = 0x80;      // composition_state
constexpr std::uint8_t kNormalCase = 0x00;
constexpr std::uint8_t kForcedOnFlag = 0x40;    // in the composition object's flags
constexpr std::uint8_t kFirstInSequence = 0x80;  // ODS last_in_sequence_flag bits
constexpr std::uint8_t kLastInSequence = 0x40;
constexpr std::size_t kOdsFirstHeader = 11;  // object_id, version, flag, object_data_length, width, height
constexpr std::size_t kOdsNextHeader = 4;    // object_id, version, flag
constexpr std::size_t kMaxObjectDataLength = 0xFFFFFF;  // 24-bit object_data_length
constexpr int kMaxRun = 0x3FFF;                         // 14-bit run length

void put8(std::vector<std::uint8_t>& out, unsigned v) { out.push_back(static_cast<std::uint8_t>(v)); }
void put16(std::vector<std::uint8_t>& out, unsigned v) {
  put8(out, v >> 8);
  put8(out, v);
}
void put24(std::vector<std::uint8_t>& out, unsigned v) {
  put8(out, v >> 16);
  put16(out, v & 0xFFFF);
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  put16(out, v >> 16);
  put16(out, v & 0xFFFF);
}

void putRun(std::vector<std::uint8_t>& out, std::uint8_t colour, int run) {
  if (colour != 0 && run <= 2) {
    for (int i = 0; i < run; ++i) put8(out, colour);  // a lone pixel is its colour byte
    return;
  }
  put8(out, 0);
  const unsigned wide = run >= 64 ? 0x40u : 0u;
  const unsigned coloured = colour != 0 ? 0x80u : 0u;
  if (wide) {
    put8(out, coloured | wide | static_cast<unsigned>(run >> 8));
    put8(out, static_cast<unsigned>(run & 0xFF));
  } else {
    put8(out, coloured | static_cast<unsigned>(run));
  }
  if (coloured) put8(out, colour);
}

}  // namespace

std::vector<std::uint8_t> encodePgsObject(const std::uint8_t* pixels, int width, int height, std::size_t stride) {
  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) / 4 + 2 * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* line = pixels + static_cast<std::size_t>(y) * stride;
    int x = 0;
    while (x < width) {
      const std::uint8_t colour = line[x];
      const int limit = std::min(width - x, kMaxRun);
      int run = 1;
      while (run < limit && line[x + run] == colour) ++run;
      putRun(out, colour, run);
      x += run;
    }
    put16(out, 0);  // end of line
  }
  return out;
}

PgsWriter::PgsWriter(ByteSink sink, VideoSize video) : sink_(std::move(sink)), video_(video) {}

void PgsWriter::segment(std::vector<std::uint8_t>& out, std::uint32_t pts, std::uint8_t type,
                        const std::vector<std::uint8_t>& payload) {
  out.push_back('P');
  out.push_back('G');
  put32(out, pts);
  put32(out, 0);  // DTS: not used by readers of .sup files
  put8(out, type);
  put16(out, static_cast<unsigned>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
}

std::vector<std::uint8_t> PgsWriter::windowDefinition() const {
  std::vector<std::uint8_t> wds;
  put8(wds, 1);  // number_of_windows
  put8(wds, 0);  // window_id
  put16(wds, static_cast<unsigned>(wx_));
  put16(wds, static_cast<unsigned>(wy_));
  put16(wds, static_cast<unsigned>(ww_));
  put16(wds, static_cast<unsigned>(wh_));
  return wds;
}

PgsWriter::Shown PgsWriter::show(const Caption& c, std::uint32_t start) {
  // The visible box: pixels not fully transparent, inside the frame.
  std::array<bool, 256> visible{};
  for (int i = 0; i < 256; ++i) visible[i] = c.palette[i].alpha != 0;
  const int left = std::max(0, -c.x), top = std::max(0, -c.y);
  const int right = std::min(c.width, video_.width - c.x), bottom = std::min(c.height, video_.height - c.y);
  int minX = c.width, maxX = -1, minY = c.height, maxY = -1;
  for (int y = top; y < bottom; ++y) {
    const std::uint8_t* line = c.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(c.width);
    int first = left;
    while (first < right && !visible[line[first]]) ++first;
    if (first == right) continue;
    int last = right - 1;
    while (!visible[line[last]]) --last;
    minX = std::min(minX, first);
    maxX = std::max(maxX, last);
    minY = std::min(minY, y);
    maxY = y;
  }
  if (maxX < 0) return Shown::Invisible;
  const int w = maxX - minX + 1, h = maxY - minY + 1;
  const std::uint8_t* origin =
      c.pixels.data() + static_cast<std::size_t>(minY) * static_cast<std::size_t>(c.width) + static_cast<std::size_t>(minX);
  const std::vector<std::uint8_t> rle = encodePgsObject(origin, w, h, static_cast<std::size_t>(c.width));
  if (rle.size() + 4 > kMaxObjectDataLength) return Shown::TooLarge;

  wx_ = c.x + minX;
  wy_ = c.y + minY;
  ww_ = w;
  wh_ = h;
  std::vector<std::uint8_t> out;
  out.reserve(rle.size() + rle.size() / kMaxSegmentSize * 17 + 2048);

  std::vector<std::uint8_t> pcs;
  put16(pcs, static_cast<unsigned>(video_.width));
  put16(pcs, static_cast<unsigned>(video_.height));
  put8(pcs, kFrameRate23976);
  put16(pcs, compositionNumber_++);
  put8(pcs, kEpochStart);
  put8(pcs, 0);  // palette_update_flag
  put8(pcs, 0);  // palette_id
  put8(pcs, 1);  // number_of_composition_objects
  put16(pcs, 0);  // object_id
  put8(pcs, 0);   // window_id
  put8(pcs, c.forced ? kForcedOnFlag : 0);
  put16(pcs, static_cast<unsigned>(wx_));
  put16(pcs, static_cast<unsigned>(wy_));
  segment(out, start, kPcsSegment, pcs);
  segment(out, start, kWdsSegment, windowDefinition());

  // Only the entries the object uses go into the palette.
  std::array<bool, 256> used{};
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* line = origin + static_cast<std::size_t>(y) * static_cast<std::size_t>(c.width);
    for (int x = 0; x < w; ++x) used[line[x]] = true;
  }
  std::vector<std::uint8_t> pds;
  put8(pds, 0);  // palette_id
  put8(pds, 0);  // palette_version_number
  for (int i = 0; i < 256; ++i) {
    if (!used[i]) continue;
    const PaletteEntry& e = c.palette[i];
    put8(pds, static_cast<unsigned>(i));
    put8(pds, e.y);
    put8(pds, e.cr);
    put8(pds, e.cb);
    put8(pds, e.alpha);
  }
  segment(out, start, kPdsSegment, pds);

  // The object's run-length data, split over ODS fragments when it is larger
  // than one segment holds.
  std::size_t done = 0;
  bool first = true;
  do {
    const std::size_t room = kMaxSegmentSize - (first ? kOdsFirstHeader : kOdsNextHeader);
    const std::size_t take = std::min(room, rle.size() - done);
    const bool last = done + take == rle.size();
    std::vector<std::uint8_t> ods;
    ods.reserve(take + kOdsFirstHeader);
    put16(ods, 0);  // object_id
    put8(ods, 0);   // object_version_number
    put8(ods, (first ? kFirstInSequence : 0) | (last ? kLastInSequence : 0));
    if (first) {
      put24(ods, static_cast<unsigned>(rle.size() + 4));  // object_data_length counts width and height
      put16(ods, static_cast<unsigned>(w));
      put16(ods, static_cast<unsigned>(h));
    }
    ods.insert(ods.end(), rle.begin() + static_cast<std::ptrdiff_t>(done),
               rle.begin() + static_cast<std::ptrdiff_t>(done + take));
    segment(out, start, kOdsSegment, ods);
    done += take;
    first = false;
  } while (done < rle.size());
  segment(out, start, kEndSegment, {});
  sink_(out.data(), out.size());
  return Shown::Yes;
}

void PgsWriter::clear(std::uint32_t end) {
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> pcs;
  put16(pcs, static_cast<unsigned>(video_.width));
  put16(pcs, static_cast<unsigned>(video_.height));
  put8(pcs, kFrameRate23976);
  put16(pcs, compositionNumber_++);
  put8(pcs, kNormalCase);
  put8(pcs, 0);  // palette_update_flag
  put8(pcs, 0);  // palette_id
  put8(pcs, 0);  // number_of_composition_objects
  segment(out, end, kPcsSegment, pcs);
  segment(out, end, kWdsSegment, windowDefinition());
  segment(out, end, kEndSegment, {});
  sink_(out.data(), out.size());
}

PgsConverter::PgsConverter(ByteSink sink, LogSink& log, PgsOptions options)
    : log_(log),
      options_(options),
      writer_(std::move(sink), options.video),
      decoder_(log, options.colours),
      assembler_(log, [this](const std::uint8_t* unit, std::size_t size, std::uint32_t pts) {
        addUnit(unit, size, pts);
      }) {}

std::uint32_t PgsConverter::rebase(std::uint32_t t) {
  if (t >= options_.timeBase) return t - options_.timeBase;
  log_.log("   Subpicture time " + formatTicks(t) + " lies before the start of the run: written as 0");
  return 0;
}

void PgsConverter::closePending(std::optional<std::uint32_t> nextStart) {
  if (!showing_) return;
  std::uint32_t end;
  if (shownEnd_) {
    end = nextStart ? std::min(*shownEnd_, *nextStart) : *shownEnd_;
  } else {
    end = nextStart ? *nextStart : shownStart_ + kOpenCaptionTicks;
  }
  writer_.clear(std::max(end, shownStart_));
  showing_ = false;
}

void PgsConverter::feed(const std::uint8_t* p, std::size_t n, bool hasPts, std::uint32_t pts) {
  assembler_.feed(p, n, hasPts, pts);
}

void PgsConverter::addUnit(const std::uint8_t* unit, std::size_t size, std::uint32_t pts) {
  std::optional<Caption> c = decoder_.decode(unit, size, pts);
  if (!c) return;
  const std::uint32_t start = rebase(c->start);
  // A new display replaces the one on screen, whether or not it shows anything.
  closePending(start);
  const PgsWriter::Shown shown = writer_.show(*c, start);
  if (shown == PgsWriter::Shown::TooLarge)
    log_.log("   Caption at " + formatTicks(start) + " skipped: its run-length data exceeds a PGS object's 16 MiB");
  if (shown != PgsWriter::Shown::Yes) return;
  showing_ = true;
  shownStart_ = start;
  shownEnd_ = c->end ? std::optional<std::uint32_t>(std::max(rebase(*c->end), start)) : std::nullopt;
  ++captions_;
}

void PgsConverter::finish() {
  assembler_.finish();
  closePending(std::nullopt);
}

}  // namespace tarnwick
