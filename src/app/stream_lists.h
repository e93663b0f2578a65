#pragma once
// The stream lists as values, for the window's boxes and the command line
// alike: the captions of empty and found streams and the output files that
// a caption names.

#include <string>

#include "engine/scan_state.h"
#include "engine/stream_ids.h"

namespace tarnwick {

// "No video stream", "No audio stream", "No subpicture".
const char* emptyCaption(StreamClass streamClass);
// The caption of a stream that Read EVO found: "DD+.stream.00", "VC-1.stream.0".
std::string foundCaption(const ScanState& scan, StreamSlot s);
// The folder outputs go to, with its separator: the one typed, else the input's.
std::string outputFolder(const std::string& workdir, const std::string& evoFolder);
// FOLDER BASE.CAPTION.EXT, the caption and extension made safe as a file name.
std::string demuxFileName(const std::string& folder, const std::string& baseName, const std::string& caption,
                          const std::string& ext);
// FOLDER BASE.rebuilt.EVO
std::string rebuildFileName(const std::string& folder, const std::string& baseName);

}  // namespace tarnwick
