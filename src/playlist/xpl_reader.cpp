#include "playlist/xpl_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <functional>
#include <optional>

#include "engine/file_io.h"
#include "engine/run_steps.h"
#include "engine/utf8.h"
#include "playlist/chapters.h"
#include "playlist/languages.h"

namespace tarnwick {
namespace {

constexpr std::size_t kValueWindow = 255;
// Where the playlist's root element must start.
constexpr std::size_t kPlaylistHeadSize = 64 * 1024;
// Deeper nesting (unclosed tags in a damaged file) still counts, but the
// listing stops indenting there: otherwise every further tag would carry an
// ever longer run of blanks and a few MiB of "<a>" would exhaust memory.
constexpr int kMaxIndentUnits = 32;
constexpr int kSlots = 16;
constexpr int kMediaAttributes = 8;
// Track numbers of a title's TrackNavigationList (subtitle tracks go up to 32).
constexpr int kTrackNumbers = 32;

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// A whole decimal number with an optional sign, within 32 bits.
bool parseInteger(std::string_view text, std::int32_t& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

std::int32_t toInteger(const std::string& text) {
  std::int32_t value = 0;
  if (!parseInteger(text, value)) throw ConversionError("'" + text + "' is not a valid integer value");
  return value;
}

std::string twoDigits(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", n);
  return text;
}

// The listing of a playlist may take this many bytes per byte of the file
// (and at least kListingFloor): a real playlist's lines take about twice its
// size, while a damaged one of short tags nested ever deeper ("<a><a>...")
// would take some 40 times, and its memo copy as much again.
constexpr std::size_t kListingBytesPerFileByte = 6;
constexpr std::size_t kListingFloor = 4 << 20;
// What one listing line costs beside its text: the string and its heap block.
constexpr std::size_t kLineOverhead = sizeof(std::string) + 16;

// Cuts the bytes into tags, one listing line per tag, indented by nesting.
// The state carries over from one chunk to the next. Tags past the budget
// are still scanned and counted, but not listed.
class TagScan {
 public:
  TagScan(std::function<void(const std::string&)> onLine, std::int64_t fileSize)
      : onLine_(std::move(onLine)),
        budget_(std::max(kListingFloor,
                         kListingBytesPerFileByte * static_cast<std::size_t>(std::max<std::int64_t>(fileSize, 0)))) {}

  std::size_t tags() const { return tags_; }
  std::size_t listedTags() const { return listed_; }
  std::size_t budget() const { return budget_; }

  void feed(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t c = bytes[i];
      if (c == '<') {
        inside_ = true;
        ++depth_;
      }
      if (inside_) {
        if (c > 31) {
          line_ += static_cast<char>(c);
        } else if (line_.empty() || line_.back() != ' ') {
          line_ += ' ';
        }
      }
      if (c == '/' && (last_ & 0xFF) == '<') {
        depth_ -= 2;
        line_.erase(0, 2);
      }
      if (c == '>') {
        inside_ = false;
        ++tags_;
        if (listed_ == tags_ - 1 && spent_ + line_.size() + kLineOverhead <= budget_) {
          spent_ += line_.size() + kLineOverhead;
          ++listed_;
          onLine_(line_);
        }
        line_.clear();
        if ((last_ & 0xFF) == '/') --depth_;
        if ((last_ & 0xFF) == '?') --depth_;
        if ((last_ & 0xFFFF) == ('-' << 8 | '-')) --depth_;
        if (depth_ > 0) line_.assign(2 * static_cast<std::size_t>(std::min(depth_, kMaxIndentUnits)), ' ');
      }
      last_ = last_ << 8 | c;
    }
  }

 private:
  std::function<void(const std::string&)> onLine_;
  const std::size_t budget_;
  std::size_t spent_ = 0;
  std::size_t tags_ = 0;
  std::size_t listed_ = 0;
  std::string line_;
  int depth_ = 0;
  bool inside_ = false;
  std::uint32_t last_ = 0;
};

// What the user learns of a listing cut short.
std::string listingCut(const TagScan& tags) {
  return "The listing shows the first " + std::to_string(tags.listedTags()) + " of " + std::to_string(tags.tags()) +
         " tags, and the title is looked for in these: all of them would take more than " +
         std::to_string(tags.budget() >> 20) + " MiB. Is the playlist damaged?";
}

// The receiving variables of the attribute lookups made while scanning;
// each lookup place has its own, so a missing attribute leaves the value an
// earlier tag gave.
struct ScanValues {
  std::string playlistName;
  std::string videoIndex, videoCodec;
  std::string audioIndex, audioCodec, audioChannels;
  std::string subIndex, subCodec;
};

struct TitleSetLine {
  std::size_t line;
  std::string timeBase;
};

void analyseLine(const std::string& line, ScanValues& v, XplAttributeTables& tables) {
  const auto store = [](std::array<std::string, 8>& table, const std::string& index, std::string value) {
    const std::int32_t i = toInteger(index);
    if (i >= 1 && i <= kMediaAttributes) table[static_cast<std::size_t>(i - 1)] = std::move(value);
  };
  if (contains(line, "Playlist")) XplAttribute(line, "displayName", v.playlistName);
  if (contains(line, "VideoAttributeItem")) {
    XplAttribute(line, "index", v.videoIndex);
    XplAttribute(line, "codec", v.videoCodec);
    store(tables.XplVideoAttributes, v.videoIndex, v.videoCodec);
  }
  if (contains(line, "AudioAttributeItem")) {
    XplAttribute(line, "index", v.audioIndex);
    XplAttribute(line, "codec", v.audioCodec);
    XplAttribute(line, "channels", v.audioChannels);
    store(tables.XplAudioAttributes, v.audioIndex,
          v.audioChannels.empty() ? v.audioCodec : v.audioCodec + "." + v.audioChannels + "ch");
  }
  if (contains(line, "SubpictureAttributeItem")) {
    XplAttribute(line, "index", v.subIndex);
    XplAttribute(line, "codec", v.subCodec);
    store(tables.XplSubpictureAttributes, v.subIndex, v.subCodec);
  }
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The value of the attribute of exactly this name (without regard to case),
// read attribute by attribute so that a name inside another name or inside a
// value is not taken for it; none when the tag has no such attribute. The
// readings that only this system makes use it: a track's own description,
// its track number and the langcodes.
std::optional<std::string> ownAttribute(std::string_view tag, std::string_view name) {
  std::size_t i = tag.find('<');
  if (i == std::string_view::npos) return std::nullopt;
  while (i < tag.size() && !isBlank(tag[i]) && tag[i] != '>') ++i;  // the tag's name
  const std::string wanted = upper(name);
  while (i < tag.size()) {
    while (i < tag.size() && isBlank(tag[i])) ++i;
    const std::size_t nameStart = i;
    while (i < tag.size() && !isBlank(tag[i]) && tag[i] != '=' && tag[i] != '>' && tag[i] != '/') ++i;
    const std::string_view attribute = tag.substr(nameStart, i - nameStart);
    while (i < tag.size() && isBlank(tag[i])) ++i;
    if (attribute.empty() || i >= tag.size() || tag[i] != '=') {
      if (attribute.empty()) ++i;  // a "/" or ">" or a stray "="
      continue;
    }
    ++i;
    while (i < tag.size() && isBlank(tag[i])) ++i;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) return std::nullopt;
    const std::size_t close = tag.find(tag[i], i + 1);
    if (close == std::string_view::npos) return std::nullopt;
    if (upper(attribute) == wanted) return std::string(tag.substr(i + 1, close - i - 1));
    i = close + 1;
  }
  return std::nullopt;
}

// The attribute of exactly this name as a decimal integer; 0 when the tag
// has none or it is not a number.
std::int32_t ownInteger(std::string_view tag, std::string_view name) {
  const std::optional<std::string> text = ownAttribute(tag, name);
  std::int32_t value = 0;
  return text && parseInteger(*text, value) ? value : 0;
}

// A media attribute number: the tag's, or 1 when it has none, as discs
// leave it out for the first table entry. A value that is not a number is 0.
std::int32_t mediaAttribute(std::string_view tag) {
  std::string text = "1";
  XplAttribute(tag, "mediaAttr", text);
  std::int32_t value = 0;
  return parseInteger(text, value) ? value : 0;
}

// The first line from line 1 on that holds the name; none for an empty name.
std::optional<std::size_t> lineNaming(const std::vector<std::string>& lines, const std::string& name) {
  if (name.empty()) return std::nullopt;
  for (std::size_t i = 1; i < lines.size(); ++i)
    if (contains(lines[i], name)) return i;
  return std::nullopt;
}

// The title's lines and tree, with the track-seen marks of this run.
class TitleReader {
 public:
  TitleReader(LogSink& report, const XplAttributeTables& tables, XplTitle& title)
      : report_(report), tables_(tables), title_(title) {}

