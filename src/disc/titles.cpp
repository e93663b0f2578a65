#include "disc/titles.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "engine/utf8.h"
#include "playlist/chapters.h"

namespace tarnwick {
namespace {

// Real playlists take a few hundred KiB; anything past this is not one, and
// would only be read into memory.
constexpr std::size_t kPlaylistLimit = 16 << 20;
constexpr std::string_view kDiscRoot = "file:///dvddisc/";

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool endsWithNoCase(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && upper(text.substr(text.size() - end.size())) == upper(end);
}

// A playlist text as the user reads it: decoded, valid UTF-8.
std::string playlistText(std::string_view raw) { return validUtf8(xmlText(raw)); }

// Every name of a folder path is one the disc can hold: nothing that would
// climb out of the disc's root.
bool plainFolder(std::string_view folder) {
  if (folder.empty()) return false;
  std::size_t start = 0;
  while (start <= folder.size()) {
    std::size_t end = folder.find('/', start);
    if (end == std::string_view::npos) end = folder.size();
    const std::string_view name = folder.substr(start, end - start);
    if (name.empty() || name == "." || name == ".." || name.find('\\') != std::string_view::npos) return false;
    start = end + 1;
  }
  return true;
}

// The clip's file, named as the disc stores it when it is there.
TitleClip clipOn(const Disc& disc, std::string path) {
  TitleClip clip;
  const std::optional<DiscEntry> entry = disc.find(path);
  clip.exists = entry && !entry->folder;
  if (clip.exists) {
    clip.bytes = entry->size;
    path = path.substr(0, path.rfind('/') + 1) + entry->name;
  }
  clip.path = std::move(path);
  return clip;
}

std::vector<Title> playlistTitles(const Disc& disc, const DiscEntry& entry) {
  const auto cannot = [&](const std::string& why) {
    return DiscError("Cannot read the titles of \"" + disc.location() + "\". " + why);
  };
  if (entry.size > static_cast<std::int64_t>(kPlaylistLimit))
    throw cannot(std::string(kDiscPlaylist) + " holds " + std::to_string(entry.size) +
                 " bytes: more than a playlist can be (16 MiB).");
  std::vector<XplTitle> read;
  try {
    read = xplTitles(disc.readSmall(kDiscPlaylist, kPlaylistLimit), kDiscPlaylist);
  } catch (const NotAPlaylistError& e) {
    throw cannot(e.what());
  } catch (const ConversionError& e) {
    throw cannot(std::string(kDiscPlaylist) + ": " + e.what());
  }
  std::vector<Title> titles;
  for (XplTitle& xpl : read) {
    Title title;
    title.number = xpl.number > 0 ? xpl.number : static_cast<int>(titles.size()) + 1;
    title.name = playlistText(xpl.name);
    title.durationMs = chapterMilliseconds(xpl.duration, framesPerSecond(xpl.timeBase));
    for (const std::string& src : xpl.clips) {
      const std::string path = clipEvoPath(src);
      if (path.empty()) {
        title.clips.push_back({src, 0, false});  // shown as written: it names no file
        continue;
      }
      title.clips.push_back(clipOn(disc, path));
    }
    for (const XplTrack& track : xpl.tracks) {
      if (track.streamClass == StreamClass::Video) continue;
      TitleTrack t{track.number, track.language, playlistText(track.description)};
      (track.streamClass == StreamClass::Audio ? title.audio : title.subtitles).push_back(std::move(t));
    }
    title.chapters = static_cast<int>(xpl.chapters.size());
    title.playlist = std::move(xpl);
    titles.push_back(std::move(title));
  }
  return titles;
}

// The disc's files in `folder` whose names pass `keep`, by name without
// regard to case, as an image's directory need not be sorted.
std::vector<DiscEntry> filesIn(const Disc& disc, const std::string& folder, bool (*keep)(const std::string&)) {
  std::vector<DiscEntry> files;
  for (DiscEntry& entry : disc.list(folder))
    if (!entry.folder && keep(entry.name)) files.push_back(std::move(entry));
  std::sort(files.begin(), files.end(), [](const DiscEntry& a, const DiscEntry& b) { return upper(a.name) < upper(b.name); });
  return files;
}

// Without a playlist each EVO file is a title of its own.
std::vector<Title> evoTitles(const Disc& disc) {
  std::vector<Title> titles;
  for (const DiscEntry& file :
       filesIn(disc, "HVDVD_TS", [](const std::string& name) { return name.size() > 4 && endsWithNoCase(name, ".EVO"); })) {
    Title title;
    title.number = static_cast<int>(titles.size()) + 1;
    title.name = validUtf8(file.name.substr(0, file.name.size() - 4));
    title.clips.push_back({"HVDVD_TS/" + file.name, file.size, true});
    titles.push_back(std::move(title));
  }
  return titles;
}

// VTS_nn_k.VOB with nn from 01 and k from 1 to 9: part k of title set nn.
// Part 0 is the set's menu and VIDEO_TS.VOB the disc's: neither is a title.
bool titleSetPart(const std::string& name) {
  const std::string u = upper(name);
  return u.size() == 12 && u.compare(0, 4, "VTS_") == 0 && std::isdigit(static_cast<unsigned char>(u[4])) &&
         std::isdigit(static_cast<unsigned char>(u[5])) && u.compare(4, 2, "00") != 0 && u[6] == '_' && u[7] >= '1' &&
         u[7] <= '9' && u.compare(8, 4, ".VOB") == 0;
}

std::vector<Title> dvdTitles(const Disc& disc) {
  // Sorted by name, so each set's parts come in order.
  std::map<std::string, std::vector<DiscEntry>> sets;
  for (DiscEntry& file : filesIn(disc, "VIDEO_TS", titleSetPart)) sets[upper(file.name.substr(0, 6))].push_back(std::move(file));
  std::vector<Title> titles;
  for (auto& [set, parts] : sets) {
    Title title;
    title.number = static_cast<int>(titles.size()) + 1;
    title.name = set;
    title.dvd = true;
    for (const DiscEntry& part : parts) title.clips.push_back({"VIDEO_TS/" + part.name, part.size, true});
    titles.push_back(std::move(title));
  }
  return titles;
}

}  // namespace

std::int64_t Title::bytes() const {
  std::int64_t total = 0;
  for (const TitleClip& clip : clips) total += clip.bytes;
  return total;
}

bool Title::playable() const {
  return !clips.empty() && std::all_of(clips.begin(), clips.end(), [](const TitleClip& c) { return c.exists; });
}

std::string clipEvoPath(std::string_view src) {
  std::string_view folder = "HVDVD_TS";
  std::string_view path = src;
  if (upper(src.substr(0, kDiscRoot.size())) == upper(kDiscRoot)) path.remove_prefix(kDiscRoot.size());
  const std::size_t slash = path.find_last_of('/');
  const std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (slash != std::string_view::npos && path.size() != src.size() && plainFolder(path.substr(0, slash)))
    folder = path.substr(0, slash);
  const std::string_view base = file.substr(0, file.find_last_of('.'));
  if (base.empty() || base == "." || base == ".." || base.find('\\') != std::string_view::npos) return {};
  return std::string(folder) + "/" + std::string(base) + ".EVO";
}

void markMainFeature(std::vector<Title>& titles) {
  const bool timed = std::any_of(titles.begin(), titles.end(), [](const Title& t) { return t.durationMs.has_value(); });
  const auto length = [timed](const Title& t) { return timed ? t.durationMs.value_or(0) : t.bytes(); };
  Title* best = nullptr;
  for (Title& title : titles) {
    title.main = false;
    if (!title.playable()) continue;
    if (!best || length(title) > length(*best) || (length(title) == length(*best) && title.number < best->number))
      best = &title;
  }
  if (best) best->main = true;
}

std::vector<Title> discTitles(const Disc& disc) {
  std::vector<Title> titles;
  const std::optional<DiscEntry> playlist = disc.find(kDiscPlaylist);
  if (playlist && !playlist->folder) {
    titles = playlistTitles(disc, *playlist);
  } else {
    titles = evoTitles(disc);
    if (titles.empty()) titles = dvdTitles(disc);
  }
  markMainFeature(titles);
  return titles;
}

}  // namespace tarnwick
