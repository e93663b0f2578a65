#include "subtitles/pgs_reader.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "subtitles/bit_reader.h"
#include "subtitles/pgs_writer.h"
#include "subtitles/subpicture_decoder.h"

namespace tarnwick {

using subtitles::readBe16;
using subtitles::readBe32;

namespace {

struct CompositionObject {
  std::uint16_t objectId = 0;
  bool forced = false;
  int x = 0, y = 0;
  std::optional<std::array<int, 4>> crop;  // x, y, width, height inside the object
};

struct Object {
  int width = 0, height = 0;
  std::size_t expected = 0;  // object_data_length less width and height
  std::vector<std::uint8_t> data;
  bool complete = false;
};

}  // namespace

bool decodePgsObject(const std::uint8_t* data, std::size_t size, int width, int height, std::uint8_t* out) {
  std::size_t pos = 0;
  int x = 0, y = 0;
  while (y < height) {
    if (pos >= size) return false;
    const std::uint8_t first = data[pos++];
    if (first != 0) {
      if (x >= width) return false;
      out[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x++)] = first;
      continue;
    }
    if (pos >= size) return false;
    const std::uint8_t flags = data[pos++];
    if (flags == 0) {  // end of line
      if (x != width) return false;
      x = 0;
      ++y;
      continue;
    }
    int run = flags & 0x3F;
    if (flags & 0x40) {
      if (pos >= size) return false;
      run = run << 8 | data[pos++];
    }
    std::uint8_t colour = 0;
    if (flags & 0x80) {
      if (pos >= size) return false;
      colour = data[pos++];
    }
    if (run > width - x) return false;
    std::fill_n(out + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x), run,
                colour);
    x += run;
  }
  return true;
}

