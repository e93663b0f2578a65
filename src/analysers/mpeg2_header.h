#pragma once
// MPEG-2 video sequence header of a video stream's first payload.

#include <array>
#include <cstddef>
#include <cstdint>

#include "analysers/log_sink.h"

namespace tarnwick {

void ReportMpeg2Header(const std::uint8_t* buffer, std::int32_t position, std::int32_t length, std::uint32_t pts,
                       LogSink& sink);

}  // namespace tarnwick
