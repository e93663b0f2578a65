#pragma once
// H.264 sequence parameters of a video stream's first payload.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "analysers/log_sink.h"

namespace tarnwick {

void ReportH264Header(const std::uint8_t* buffer, std::int32_t position, std::int32_t length, LogSink& sink);

// The frame rate that the first sequence parameter set of the run gives in
// its timing information, as "24000/1001"; empty when it gives none, or
// when the set is cut off or holds fields that no stream should.
std::string H264FrameRate(const std::uint8_t* buffer, std::int32_t position, std::int32_t length);

}  // namespace tarnwick
