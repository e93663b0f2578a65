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

}  // namespace

int framesPerSecond(std::string_view timeBase) {
  if (!timeBase.ends_with("fps")) return 60;
  const std::optional<std::int64_t> fps = field(timeBase.substr(0, timeBase.size() - 3));
  return fps && *fps > 0 && *fps <= 1000 ? static_cast<int>(*fps) : 60;
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
  const std::int64_t seconds = parts[0] * 3600 + parts[1] * 60 + parts[2];
  return seconds * 1000 + (parts[3] * 1000 + fps / 2) / fps;
}

ChapterFile simpleChapters(const XplTitle& title) {
  ChapterFile file;
  const int fps = framesPerSecond(title.timeBase);
  bool ascii = true;
  for (const XplChapter& chapter : title.chapters) {
    const std::optional<std::int64_t> ms = chapterMilliseconds(chapter.begin, fps);
    if (!ms) {
      ++file.skipped;
      continue;
    }
    const std::string name = validUtf8(chapter.name);
    for (const char c : name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    char number[16];
    std::snprintf(number, sizeof number, "%02d", ++file.written);
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

}  // namespace tarnwick
