#pragma once
// Subpicture units for the two subpicture streams: a DVD-style 2-bit unit
// and an 8-bit HD unit, each showing a small framed box for `displayTicks`.

#include <cstdint>

#include "bits.h"

namespace tarnwick::mkdisc {

struct SubpictureArea {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The 2-bit unit: 16-bit size, control-sequence offset, run-length pixel
// data per field, then a start sequence and a delayed stop sequence.
Bytes twoBitSubpictureUnit(const SubpictureArea& area, std::uint32_t displayTicks, int variant);

// The 8-bit HD unit: 00 00, then 32-bit size and control-sequence offset,
// bit-level 8-bit run-length lines per field, and control sequences with a
// 256-entry palette and contrast table, the 8-bit area command and 32-bit
// pixel-data offsets.
Bytes eightBitSubpictureUnit(const SubpictureArea& area, std::uint32_t displayTicks, int variant);

}  // namespace tarnwick::mkdisc
