#pragma once
// DTS core header of an audio stream's first payload; reads only buffer[0, validLength).

#include <array>
#include <cstddef>
#include <cstdint>

#include "analysers/codes.h"
#include "analysers/log_sink.h"

namespace tarnwick {

// Returns the channels of the first core header, none when there is none.
AudioChannels ReportDtsHeader(const std::uint8_t* buffer, std::size_t validLength, std::int32_t position, std::int32_t length,
                     LogSink& sink);

}  // namespace tarnwick
