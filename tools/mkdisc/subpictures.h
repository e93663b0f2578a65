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

// The other captions of each stream, which a converter to other subtitle
// formats must handle: kind 1 forced (2-bit) or with run-length data over
// 64 KiB (8-bit); kind 2 runs longer than one code holds and "to the end of
// the line" in both fields (8-bit: also forced); kind 3 without a stop
// command, so that the next caption ends it.
Bytes specialSubpictureUnit(bool eightBit, int kind, std::uint32_t displayTicks, int variant);

}  // namespace tarnwick::mkdisc