  std::vector<TreeNode> read(const std::vector<std::string>& lines) {
    std::vector<TreeNode> tree = {{"Info", {}}, {"Video", {}}, {"Audio", {}}, {"Subtitle", {}}, {"Chapter", {}}};
    if (!title_.playlistName.empty()) tree[0].children.push_back("Title: " + title_.playlistName);
    for (const std::string& line : lines) {
      const std::string u = upper(line);
      if (contains(u, "<TITLE ")) {
        title_.number = ownInteger(line, "titleNumber");
        XplAttribute(line, "displayName", titleName_);
        XplAttribute(line, "titleDuration", titleDuration_);
        title_.name = titleName_;
        title_.duration = titleDuration_;
        tree[0].children.push_back("Name: " + titleName_);
        tree[0].children.push_back("Duration: " + titleDuration_);
      }
      if (contains(u, "<PRIMARYAUDIOVIDEOCLIP "))
        if (std::optional<std::string> src = ownAttribute(line, "src")) title_.clips.push_back(std::move(*src));
      if (contains(u, "<VIDEO ")) video(line, tree[1]);
      if (contains(u, "<AUDIO ")) listed(line, StreamClass::Audio, audioDescription_, tree[2]);
      if (contains(u, "<SUBTITLE ")) listed(line, StreamClass::Subpicture, subDescription_, tree[3]);
      if (contains(u, "<AUDIOTRACK ")) navigation(line, audioLanguages_);
      if (contains(u, "<SUBTITLETRACK ")) navigation(line, subLanguages_);
      if (contains(u, "<CHAPTER ")) {
        XplAttribute(line, "titleTimeBegin", chapterBegin_);
        XplAttribute(line, "displayName", chapterName_);
        tree[4].children.push_back(chapterBegin_ + ": " + chapterName_);
        const std::optional<std::string> own = ownAttribute(line, "displayName");
        title_.chapters.push_back({chapterBegin_, chapterName_, own && !own->empty()});
      }
    }
    // The TrackNavigationList usually follows the clips: languages are
    // given once the whole title is read.
    for (XplTrack& track : title_.tracks) {
      if (track.streamClass == StreamClass::Video || !inRange(track.track, kTrackNumbers)) continue;
      const auto& languages = track.streamClass == StreamClass::Audio ? audioLanguages_ : subLanguages_;
      const std::optional<std::string>& langcode = languages[static_cast<std::size_t>(track.track - 1)];
      if (langcode) track.language = matroskaLanguage(*langcode);
    }
    return tree;
  }

