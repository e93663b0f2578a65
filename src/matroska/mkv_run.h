#pragma once
// Matroska in one step: the chosen streams demuxed into a folder of
// temporary files beside the MKV (subpictures as PGS, LPCM as WAV), then
// mkvmerge run as a child process with the names, languages, default flags,
// delays, title and chapters, and the temporary files removed however the
// run ends.

#include <array>
#include <string>
#include <vector>

#include "engine/run_report.h"
#include "engine/run_request.h"
#include "engine/scan_state.h"
#include "playlist/xpl_reader.h"

namespace tarnwick {

// The oldest mkvmerge whose options the run uses (--default-track-flag).
constexpr int kMkvmergeMajorNeeded = 51;

struct MkvRequest {
  RunInput input;
  std::string folder;    // where the MKV and the temporary folder go
  std::string baseName;  // the MKV is folder/baseName.mkv
  // The chosen streams; each output name is the bare file name of the
  // stream's file in the temporary folder.
  StreamSelection selection;
  // The playlist's title that plays the EVO (found false when no playlist
  // was read): the MKV's title, chapters, track names and languages.
  XplTitle title;
  ScanOptions options;   // of the demux; subpictures always go as PGS
  std::string mkvmerge;  // the program as the user set it; empty: looked up
  bool keepStreams = false;
};

// The MKV a request writes.
std::string mkvPath(const MkvRequest& request);

// The mkvmerge program to run: the one the user set, else the one on PATH,
// else (on Windows) the one in MKVToolNix's usual install folder. Empty when
// there is none.
std::string findMkvmerge(const std::string& configured);

// The run. mkvmerge missing or too old, no room for the temporary files and
// the MKV, a file error, mkvmerge's errors: a failure that leaves neither the
// MKV nor the temporary files. mkvmerge's warnings go to the log.
Outcome makeMkv(ScanState& state, const MkvRequest& request, RunReport& report);

// The arguments mkvmerge gets for a run (without the option file around
// them), given the stream files in the order of the lists and the MKV to
// write. Exposed for the tests.
struct MkvInputFile {
  StreamSlot slot;
  std::string path;
};
std::vector<std::string> mkvmergeArguments(const ScanState& state, const MkvRequest& request,
                                           const std::vector<MkvInputFile>& files, const std::string& chaptersPath,
                                           const std::string& output);

// The option file mkvmerge reads with "@FILE": a JSON array of strings.
std::string mkvmergeOptionFile(const std::vector<std::string>& arguments);

}  // namespace tarnwick
