#include "playlist/chapters.h"

#include <charconv>
#include <cstdio>

#include "engine/utf8.h"

namespace tarnwick {
namespace {

std::optional<std::int64_t> field(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

// Control characters (a "&#10;" in a name, say) would break the line the
// name stands on.
std::string oneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return text;
}

}  // namespace

std::string xmlText(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t semicolon = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
    if (semicolon == std::string_view::npos || semicolon - i > 12) {
      out += text[i++];
      continue;
    }
    const std::string_view entity = text.substr(i + 1, semicolon - i - 1);
    std::uint32_t code = 0;
    bool known = true;
    if (entity == "amp") code = '&';
    else if (entity == "lt") code = '<';
    else if (entity == "gt") code = '>';
    else if (entity == "quot") code = '"';
    else if (entity == "apos") code = '\'';
    else if (entity.size() > 1 && entity[0] == '#') {
      const bool hexForm = entity[1] == 'x' || entity[1] == 'X';
      const std::string_view digits = entity.substr(hexForm ? 2 : 1);
      const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hexForm ? 16 : 10);
      known = !digits.empty() && error == std::errc() && end == digits.data() + digits.size() && code > 0 &&
              code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    } else {
      known = false;
    }
    if (!known) {
      out += text[i++];
      continue;
    }
    // UTF-8 of the code point.
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
    i = semicolon + 1;
  }
  return out;
}

bool knownTimeBase(std::string_view timeBase) {
  if (!timeBase.ends_with("fps")) return false;
  const std::optional<std::int64_t> fps = field(timeBase.substr(0, timeBase.size() - 3));
  return fps && *fps > 0 && *fps <= 1000;
}

int framesPerSecond(std::string_view timeBase) {
  return knownTimeBase(timeBase) ? static_cast<int>(*field(timeBase.substr(0, timeBase.size() - 3))) : 60;
}

std::optional<std::int64_t> chapterMilliseconds(std::string_view begin, int fps) {
  std::int64_t parts[4];
  for (int i = 0; i < 4; ++i) {
    const std::size_t colon = i < 3 ? begin.find(':') : begin.size();
    if (colon == std::string_view::npos) return std::nullopt;
    const std::optional<std::int64_t> value = field(begin.substr(0, colon));
    if (!value) return std::nullopt;
    parts[i] = *value;
    begin.remove_prefix(i < 3 ? colon + 1 : colon);
  }
  // Minutes and seconds past 59 or frames past the time base are not a time:
  // taken as one they would put chapters out of order.
  if (parts[1] > 59 || parts[2] > 59 || parts[3] >= fps) return std::nullopt;
  const std::int64_t seconds = parts[0] * 3600 + parts[1] * 60 + parts[2];
  return seconds * 1000 + (parts[3] * 1000 + fps / 2) / fps;
}

ChapterFile simpleChapters(const XplTitle& title) {
  ChapterFile file;
  const int fps = framesPerSecond(title.timeBase);
  const std::optional<std::int64_t> end = chapterMilliseconds(title.duration, fps);
  bool ascii = true;
  for (const XplChapter& chapter : title.chapters) {
    const std::optional<std::int64_t> ms = chapterMilliseconds(chapter.begin, fps);
    if (!ms) {
      ++file.skipped;
      continue;
    }
    if (end && *ms > *end) {
      ++file.pastEnd;
      continue;
    }
    char number[16];
    std::snprintf(number, sizeof number, "%02d", ++file.written);
    // A chapter without a name of its own is not given the one before it.
    const std::string name =
        chapter.named ? validUtf8(oneLine(xmlText(chapter.name))) : std::string("Chapter ") + number;
    for (const char c : name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    char time[40];
    std::snprintf(time, sizeof time, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(*ms / 3600000),
                  static_cast<long long>(*ms / 60000 % 60), static_cast<long long>(*ms / 1000 % 60),
                  static_cast<long long>(*ms % 1000));
    file.text += std::string("CHAPTER") + number + "=" + time + "\n";
    file.text += std::string("CHAPTER") + number + "NAME=" + name + "\n";
  }
  if (!ascii) file.text.insert(0, "\xEF\xBB\xBF");
  return file;
}

std::vector<std::string> chapterNotes(const ChapterFile& file) {
  std::vector<std::string> notes;
  if (file.skipped > 0)
    notes.push_back(std::to_string(file.skipped) + " chapters left out: their start is not HH:MM:SS:FF.");
  if (file.pastEnd > 0)
    notes.push_back(std::to_string(file.pastEnd) + " chapters left out: they start after the title's end.");
  return notes;
}

}  // namespace tarnwick
