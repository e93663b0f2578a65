#include "app/cli/json_report.h"

#include <cstdio>
#include <optional>

#include "engine/demux_run.h"
#include "engine/utf8.h"
#include "playlist/chapters.h"

namespace tarnwick::cli {
namespace {

struct BoxStream {
  std::int32_t id;
  const StreamRecord* record;
  std::string kind;
};

BoxStream streamOf(const ScanState& scan, StreamSlot s) {
  const SlotState& slot = scan.slot(s);
  return {slot.id, &slot.record, kindName(s.streamClass, slot.id)};
}

std::optional<std::uint32_t> firstPts(const StreamRecord& record) {
  if (!record.hasFirstPts) return std::nullopt;
  return record.firstPts;
}

// The time line starts at the first video stream's first time stamp.
std::optional<std::uint32_t> referencePts(const ScanState& scan) {
  for (int n = 0; n < 2; ++n)
    if (scan.VideoSlots[n].id >= 0) return firstPts(scan.VideoSlots[n].record);
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

std::string jsonReport(const ReportFile& file, const ScanState& scan,
                       const StreamTable& streams) {
  const std::optional<std::uint32_t> reference = referencePts(scan);
  std::string out = "{\n";
  out += "  \"file\": " + jsonString(file.path) + ",\n";
  out += "  \"size\": " + std::to_string(file.size) + ",\n";
  out += "  \"secondFile\": " + (file.secondPath.empty() ? std::string("null") : jsonString(file.secondPath)) + ",\n";
  out += "  \"streams\": [";
  bool first = true;
  for (int k = 0; k < kOutputCount; ++k) {
    const StreamSlot slot = outputSlot(k);
    const BoxStream stream = streamOf(scan, slot);
    if (stream.id < 0) continue;
    const std::optional<std::uint32_t> pts = firstPts(*stream.record);
    std::optional<std::int64_t> delay;
    if (pts && reference) delay = delayMs(*pts, *reference);
    out += first ? "\n" : ",\n";
    first = false;
    out += "    {\n";
    out += "      \"box\": " + jsonString(entryName(slot)) + ",\n";
    out += "      \"caption\": " + jsonString(streams[slot].caption) + ",\n";
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
  // Streams that share a slot with an earlier one, or that no box holds:
  // the outputs leave them out, and a script should know.
  out += "  \"leftOut\": [";
  for (std::size_t i = 0; i < scan.leftOut.size(); ++i) {
    const LeftOutStream& stream = scan.leftOut[i];
    const char* kind = stream.streamClass == StreamClass::Video   ? "video"
                       : stream.streamClass == StreamClass::Audio ? "audio"
                                                                  : "subpicture";
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"kind\": " + jsonString(kind) + ", \"streamId\": " + std::to_string(stream.id) +
           ", \"slot\": " + (stream.slot >= 0 ? std::to_string(stream.slot) : "null") +
           ", \"sharesWith\": " + (stream.ownerId >= 0 ? std::to_string(stream.ownerId) : "null") + "}";
  }
  out += scan.leftOut.empty() ? "],\n" : "\n  ],\n";
  out += "  \"frameCounts\": [" + std::to_string(scan.VideoSlots[0].VideoFrameCounts) + ", " +
         std::to_string(scan.VideoSlots[1].VideoFrameCounts) + "]\n";
  out += "}\n";
  return out;
}

std::string jsonPlaylist(const std::string& xplPath, const std::string& evoPath, const XplTitle& title) {
  const auto orNull = [](const std::string& text) { return text.empty() ? std::string("null") : jsonString(text); };
  std::string out = "{\n";
  out += "  \"playlist\": " + jsonString(xplPath) + ",\n";
  out += "  \"evo\": " + orNull(evoPath) + ",\n";
  out += "  \"playlistName\": " + orNull(title.playlistName) + ",\n";
  if (!title.found) {
    out += "  \"title\": null,\n  \"tracks\": [],\n  \"chapters\": []\n}\n";
    return out;
  }
  out += "  \"title\": {\"name\": " + jsonString(title.name) + ", \"duration\": " + jsonString(title.duration) +
         ", \"timeBase\": " + jsonString(title.timeBase) + "},\n";
  out += "  \"tracks\": [";
  for (std::size_t i = 0; i < title.tracks.size(); ++i) {
    const XplTrack& track = title.tracks[i];
    const bool video = track.streamClass == StreamClass::Video;
    const bool audio = track.streamClass == StreamClass::Audio;
    // Only video track 1 has a box; other video tracks are listed only.
    const std::optional<StreamSlot> slot = trackSlot(track);
    const std::string box = slot ? jsonString(entryName(*slot)) : "null";
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"kind\": " + jsonString(video ? "video" : audio ? "audio" : "subtitle") +
           ", \"number\": " + std::to_string(track.number) + ", \"box\": " + box +
           ", \"label\": " + jsonString(track.label) + ", \"language\": " + jsonString(track.language) + "}";
  }
  out += title.tracks.empty() ? "],\n" : "\n  ],\n";
  out += "  \"chapters\": [";
  const int fps = framesPerSecond(title.timeBase);
  for (std::size_t i = 0; i < title.chapters.size(); ++i) {
    const XplChapter& chapter = title.chapters[i];
    const std::optional<std::int64_t> ms = chapterMilliseconds(chapter.begin, fps);
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"begin\": " + jsonString(chapter.begin) + ", \"startMs\": " + numberOrNull(ms) +
           ", \"name\": " + jsonString(chapter.name) + "}";
  }
  out += title.chapters.empty() ? "]\n" : "\n  ]\n";
  out += "}\n";
  return out;
}

}  // namespace tarnwick::cli
