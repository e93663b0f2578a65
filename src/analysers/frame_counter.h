#pragma once
// Frame counting: counts the picture (or access unit) markers of a video
// payload run.

#include <cstdint>

#include "analysers/codes.h"
#include "analysers/log_sink.h"

namespace tarnwick {

// Adds to `count` one for every marker of `codec` in buffer[position ..
// position + length): MPEG-2 00 00 01 00, H.264 00 00 01 09, VC-1 00 00 01 0D.
// `window` holds the last four bytes of the stream's previous run and is
// updated, so a marker split between two runs counts exactly once. Start a
// stream's window at 0.
void CountPictureStarts(const std::uint8_t* buffer, std::int32_t position, std::int32_t length, VideoCodec codec,
                        std::int32_t& count, std::uint32_t& window, LogSink& sink);

}  // namespace tarnwick
