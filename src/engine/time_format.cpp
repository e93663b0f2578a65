#include "engine/time_format.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace tarnwick {

std::string formatLongTime(long double days) {
  constexpr std::int64_t kMsPerDay = 86400000;
  if (!std::isfinite(days)) days = 0;
  auto ms = static_cast<std::int64_t>(std::llround(days * kMsPerDay));
  ms %= kMsPerDay;
  if (ms < 0) ms += kMsPerDay;
  const auto seconds = ms / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%d:%02d:%02d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

}  // namespace tarnwick
