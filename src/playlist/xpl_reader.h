#pragma once
// Read XPL: the disc's playlist cut into tags byte by byte, shown as an
// indented listing, with the title that plays the chosen EVO as a tree and
// its tracks as labels of the stream boxes. Deliberately not an XML parser:
// what the user sees follows from this scan, also on odd input.

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/window.h"
#include "engine/scan_state.h"

namespace tarnwick {

// An "index" that does not convert: "'VALUE' is not a valid integer value".
class ConversionError : public std::runtime_error {
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

// What the title that plays the EVO holds, beside the tree's texts.
struct XplTrack {
  StreamClass streamClass;
  int number;  // as in the playlist, from 1
  std::string label;
};

struct XplChapter {
  std::string begin;  // "HH:MM:SS:FF" as written
  std::string name;
};

struct XplTitle {
  bool found = false;  // a line of the playlist names the EVO
  std::string playlistName;
  std::string name;
  std::string duration;
  std::string timeBase;  // of the enclosing TitleSet, "60fps" when not given
  std::vector<XplTrack> tracks;
  std::vector<XplChapter> chapters;
};

// What Read XPL needs from the file selection and the stream lists.
struct XplRequest {
  std::string path;          // eXPLfile
  std::string xplFileName;   // XplFileName
  std::string baseName;      // OutputBaseName
  // The first file's own base name, looked for when no line holds the
  // extended name of a split feature (FEATURE_1 for FEATURE_1_FEATURE_2).
  std::string firstBaseName;
  std::function<void()> resetBoxes;
  // Enables and ticks the box and sets its caption, and its hint too when
  // asked; the button rule follows from the tick.
  std::function<void(ControlId box, const std::string& label, bool setHint)> labelBox;
};

// The command behind "Read XPL". File errors and ConversionError end it;
// the input is closed however it ends.
XplTitle readXpl(const XplRequest& request, Window& window, ScanState& scan, XplAttributeTables& tables);

}  // namespace tarnwick
