#include "analysers/subpicture_format.h"

namespace tarnwick {

void ReportSubpictureFormat(const std::uint8_t* buffer, std::size_t validLength, std::int32_t position,
                            LogSink& sink) {
  const auto at = [&](std::int64_t i) -> int {
    return (i >= 0 && static_cast<std::size_t>(i) < validLength) ? buffer[i] : -1;
  };
  const bool eightBit = at(position) == 0 && at(static_cast<std::int64_t>(position) + 1) == 0;
  sink.log(eightBit ? "   Format = 8bitRLE" : "   Format = 2bitRLE");
}

}  // namespace tarnwick
