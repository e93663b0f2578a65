#include "subtitles/pgs_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
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

// Appends one run; at most 4 bytes, and at most 2 bytes a pixel.
std::uint8_t* putRun(std::uint8_t* out, std::uint8_t colour, int run) {
  if (colour != 0 && run <= 2) {
    *out++ = colour;  // a lone pixel is its colour byte
    if (run == 2) *out++ = colour;
    return out;
  }
  *out++ = 0;
  const unsigned coloured = colour != 0 ? 0x80u : 0u;
  if (run >= 64) {
    *out++ = static_cast<std::uint8_t>(coloured | 0x40u | static_cast<unsigned>(run >> 8));
    *out++ = static_cast<std::uint8_t>(run & 0xFF);
  } else {
    *out++ = static_cast<std::uint8_t>(coloured | static_cast<unsigned>(run));
  }
  if (coloured) *out++ = colour;
  return out;
}

// The length of the run of `colour` that starts at line[0], at most limit.
int runLength(const std::uint8_t* line, std::uint8_t colour, int limit) {
  int run = 1;
  if constexpr (std::endian::native == std::endian::little) {
    const std::uint64_t pattern = 0x0101010101010101ull * colour;
    while (run + 8 <= limit) {
      std::uint64_t word;
      std::memcpy(&word, line + run, sizeof word);
      if (const std::uint64_t differs = word ^ pattern) return run + std::countr_zero(differs) / 8;
      run += 8;
    }
  }
  while (run < limit && line[run] == colour) ++run;
  return run;
}

struct Box {
  int minX = 0, maxX = -1, minY = 0, maxY = -1;  // maxX −1: no visible pixel
};

// The box of the visible pixels of c within columns [left, right) and lines
// [top, bottom), all inside the caption.
Box visibleBox(const Caption& c, const std::array<bool, 256>& visible, int left, int top, int right, int bottom) {
  Box box{right, -1, bottom, -1};
  for (int y = top; y < bottom; ++y) {
    const std::uint8_t* line = c.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(c.width);
    int first = left;
    while (first < right && !visible[line[first]]) ++first;
    if (first == right) continue;
    int last = right - 1;
    while (!visible[line[last]]) --last;
    box.minX = std::min(box.minX, first);
    box.maxX = std::max(box.maxX, last);
    box.minY = std::min(box.minY, y);
    box.maxY = y;
  }
  return box;
}

}  // namespace

VideoSize subpicturePlane(VideoSize video) {
  // A DVD's subpictures cover the full frame of its TV system even over a
  // smaller coded picture (352×288 is a 576-line title's).
  if (video.width <= 720 && video.height <= 576) return {720, video.height == 240 || video.height == 480 ? 480 : 576};
  return {1920, 1080};
}

std::size_t pgsObjectSizeBound(int width, int height) {
  const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  return 2 * w * h + 2 * h;  // 2 bytes a pixel at worst (lone transparent pixels), 2 a line
}

std::size_t encodePgsObject(const std::uint8_t* pixels, int width, int height, std::size_t stride, std::uint8_t* out,
                            std::array<bool, 256>& used) {
  std::uint8_t* at = out;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* line = pixels + static_cast<std::size_t>(y) * stride;
    int x = 0;
    while (x < width) {
      const std::uint8_t colour = line[x];
      const int run = runLength(line + x, colour, std::min(width - x, kMaxRun));
      used[colour] = true;
      at = putRun(at, colour, run);
      x += run;
    }
    *at++ = 0;  // end of line
    *at++ = 0;
  }
  return static_cast<std::size_t>(at - out);
}

PgsWriter::PgsWriter(ByteSink sink, VideoSize video) : sink_(std::move(sink)), video_(video) {}

void PgsWriter::segment(std::vector<std::uint8_t>& out, std::uint32_t pts, std::uint8_t type,
                        const std::vector<std::uint8_t>& payload) {
  segmentHeader(out, pts, type, payload.size());
  out.insert(out.end(), payload.begin(), payload.end());
}

