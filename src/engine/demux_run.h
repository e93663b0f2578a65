#pragma once
// The two scans a user starts: Read EVO, which finds the streams and reports
// them, and Demux, which writes the chosen streams to their files. Both run
// on into the second file of a split feature when the input names one.

#include "engine/run_report.h"
#include "engine/run_request.h"
#include "engine/scan_state.h"

namespace tarnwick {

// Read EVO: the analysis scan of the input (and of its second file), which
// leaves the slot tables, the stream records and the frame counts in
// `state`. Cancelled when the report asked for it.
Outcome readEvo(ScanState& state, const RunInput& input, const ScanOptions& options, RunReport& report);

// Demux: creates the output of every chosen stream (never over an input of
// the run, nor two streams into one file), then the extraction scan. The
// outputs are closed however it ends; those created stay on disk.
Outcome demuxStreams(ScanState& state, const RunInput& input, const ScanOptions& options,
                     const StreamSelection& selection, RunReport& report);

// The time stamp that PGS outputs count from: the earliest one Read EVO saw
// (with details), else the earliest first time stamp of a stream.
std::uint32_t subtitleTimeBase(const ScanState& state);

// "N frames (h:mm:ss s) count in video stream K." after a Read EVO (the time
// bold, at 24000/1001 frames a second) or a Demux (at 23.976).
enum class FrameCountStyle { ReadEvo, Demux };
std::string frameCountLine(std::int32_t count, int stream, FrameCountStyle style);

}  // namespace tarnwick
