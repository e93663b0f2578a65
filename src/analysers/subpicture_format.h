#pragma once

#include <cstddef>
#include <cstdint>

#include "analysers/log_sink.h"

namespace tarnwick {

// Logs "   Format = 8bitRLE" when the first two payload bytes are 00 00,
// else "   Format = 2bitRLE". Only bytes before validLength are read; a byte
// past it does not count as zero.
void ReportSubpictureFormat(const std::uint8_t* buffer, std::size_t validLength, std::int32_t position,
                            LogSink& sink);

}  // namespace tarnwick