 private:
  // Numbers outside the tables are skipped: nothing beyond them is touched.
  static bool inRange(std::int32_t n, int last) { return n >= 1 && n <= last; }

  void video(const std::string& line, TreeNode& node) {
    const std::int32_t t = XplIntAttribute(line, "track");
    const std::int32_t m = mediaAttribute(line);
    if (!inRange(t, kSlots) || !inRange(m, kMediaAttributes) || videoSeen_[static_cast<std::size_t>(t - 1)]) return;
    videoSeen_[static_cast<std::size_t>(t - 1)] = true;
    const std::string label =
        tables_.XplVideoAttributes[static_cast<std::size_t>(m - 1)] + ".stream." + std::to_string(t - 1);
    node.children.push_back(label);
    report_.log(label + " found!");
    XplTrack video;  // no description, no language
    video.streamClass = StreamClass::Video;
    video.number = t;
    video.label = label;
    video.track = t;
    title_.tracks.push_back(video);
  }

  void listed(const std::string& line, StreamClass streamClass, std::string& description, TreeNode& node) {
    const bool audio = streamClass == StreamClass::Audio;
    const std::int32_t s = XplIntAttribute(line, "streamNumber");
    const std::int32_t m = mediaAttribute(line);
    auto& seen = audio ? audioSeen_ : subSeen_;
    if (!inRange(s, kSlots) || !inRange(m, kMediaAttributes) || seen[static_cast<std::size_t>(s - 1)]) return;
    seen[static_cast<std::size_t>(s - 1)] = true;
    XplAttribute(line, "description", description);
    const auto& table = audio ? tables_.XplAudioAttributes : tables_.XplSubpictureAttributes;
    const std::string label = table[static_cast<std::size_t>(m - 1)] + ".stream." + twoDigits(s - 1) + "." + description;
    node.children.push_back(label);
    report_.log(label + " found!");
    title_.tracks.push_back(
        {streamClass, s, label, ownInteger(line, "track"), ownAttribute(line, "description").value_or("")});
  }

