#pragma once
// The machine-readable report of a Read EVO: the file, and per stream found
// its box, caption, id, kind, first time stamp, delay and detail lines; the
// frame counts.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/stream_table.h"
#include "engine/scan_state.h"
#include "playlist/xpl_reader.h"

namespace tarnwick::cli {

struct ReportFile {
  std::string path;        // as given on the command line
  std::int64_t size = 0;   // bytes
  std::string secondPath;  // the second EVO the read went on with, or empty
};

// `text` as a JSON string literal, quotes included. Bytes that are not
// UTF-8 become U+FFFD so that the output stays valid JSON.
std::string jsonString(std::string_view text);

// The report of the latest read, from the state it left and the stream
// table's captions.
std::string jsonReport(const ReportFile& file, const ScanState& scan, const StreamTable& streams);

// The report of a Read XPL: the title that plays the EVO, its tracks with
// the labels they gave the boxes, and its chapters with their start in ms.
std::string jsonPlaylist(const std::string& xplPath, const std::string& evoPath, const XplTitle& title);

}  // namespace tarnwick::cli
