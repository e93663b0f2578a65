#pragma once
// Read XPL: the disc's playlist cut into tags byte by byte, shown as an
// indented listing, with the title that plays the chosen EVO as a tree and
// its tracks, whose labels name the streams. Deliberately not an XML parser:
// what the user sees follows from this scan, also on odd input. The reader
// returns what it found; a front end puts it on its page and its boxes.

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_report.h"
#include "engine/scan_state.h"
#include "engine/stream_ids.h"

namespace tarnwick {

// An "index" that does not convert: "'VALUE' is not a valid integer value".
class ConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file without a Playlist element near its start: "NAME is not an HD DVD
// playlist."
class NotAPlaylistError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The attribute's value, assigned to `value` only when the name occurs in
// the tag (searched without regard to case, also inside longer names and
// values); otherwise `value` keeps what it held.
void XplAttribute(std::string_view tag, std::string_view name, std::string& value);
// The attribute read as a decimal integer; 0 when missing or not a number.
std::int32_t XplIntAttribute(std::string_view tag, std::string_view name);

// The media attribute tables, numbered 1 to 8. They keep their entries from
// one Read XPL to the next.
struct XplAttributeTables {
  std::array<std::string, 8> XplVideoAttributes;
  std::array<std::string, 8> XplAudioAttributes;
  std::array<std::string, 8> XplSubpictureAttributes;
};

// A root node of the playlist tree and the texts under it.
struct TreeNode {
  std::string text;
  std::vector<std::string> children;
};

// What the title that plays the EVO holds, beside the tree's texts.
struct XplTrack {
  StreamClass streamClass;
  int number;  // as in the playlist, from 1
  std::string label;
  // The tag's own track number, by which the title's TrackNavigationList
  // gives the language; 0 when it has none.
  int track = 0;
  // The tag's own description, character references as written; empty when
  // the tag has none (the label then carries an earlier tag's).
  std::string description;
  // The Matroska language of the track's langcode ("eng"), "und" when the
  // TrackNavigationList gives none or one we do not know.
  std::string language = "und";
};

struct XplChapter {
  std::string begin;  // "HH:MM:SS:FF" as written
  std::string name;
  // False when the tag gives no name of its own: `name` is then an earlier
  // chapter's, as the tree shows it.
  bool named = true;
};

struct XplTitle {
  bool found = false;  // a line of the playlist names the EVO
  std::string playlistName;
  std::string name;
  int number = 0;  // the Title's own titleNumber; 0 when it has none
  // The src of each PrimaryAudioVideoClip, in playlist order, as written
  // ("file:///dvddisc/HVDVD_TS/FEATURE_1.MAP").
  std::vector<std::string> clips;
  std::string duration;
  std::string timeBase;  // of the enclosing TitleSet, "60fps" when not given
  std::vector<XplTrack> tracks;
  std::vector<XplChapter> chapters;
};

// What Read XPL needs from the file selection.
struct XplRequest {
  std::string path;          // eXPLfile
  std::string xplFileName;   // XplFileName
  std::string baseName;      // OutputBaseName
  // The first file's own base name, looked for when no line holds the
  // extended name of a split feature (FEATURE_1 for FEATURE_1_FEATURE_2).
  std::string firstBaseName;
  // How to open `path` when it lies inside a disc image; empty: a file of
  // this computer.
  std::function<InputFile(const std::string&)> open;
};

struct XplResult {
  Outcome outcome;
  // The playlist was opened: the listing below replaces the one shown.
  bool opened = false;
  // The listing: the title's lines when a line names the EVO, else every
  // line; after a failure, the lines read so far.
  std::vector<std::string> listing;
  // The title's tree (Info, Video, Audio, Subtitle, Chapter); empty when no
  // line names the EVO.
  std::vector<TreeNode> tree;
  XplTitle title;
};

// The command behind "Read XPL". File errors and ConversionError end it as
// a failure; the input is closed however it ends.
XplResult readXpl(const XplRequest& request, ScanState& scan, XplAttributeTables& tables, RunReport& report);

// Every Title of a playlist document, in the playlist's order, each read as
// Read XPL reads the title that plays an EVO (tracks, languages, chapters,
// time base), with its number and clips; nothing is logged. `name` names the
// playlist in the errors Read XPL raises: NotAPlaylistError, ConversionError.
std::vector<XplTitle> xplTitles(std::string_view document, const std::string& name);

// The stream a track of the title labels: video track 1, audio and subtitle
// tracks by their stream number; none for other video tracks.
std::optional<StreamSlot> trackSlot(const XplTrack& track);

}  // namespace tarnwick
