#pragma once
// What every command starts from, set up the same way for the window's
// handlers and the command line: the choices each front end reads from its
// own controls or options become the run's input files, its output names,
// its scan options and the requests of Read XPL and the MKV.

#include <string>
#include <vector>

#include "app/disc_input.h"
#include "app/file_selection.h"
#include "app/stream_table.h"
#include "engine/run_request.h"
#include "matroska/mkv_run.h"
#include "playlist/xpl_reader.h"

namespace tarnwick {

struct RunChoices {
  std::string evoPath;
  std::string xplPath;  // the playlist that names the streams, or empty
  bool goOn = true;     // on into the second file of a split feature
  // The second file when the disc's playlist names it; empty: the one
  // named after the first ("FEATURE_2.EVO" after "FEATURE_1.EVO").
  std::string secondPath;
  std::vector<std::string> laterPaths;  // a title's third file on
  // Files inside a disc image (see RunInput).
  std::string imagePath;
  std::function<InputFile(const std::string&)> openInside;
  std::string workdir;  // the output folder typed; empty: beside the EVO
  ScanOptions options;
  std::string videoExt = "mpv";
  std::string audioExt = "mpa";
  std::string subExt = "sup";
};

// A disc's title as the run's input: exactly its own files, read where they
// lie, its outputs beside the disc unless a folder is given.
void takeTitle(RunChoices& choices, const TitleRun& title);

struct RunSetUp {
  RunInput input;
  ScanOptions options;
  // FOLDER BASE.CAPTION.EXT for Demux; the MKV's folder and base name.
  OutputNaming naming;
};

// The continuation decided (which gives the files' OutputBaseName), the
// output folder and names.
RunSetUp setUpRun(const RunChoices& choices, FileSelection& files);

// Read XPL of the playlist at `path`, for the EVO the selection holds;
// inside a disc image when `title` is the image's and `path` its playlist.
XplRequest playlistRequest(const FileSelection& files, const std::string& path, const TitleRun* title = nullptr);

// The MKV of the chosen streams, in the output folder; their files in its
// temporary folder go under Demux's names.
MkvRequest mkvRequest(const RunSetUp& setUp, const StreamTable& streams, const XplTitle& title);

// NAME.rebuilt.EVO in the output folder.
std::string rebuildOutput(const RunSetUp& setUp);

}  // namespace tarnwick
