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

// A stream's delay in milliseconds from `reference` (the video's first time
// stamp), as `read --json` reports it and the MKV uses it. The time stamps
// are taken as the values they are, as the earliest one and the subpicture
// times are: a difference past 2^31 ticks (6.6 hours) is no wrap, since
// read as one a stream 6.7 hours after the video would start before it.
std::int64_t delayMs(std::uint32_t pts, std::uint32_t reference);

// "N frames (h:mm:ss s) count in video stream K." after a Read EVO (the time
// bold, at 24000/1001 frames a second) or a Demux (at 23.976).
enum class FrameCountStyle { ReadEvo, Demux };
std::string frameCountLine(std::int32_t count, int stream, FrameCountStyle style);

}  // namespace tarnwick
