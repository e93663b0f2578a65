#pragma once
// Synthesised VC-1 advanced-profile essence. There is no VC-1 encoder on the
// machine, so the headers are written field by field and each frame is a
// frame start code, a picture-type header and filler that never forms a
// start code prefix. Readers that parse headers and count frames see a
// well-formed stream; a decoder would reject the macroblock data.

#include <cstdint>

#include "bits.h"

namespace tarnwick::mkdisc {

struct Vc1Format {
  int width = 1920;
  int height = 1080;
  int level = 3;
  int frameRateNr = 1;  // index: 1=24, 2=25, 3=30, 4=50, 5=60
  int frameRateDr = 2;  // index: 1=/1000, 2=/1001
  int aspectRatio = 1;  // 1 = square samples
};

enum class Vc1PictureType { I, P, B };

// Sequence header BDU (start code 00 00 01 0F included).
Bytes vc1SequenceHeader(const Vc1Format& f);
// Entry-point header BDU (00 00 01 0E), closed entry, no coded size.
Bytes vc1EntryPoint();
// Frame BDU (00 00 01 0D) of `size` bytes in total: picture header then filler.
Bytes vc1Frame(Vc1PictureType type, std::size_t size, std::uint32_t seed);
// Inserts the 0x03 escape after 00 00 when the next byte is 0..3.
Bytes vc1Escape(const Bytes& raw);

}  // namespace tarnwick::mkdisc
