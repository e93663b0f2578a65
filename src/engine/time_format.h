#pragma once

#include <string>

namespace tarnwick {

// A time given as a fraction of a day, as "h:mm:ss": hours without a leading
// zero, wrapping at 24 hours; seconds cut to whole seconds after rounding to
// milliseconds.
std::string formatLongTime(long double days);

}  // namespace tarnwick