  // An AudioTrack or SubtitleTrack of the TrackNavigationList: the first
  // langcode given for a track number is its language.
  void navigation(const std::string& line, std::array<std::optional<std::string>, kTrackNumbers>& languages) {
    const std::int32_t track = ownInteger(line, "track");
    const std::optional<std::string> langcode = ownAttribute(line, "langcode");
    if (!langcode || !inRange(track, kTrackNumbers)) return;
    auto& language = languages[static_cast<std::size_t>(track - 1)];
    if (!language) language = *langcode;
  }

  LogSink& report_;
  const XplAttributeTables& tables_;
  XplTitle& title_;
  std::string titleName_, titleDuration_, audioDescription_, subDescription_, chapterBegin_, chapterName_;
  std::array<bool, kSlots> videoSeen_{}, audioSeen_{}, subSeen_{};
  std::array<std::optional<std::string>, kTrackNumbers> audioLanguages_, subLanguages_;
};

}  // namespace

void XplAttribute(std::string_view tag, std::string_view name, std::string& value) {
  const std::size_t at = upper(tag).find(upper(name));
  if (at == std::string::npos) return;
  std::string_view rest = tag.substr(at + name.size(), kValueWindow);
  if (const std::size_t equals = rest.find('='); equals != std::string_view::npos) rest.remove_prefix(equals + 1);
  if (const std::size_t quote = rest.find('"'); quote != std::string_view::npos) rest.remove_prefix(quote + 1);
  const std::size_t close = rest.find('"');
  value = close == std::string_view::npos ? std::string() : std::string(rest.substr(0, close));
}

std::int32_t XplIntAttribute(std::string_view tag, std::string_view name) {
  std::string text;
  XplAttribute(tag, name, text);
  std::int32_t value = 0;
  return parseInteger(text, value) ? value : 0;
}

std::optional<StreamSlot> trackSlot(const XplTrack& track) {
  switch (track.streamClass) {
    case StreamClass::Video:
      if (track.number == 1) return StreamSlot{StreamClass::Video, 0};
      return std::nullopt;
    default:
      return StreamSlot{track.streamClass, track.number - 1};
  }
}

namespace {

// The listing's lines as the tag scan gives them, with what the scan learns
// on the way: the playlist's name, the attribute tables and where each
// TitleSet begins.
struct PlaylistLines {
  std::vector<std::string>& lines;
  std::vector<TitleSetLine> titleSets;
  ScanValues values;
};

std::function<void(const std::string&)> collectLines(PlaylistLines& into, XplAttributeTables& tables) {
  return [&into, &tables](const std::string& line) {
    into.lines.push_back(line);
    analyseLine(line, into.values, tables);
    const std::string u = upper(line);
    if (contains(u, "<TITLESET ") || contains(u, "<TITLESET>")) {
      std::string timeBase = "60fps";
      XplAttribute(line, "timeBase", timeBase);
      into.titleSets.push_back({into.lines.size() - 1, timeBase});
    }
  };
}

// A video file or a picture taken for a playlist would be listed as its
// bytes: the root element must come early.
bool playlistHead(std::string_view bytes) {
  return contains(upper(bytes.substr(0, std::min(bytes.size(), kPlaylistHeadSize))), "<PLAYLIST");
}

// The time base of the TitleSet that holds the line.
std::string timeBaseAt(const std::vector<TitleSetLine>& titleSets, std::size_t line) {
  std::string timeBase = "60fps";
  for (const TitleSetLine& set : titleSets)
    if (set.line <= line) timeBase = set.timeBase;
  return timeBase;
}

// The line that closes the title opened at `first`: the first "</TITLE"
// after it, or the last line.
std::size_t titleEnd(const std::vector<std::string>& lines, std::size_t first) {
  for (std::size_t i = first + 1; i < lines.size(); ++i)
    if (contains(upper(lines[i]), "</TITLE")) return i;
  return lines.size() - 1;
}

class NoLog : public LogSink {
 public:
  void log(std::string_view) override {}
};

void readPlaylist(const XplRequest& request, ScanState& scan, XplAttributeTables& tables, RunReport& report,
                  XplResult& result) {
  struct CloseInput {
    ScanState& scan;
    ~CloseInput() { scan.InputStream.reset(); }
  } closeInput{scan};
  scan.InputStream.emplace(request.open ? request.open(request.path) : InputFile(request.path));
  InputFile& input = *scan.InputStream;
  report.log("Open " + request.xplFileName);
  report.log("Filesize: " + std::to_string(input.size()) + " bytes");
  std::vector<std::string>& lines = result.listing;
  PlaylistLines scanned{lines, {}, {}};
  TagScan tags(collectLines(scanned, tables), input.size());
  for (bool first = true;; first = false) {
    const std::size_t got = input.read(scan.PackBuffer.get(), kPackBufferSize);
    if (first) {
      if (!playlistHead(std::string_view(reinterpret_cast<const char*>(scan.PackBuffer.get()), got)))
        throw NotAPlaylistError(request.xplFileName + " is not an HD DVD playlist.");
      result.opened = true;
    }
    if (got == 0) break;
    report.detail(std::to_string(input.position()) + "/" + std::to_string(input.size()) + " bytes");
    tags.feed(scan.PackBuffer.get(), got);
  }
  scan.InputStream.reset();
  if (tags.listedTags() < tags.tags()) report.log(listingCut(tags));

  XplTitle& title = result.title;
  title.playlistName = scanned.values.playlistName;
  std::optional<std::size_t> found = lineNaming(lines, request.baseName);
  if (!found && request.firstBaseName != request.baseName) found = lineNaming(lines, request.firstBaseName);
  if (found) {
    title.found = true;
    std::size_t first = *found - 1;
    while (first > 0 && !contains(upper(lines[first]), "<TITLE ")) --first;
    const std::size_t last = titleEnd(lines, first);
    const std::size_t opening = first > 0 ? first : *found;
    title.timeBase = timeBaseAt(scanned.titleSets, opening);
    if (!knownTimeBase(title.timeBase))
      report.log("The title's time base \"" + printableUtf8(title.timeBase) + "\" is not known: its times are read as 60fps.");
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(last) + 1, lines.end());
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(first));
    result.tree = TitleReader(report, tables, title).read(lines);
  }
  logDone(report);
}

}  // namespace

