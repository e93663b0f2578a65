// tarnwick-cli titles: what each title of a disc plays, and which one is the
// main feature that the other commands take when no title is named.

#include "app/cli/titles_command.h"

#include <cstdio>

#include "app/cli/json_report.h"
#include "app/cli/session.h"
#include "engine/utf8.h"

namespace tarnwick::cli {
namespace {

// "1:23:45.678"
std::string duration(std::int64_t ms) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                static_cast<long long>(ms % 1000));
  return text;
}

// The rows under one heading, the heading on the first: "  Audio:      1  eng  English".
void rows(std::string& out, const char* heading, const std::vector<std::string>& lines) {
  char head[16];
  std::snprintf(head, sizeof head, "%-11s", heading);
  if (lines.empty()) out += std::string("  ") + head + "none\n";
  for (std::size_t i = 0; i < lines.size(); ++i) out += std::string("  ") + (i == 0 ? head : "           ") + lines[i] + "\n";
}

std::vector<std::string> trackRows(const std::vector<TitleTrack>& tracks) {
  std::vector<std::string> lines;
  for (const TitleTrack& t : tracks) {
    char number[16];
    std::snprintf(number, sizeof number, "%-3d", t.streamNumber);
    lines.push_back(number + t.language + (t.description.empty() ? "" : "  " + printableUtf8(t.description)));
  }
  return lines;
}

std::string jsonTracks(const std::vector<TitleTrack>& tracks) {
  std::string out = "[";
  for (std::size_t i = 0; i < tracks.size(); ++i)
    out += std::string(i == 0 ? "" : ", ") + "{\"streamNumber\": " + std::to_string(tracks[i].streamNumber) +
           ", \"language\": " + jsonString(tracks[i].language) + ", \"description\": " +
           jsonString(tracks[i].description) + "}";
  return out + "]";
}

}  // namespace

std::string titlesText(const std::string& location, const std::vector<Title>& titles) {
  const bool playlist = !titles.empty() && titles.front().playlist.found;
  std::string out = printableUtf8(location) + ": " + std::to_string(titles.size()) +
                    (titles.size() == 1 ? " title" : " titles");
  if (playlist) {
    const std::string& name = titles.front().playlist.playlistName;
    out += " in its playlist" + (name.empty() ? "" : " \"" + printableUtf8(validUtf8(name)) + "\"");
  } else {
    out += !titles.empty() && titles.front().dvd ? ", one per DVD title set"
                                                 : ", one per EVO file (the disc has no playlist)";
  }
  out += "\n";
  bool anyMain = false;
  for (const Title& title : titles) {
    anyMain = anyMain || title.main;
    out += "\nTitle " + std::to_string(title.number) + ": " + printableUtf8(title.name) +
           (title.main ? "  (main feature)" : "") + "\n";
    if (playlist) rows(out, "Duration:", {title.durationMs ? duration(*title.durationMs) : "not given"});
    std::vector<std::string> files;
    for (const TitleClip& clip : title.clips)
      files.push_back(printableUtf8(clip.path) + "  " +
                      (clip.exists ? std::to_string(clip.bytes) + " bytes" : "missing from the disc"));
    rows(out, "Files:", files);
    if (playlist) {
      rows(out, "Audio:", trackRows(title.audio));
      rows(out, "Subtitles:", trackRows(title.subtitles));
      rows(out, "Chapters:", {std::to_string(title.chapters)});
    }
  }
  if (!anyMain) out += "\nNo title has all its files on the disc: there is no main feature.\n";
  return out;
}

std::string titlesJson(const std::vector<Title>& titles) {
  std::string out = "[";
  for (std::size_t i = 0; i < titles.size(); ++i) {
    const Title& t = titles[i];
    out += i == 0 ? "\n" : ",\n";
    out += "  {\"number\": " + std::to_string(t.number) + ", \"name\": " + jsonString(t.name) +
           ", \"durationMs\": " + (t.durationMs ? std::to_string(*t.durationMs) : "null") +
           ", \"main\": " + (t.main ? "true" : "false") + ",\n   \"clips\": [";
    for (std::size_t c = 0; c < t.clips.size(); ++c)
      out += std::string(c == 0 ? "" : ", ") + "{\"path\": " + jsonString(t.clips[c].path) + ", \"bytes\": " +
             (t.clips[c].exists ? std::to_string(t.clips[c].bytes) : "null") +
             ", \"exists\": " + (t.clips[c].exists ? "true" : "false") + "}";
    out += "],\n   \"audio\": " + jsonTracks(t.audio) + ",\n   \"subtitles\": " + jsonTracks(t.subtitles) +
           ",\n   \"chapters\": " + std::to_string(t.chapters) + "}";
  }
  out += titles.empty() ? "]\n" : "\n]\n";
  return out;
}

int runTitles(const Options& o) {
  const std::unique_ptr<Disc> disc = openDisc(o.input);
  const std::vector<Title> titles = discTitles(*disc);
  if (titles.empty())
    throw DiscError("Cannot list the titles of \"" + o.input + "\". " +
                    (disc->find(kDiscPlaylist) ? std::string("Its playlist ") + kDiscPlaylist + " holds no title."
                                               : std::string("It holds no playlist (") + kDiscPlaylist +
                                                     "), no EVO file in HVDVD_TS and no DVD title set "
                                                     "(VTS_nn_1.VOB) in VIDEO_TS."));
  std::fputs((o.json ? titlesJson(titles) : titlesText(disc->location(), titles)).c_str(), stdout);
  std::fflush(stdout);
  return kExitDone;
}

}  // namespace tarnwick::cli
