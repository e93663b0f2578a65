#pragma once
// H.264 sequence parameters of a video stream's first payload.

#include <array>
#include <cstddef>
#include <cstdint>

#include "analysers/log_sink.h"

namespace tarnwick {

void ReportH264Header(const std::uint8_t* buffer, std::int32_t position, std::int32_t length, LogSink& sink);

}  // namespace tarnwick
