#pragma once
// `subs --png DIR FILE`: one PNG per caption of a PGS `.sup` or of the SP
// records that Demux writes, named by its start time, for a look.

#include <string>

#include "analysers/log_sink.h"

namespace tarnwick {

// Returns the process's exit status: 0 when every caption was written, 1
// when the input cannot be read or a PNG cannot be written (said in the log).
int runSubsPng(const std::string& supPath, const std::string& pngDir, LogSink& log);

}  // namespace tarnwick
