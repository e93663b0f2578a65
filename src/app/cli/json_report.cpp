#include "app/cli/json_report.h"

#include <cstdio>
#include <optional>

#include "app/cli/box_names.h"

namespace tarnwick::cli {
namespace {

// Length of the UTF-8 sequence at text[i], or 0 when it is not one.
std::size_t utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  std::uint32_t min = 0;
  std::uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
  if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

struct BoxStream {
  std::int32_t id;
  const StreamRecord* record;
  std::string kind;
};

BoxStream streamOf(const ScanState& scan, ControlId box) {
  const BoxSlot b = boxSlot(box);
  const auto k = static_cast<std::size_t>(b.slot);
  switch (b.streamClass) {
    case StreamClass::Video: return {scan.VideoSlots[k], &scan.videoRecords[k], VideoKindName(scan.VideoSlots[k])};
    case StreamClass::Audio: return {scan.AudioSlots[k], &scan.audioRecords[k], AudioKindName(scan.AudioSlots[k])};
    default:
      return {scan.SubpictureSlots[k], &scan.subpictureRecords[k], SubpictureKindName(scan.SubpictureSlots[k])};
  }
}

std::optional<std::uint32_t> firstPts(const StreamRecord& record) {
  if (!record.hasFirstPts) return std::nullopt;
  return record.firstPts;
}

// The time line starts at the first video stream's first time stamp.
std::optional<std::uint32_t> referencePts(const ScanState& scan) {
  for (int n = 0; n < 2; ++n)
    if (scan.VideoSlots[n] >= 0) return firstPts(scan.videoRecords[n]);
  return std::nullopt;
}

std::string numberOrNull(std::optional<std::int64_t> value) {
  return value ? std::to_string(*value) : "null";
}

}  // namespace

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = utf8Length(text, i);
      if (length == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

std::string jsonReport(const ReportFile& file, const ScanState& scan, const Window& window) {
  const std::optional<std::uint32_t> reference = referencePts(scan);
  std::string out = "{\n";
  out += "  \"file\": " + jsonString(file.path) + ",\n";
  out += "  \"size\": " + std::to_string(file.size) + ",\n";
  out += "  \"secondFile\": " + (file.secondPath.empty() ? std::string("null") : jsonString(file.secondPath)) + ",\n";
  out += "  \"streams\": [";
  bool first = true;
  for (ControlId box : outputBoxes()) {
    const BoxStream stream = streamOf(scan, box);
    if (stream.id < 0) continue;
    const std::optional<std::uint32_t> pts = firstPts(*stream.record);
    std::optional<std::int64_t> delay;
    // Differences wrap like the 32-bit time stamps they come from.
    if (pts && reference) delay = static_cast<std::int32_t>(*pts - *reference) / 90;
    out += first ? "\n" : ",\n";
    first = false;
    out += "    {\n";
    out += "      \"box\": " + jsonString(boxName(box)) + ",\n";
    out += "      \"caption\": " + jsonString(window.caption(box)) + ",\n";
    out += "      \"streamId\": " + std::to_string(stream.id) + ",\n";
    out += "      \"kind\": " + jsonString(stream.kind) + ",\n";
    out += "      \"firstPts\": " + numberOrNull(pts) + ",\n";
    out += "      \"delayMs\": " + numberOrNull(delay) + ",\n";
    out += "      \"details\": [";
    for (std::size_t i = 0; i < stream.record->details.size(); ++i)
      out += (i == 0 ? "" : ", ") + jsonString(stream.record->details[i]);
    out += "]\n    }";
  }
  out += first ? "],\n" : "\n  ],\n";
  out += "  \"frameCounts\": [" + std::to_string(scan.VideoFrameCounts[0]) + ", " +
         std::to_string(scan.VideoFrameCounts[1]) + "]\n";
  out += "}\n";
  return out;
}

}  // namespace tarnwick::cli