PgsReadSummary readPgs(std::istream& in, LogSink& log, const CaptionHandler& onCaption) {
  PgsReadSummary summary;
  std::map<std::uint8_t, Palette> palettes;
  std::map<std::uint16_t, Object> objects;
  std::vector<CompositionObject> composition;
  std::uint8_t paletteId = 0;
  std::vector<Caption> shown;  // what the last display set put on screen
  std::uint32_t setPts = 0;
  std::uint64_t offset = 0;
  const auto damaged = [&](const std::string& why) {
    summary.damaged = true;
    log.log("   PGS damaged at byte " + std::to_string(offset) + ": " + why);
  };
  const auto endShown = [&](std::optional<std::uint32_t> end) {
    for (Caption& c : shown) {
      c.end = end;
      onCaption(c);
      ++summary.captions;
    }
    shown.clear();
  };

  std::array<std::uint8_t, kPgsSegmentHeaderSize> header{};
  std::vector<std::uint8_t> payload;
  bool stopped = false;
  while (!stopped && in.read(reinterpret_cast<char*>(header.data()), header.size())) {
    if (header[0] != 'P' || header[1] != 'G') {
      damaged("no segment header");
      stopped = true;
      break;
    }
    const std::uint32_t pts = readBe32(&header[2]);
    const std::uint8_t type = header[10];
    const std::size_t size = readBe16(&header[11]);
    payload.resize(size);
    if (size > 0 && !in.read(reinterpret_cast<char*>(payload.data()), static_cast<std::streamsize>(size))) {
      damaged("the last segment is cut short");
      stopped = true;
      break;
    }
    const std::uint8_t* p = payload.data();
    switch (type) {
      case kPcsSegment: {
        if (size < 11) {
          damaged("composition segment too short");
          break;
        }
        endShown(pts);
        setPts = pts;
        summary.videoWidth = static_cast<int>(readBe16(p));
        summary.videoHeight = static_cast<int>(readBe16(p + 2));
        const std::uint8_t compositionState = p[7];
        if (compositionState & 0x80) {  // epoch start: nothing carries over
          objects.clear();
          palettes.clear();
        }
        paletteId = p[9];
        const int count = p[10];
        composition.clear();
        std::size_t pos = 11;
        for (int i = 0; i < count; ++i) {
          if (size - pos < 8) {
            damaged("composition object past the segment's end");
            composition.clear();
            break;
          }
          CompositionObject o;
          o.objectId = static_cast<std::uint16_t>(readBe16(p + pos));
          const std::uint8_t flags = p[pos + 3];
          o.forced = (flags & 0x40) != 0;
          o.x = static_cast<int>(readBe16(p + pos + 4));
          o.y = static_cast<int>(readBe16(p + pos + 6));
          pos += 8;
          if (flags & 0x80) {
            if (size - pos < 8) {
              damaged("cropping past the segment's end");
              composition.clear();
              break;
            }
            o.crop = std::array<int, 4>{static_cast<int>(readBe16(p + pos)), static_cast<int>(readBe16(p + pos + 2)),
                                        static_cast<int>(readBe16(p + pos + 4)), static_cast<int>(readBe16(p + pos + 6))};
            pos += 8;
          }
          composition.push_back(o);
        }
        ++summary.displaySets;
        break;
      }
      case kPdsSegment: {
        if (size < 2 || (size - 2) % 5 != 0) {
          damaged("palette segment of an odd size");
          break;
        }
        Palette& palette = palettes[p[0]];
        for (std::size_t pos = 2; pos < size; pos += 5) palette[p[pos]] = {p[pos + 1], p[pos + 2], p[pos + 3], p[pos + 4]};
        break;
      }
      case kOdsSegment: {
        if (size < 4) {
          damaged("object segment too short");
          break;
        }
        Object& o = objects[static_cast<std::uint16_t>(readBe16(p))];
        const std::uint8_t sequence = p[3];
        std::size_t pos = 4;
        if (sequence & 0x80) {
          if (size < 11) {
            damaged("object segment too short");
            break;
          }
          const std::size_t length = static_cast<std::size_t>(p[4]) << 16 | readBe16(p + 5);
          o = Object{};
          o.width = static_cast<int>(readBe16(p + 7));
          o.height = static_cast<int>(readBe16(p + 9));
          o.expected = length >= 4 ? length - 4 : 0;
          pos = 11;
        } else if (o.complete || o.width == 0) {
          damaged("object fragment without its first fragment");
          break;
        }
        if (o.data.size() + (size - pos) > o.expected) {
          damaged("object data longer than its object_data_length");
          o = Object{};
          break;
        }
        o.data.insert(o.data.end(), p + pos, p + size);
        if (sequence & 0x40) o.complete = true;
        break;
      }
      case kWdsSegment:
        break;
      case kEndSegment:
        for (const CompositionObject& co : composition) {
          auto found = objects.find(co.objectId);
          if (found == objects.end() || !found->second.complete) {
            damaged("composition names an object the display set does not define");
            continue;
          }
          const Object& o = found->second;
          Caption c;
          c.start = setPts;
          c.forced = co.forced;
          c.frameHeight = summary.videoHeight;
          c.width = o.width;
          c.height = o.height;
          c.x = co.x;
          c.y = co.y;
          c.palette = palettes[paletteId];
          c.pixels.assign(static_cast<std::size_t>(o.width) * static_cast<std::size_t>(o.height), 0);
          if (o.width == 0 || o.height == 0 || !decodePgsObject(o.data.data(), o.data.size(), o.width, o.height, c.pixels.data())) {
            damaged("object's run-length data does not fill its size");
            continue;
          }
          if (co.crop) {
            const auto [cx, cy, cw, ch] = *co.crop;
            if (cx + cw > o.width || cy + ch > o.height || cw <= 0 || ch <= 0) {
              damaged("cropping outside the object");
              continue;
            }
            std::vector<std::uint8_t> cropped;
            cropped.reserve(static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch));
            for (int y = cy; y < cy + ch; ++y) {
              const auto line = c.pixels.begin() + static_cast<std::ptrdiff_t>(y) * o.width + cx;
              cropped.insert(cropped.end(), line, line + cw);
            }
            c.pixels = std::move(cropped);
            c.width = cw;
            c.height = ch;
          }
          shown.push_back(std::move(c));
        }
        composition.clear();
        break;
      default:
        damaged("unknown segment type " + std::to_string(type));
        break;
    }
    offset += kPgsSegmentHeaderSize + size;
  }
  if (!stopped && in.gcount() > 0) {
    offset += static_cast<std::uint64_t>(in.gcount());
    damaged("a segment header is cut short");
  }
  endShown(std::nullopt);
  return summary;
}

}  // namespace tarnwick
