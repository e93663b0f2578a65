#pragma once
// Subpicture units for the subpicture streams: a caption's text, as a
// DVD-style 2-bit unit or an 8-bit HD unit.

#include <cstdint>

#include "bits.h"
#include "captions.h"

namespace tarnwick::mkdisc {

// Caption `number` (1, 2, ...) of `language` shown for `displayTicks`: low and
// centred in the 1920x1080 frame, the 8-bit stream's above the 2-bit one's.
//
// Kind 0 is the plain caption: for 2-bit, a 16-bit size, the control-sequence
// offset, run-length pixel data per field, then a start sequence and a
// delayed stop sequence; for 8-bit, 00 00, then 32-bit size and
// control-sequence offset, bit-level 8-bit run-length lines per field, and
// control sequences with a 256-entry palette and contrast table, the 8-bit
// area command and 32-bit pixel-data offsets.
//
// The other kinds are those a converter to other subtitle formats must
// handle: kind 1 forced (2-bit) or large text with run-length data over
// 64 KiB (8-bit); kind 2 text in a frame-wide area whose margins are runs
// longer than one code holds, and lines that end "to the end of the line" in
// both fields (8-bit: also forced); kind 3 without a stop command, so that
// the next caption ends it.
Bytes captionSubpictureUnit(bool eightBit, int kind, CaptionLanguage language, std::uint64_t number,
                            std::uint32_t displayTicks);

}  // namespace tarnwick::mkdisc
