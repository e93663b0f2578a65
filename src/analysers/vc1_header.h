#pragma once
// VC-1 advanced-profile sequence header of a video stream's first payload.

#include <array>
#include <cstddef>
#include <cstdint>

#include "analysers/log_sink.h"

namespace tarnwick {

void ReportVc1Header(const std::uint8_t* buffer, std::int32_t position, std::int32_t length, std::uint64_t pts,
                     LogSink& sink);

}  // namespace tarnwick