void PgsWriter::segmentHeader(std::vector<std::uint8_t>& out, std::uint32_t pts, std::uint8_t type, std::size_t size) {
  out.push_back('P');
  out.push_back('G');
  put32(out, pts);
  put32(out, 0);  // DTS: not used by readers of .sup files
  put8(out, type);
  put16(out, static_cast<unsigned>(size));
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
  // The visible box: pixels not fully transparent; then, when that box
  // reaches past the canvas, the visible box of the part inside it.
  std::array<bool, 256> visible{};
  for (int i = 0; i < 256; ++i) visible[i] = c.palette[i].alpha != 0;
  Box box = visibleBox(c, visible, 0, 0, c.width, c.height);
  if (box.maxX < 0) return Shown::Invisible;
  bool cut = false;
  if (c.x + box.minX < 0 || c.y + box.minY < 0 || c.x + box.maxX >= video_.width || c.y + box.maxY >= video_.height) {
    const int left = std::max(0, -c.x), top = std::max(0, -c.y);
    const int right = std::min(c.width, video_.width - c.x), bottom = std::min(c.height, video_.height - c.y);
    if (right <= left || bottom <= top) return Shown::Outside;
    box = visibleBox(c, visible, left, top, right, bottom);
    if (box.maxX < 0) return Shown::Outside;
    cut = true;
  }
  const int minX = box.minX, maxX = box.maxX, minY = box.minY, maxY = box.maxY;
  const int w = maxX - minX + 1, h = maxY - minY + 1;
  const std::uint8_t* origin =
      c.pixels.data() + static_cast<std::size_t>(minY) * static_cast<std::size_t>(c.width) + static_cast<std::size_t>(minX);
  // The run-length data goes into a buffer kept from caption to caption and
  // never cleared: only what the encoder writes is read back.
  const std::size_t bound = pgsObjectSizeBound(w, h);
  if (bound > rleCapacity_) {
    rle_ = std::make_unique_for_overwrite<std::uint8_t[]>(bound);
    rleCapacity_ = bound;
  }
  // Only the entries the object uses go into the palette.
  std::array<bool, 256> used{};
  const std::size_t rleSize = encodePgsObject(origin, w, h, static_cast<std::size_t>(c.width), rle_.get(), used);
  if (rleSize + 4 > kMaxObjectDataLength) return Shown::TooLarge;

  wx_ = c.x + minX;
  wy_ = c.y + minY;
  ww_ = w;
  wh_ = h;
  std::vector<std::uint8_t>& out = out_;
  out.clear();
  out.reserve(rleSize + rleSize / kMaxSegmentSize * 17 + 2048);

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
    const std::size_t header = first ? kOdsFirstHeader : kOdsNextHeader;
    const std::size_t take = std::min(kMaxSegmentSize - header, rleSize - done);
    const bool last = done + take == rleSize;
    segmentHeader(out, start, kOdsSegment, header + take);
    put16(out, 0);  // object_id
    put8(out, 0);   // object_version_number
    put8(out, (first ? kFirstInSequence : 0) | (last ? kLastInSequence : 0));
    if (first) {
      put24(out, static_cast<unsigned>(rleSize + 4));  // object_data_length counts width and height
      put16(out, static_cast<unsigned>(w));
      put16(out, static_cast<unsigned>(h));
    }
    out.insert(out.end(), rle_.get() + done, rle_.get() + done + take);
    done += take;
    first = false;
  } while (done < rleSize);
  segment(out, start, kEndSegment, {});
  sink_(out.data(), out.size());
  return cut ? Shown::Cut : Shown::Yes;
}

void PgsWriter::clear(std::uint32_t end) {
  std::vector<std::uint8_t>& out = out_;
  out.clear();
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
  lastTime_ = std::max(end, shownStart_);
  writer_.clear(lastTime_);
  showing_ = false;
}

void PgsConverter::feed(const std::uint8_t* p, std::size_t n, bool hasPts, std::uint32_t pts) {
  assembler_.feed(p, n, hasPts, pts);
}

void PgsConverter::addUnit(const std::uint8_t* unit, std::size_t size, std::uint32_t pts) {
  std::optional<Caption> c = decoder_.decode(unit, size, pts);
  if (!c) return;
  std::uint32_t start = rebase(c->start);
  // Display sets never go back in time: a unit that starts before the one
  // on screen did replaces it at that one's start.
  if (start < lastTime_) {
    log_.log("   Subpicture at " + formatTicks(start) + " starts before the one before it (" + formatTicks(lastTime_) +
             "): shown from there");
    start = lastTime_;
  }
  // A new display replaces the one on screen, whether or not it shows anything.
  closePending(start);
  const PgsWriter::Shown shown = writer_.show(*c, start);
  decoder_.recycle(std::move(c->pixels));
  // "Caption at 0:01:02.000 (columns 320-959, lines 1100-1129)", "1920x1080 subpicture plane"
  const auto where = [&] {
    return "   Caption at " + formatTicks(start) + " (columns " + std::to_string(c->x) + "-" +
           std::to_string(c->x + c->width - 1) + ", lines " + std::to_string(c->y) + "-" +
           std::to_string(c->y + c->height - 1) + ")";
  };
  const auto plane = [&] {
    return std::to_string(writer_.canvas().width) + "x" + std::to_string(writer_.canvas().height) + " subpicture plane";
  };
  switch (shown) {
    case PgsWriter::Shown::Yes: break;
    case PgsWriter::Shown::Cut: log_.log(where() + ": its part outside the " + plane() + " is cut off"); break;
    case PgsWriter::Shown::Invisible: ++blank_; return;
    case PgsWriter::Shown::Outside:
      ++dropped_;
      log_.log(where() + " skipped: it lies outside the " + plane());
      return;
    case PgsWriter::Shown::TooLarge:
      ++dropped_;
      log_.log("   Caption at " + formatTicks(start) + " skipped: its run-length data exceeds a PGS object's 16 MiB");
      return;
  }
  lastTime_ = start;
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
