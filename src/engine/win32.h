#pragma once
// The Windows API, without the min/max macros that break std::min and the
// rarely used parts that slow every build. Include only under _WIN32.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
