#pragma once
// What a command is given when it starts, as values: the options the scan
// follows, the streams chosen with their output names, the input files. They
// are taken once; what the user changes while a command runs does not reach it.

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "engine/file_io.h"
#include "engine/stream_ids.h"

namespace tarnwick {

// The Options page's "Count frames", "Detailed info" and "Fast EVO checking",
// and whether Demux writes subpictures as PGS rather than SP records.
struct ScanOptions {
  bool countFrames = true;
  bool details = true;
  bool fastCheck = true;
  bool pgs = false;
};

// The streams chosen for Demux or Rebuild, by output (see outputSlot), and
// the file each chosen stream is demuxed to.
struct StreamSelection {
  std::array<bool, kOutputCount> chosen{};
  std::array<std::string, kOutputCount> outputNames{};

  bool isChosen(StreamSlot s) const { return chosen[static_cast<std::size_t>(outputIndex(s))]; }
  void choose(StreamSlot s, std::string outputName = {}) {
    chosen[static_cast<std::size_t>(outputIndex(s))] = true;
    outputNames[static_cast<std::size_t>(outputIndex(s))] = std::move(outputName);
  }
  int count(StreamClass streamClass) const {
    int n = 0;
    for (int k = 0; k < kOutputCount; ++k) n += chosen[static_cast<std::size_t>(k)] && outputSlot(k).streamClass == streamClass;
    return n;
  }
};

// The run's input, the second file of a split feature when the run goes on
// into it, and the playlist that named the streams (each empty when none).
// No output of the run may be any of them.
struct RunInput {
  std::string path;
  std::string secondPath;
  std::string playlistPath;
  // A title of more than two files: the third one on, in the order they play.
  std::vector<std::string> laterPaths;
  // Files inside a disc image: the image (never written over either), and
  // how to open a file of it by its path above, which is then the name
  // shown. Empty: the paths are files of this computer.
  std::string imagePath;
  std::function<InputFile(const std::string&)> openInside;
};

// The input file at `path` (the run's first or second file).
InputFile openInput(const RunInput& input, const std::string& path);

}  // namespace tarnwick