XplResult readXpl(const XplRequest& request, ScanState& scan, XplAttributeTables& tables, RunReport& report) {
  XplResult result;
  result.outcome = runCommand([&] {
    readPlaylist(request, scan, tables, report, result);
    return Outcome::done();
  });
  return result;
}

std::vector<XplTitle> xplTitles(std::string_view document, const std::string& name) {
  if (!playlistHead(document)) throw NotAPlaylistError(name + " is not an HD DVD playlist.");
  std::vector<std::string> lines;
  PlaylistLines scanned{lines, {}, {}};
  XplAttributeTables tables;
  TagScan tags(collectLines(scanned, tables), static_cast<std::int64_t>(document.size()));
  tags.feed(reinterpret_cast<const std::uint8_t*>(document.data()), document.size());
  std::vector<XplTitle> titles;
  NoLog quiet;
  // As Read XPL looks for a title: from line 1 on, each from its opening
  // tag to the first closing one.
  for (std::size_t first = 1; first < lines.size(); ++first) {
    if (!contains(upper(lines[first]), "<TITLE ")) continue;
    const std::size_t last = titleEnd(lines, first);
    XplTitle title;
    title.found = true;
    title.playlistName = scanned.values.playlistName;
    title.timeBase = timeBaseAt(scanned.titleSets, first);
    const std::vector<std::string> own(lines.begin() + static_cast<std::ptrdiff_t>(first),
                                       lines.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    TitleReader(quiet, tables, title).read(own);
    titles.push_back(std::move(title));
    first = last;
  }
  return titles;
}

}  // namespace tarnwick
