#pragma once
// Dolby Digital (Plus) sync frame header of an audio stream's first payload.

#include <array>
#include <cstddef>
#include <cstdint>

#include "analysers/codes.h"
#include "analysers/log_sink.h"

namespace tarnwick {

// Returns the channels of the first valid header, none when there is none.
AudioChannels ReportAc3Header(const std::uint8_t* buffer, std::int32_t position, std::int32_t length, std::int32_t stream,
                     const std::array<std::uint32_t, 23>& Ac3RateTable, LogSink& sink);

}  // namespace tarnwick
