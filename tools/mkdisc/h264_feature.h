#pragma once
// The sample feature's pictures: H.264 that a player shows, encoded by
// ffmpeg's libx264 from a test pattern with the running time and the frame
// number burned in, and a white frame (the flash) at each whole second, on
// which the audio's beep and a new caption start.

#include <cstdint>
#include <memory>
#include <vector>

#include "bits.h"

namespace tarnwick::mkdisc {

class UnitSource;

struct EncodedFrame {
  Bytes data;               // one access unit, from its delimiter on
  std::int64_t pts = 0;     // in frames of 1001/24000 s from the first shown
  std::int64_t dts = 0;
  bool key = false;         // an IDR picture: a group of pictures starts here
};

// `frames` frames at 1920x1080, 24000/1001 fps, in closed groups of 12
// frames with two B frames between anchors, at about `bytesPerSecond`
// (constant rate, filler included). Needs ffmpeg with libx264 and the
// DejaVu fonts.
std::vector<EncodedFrame> encodeH264Feature(std::uint64_t frames, std::uint64_t bytesPerSecond);

// The frames in decoding order, the first shown at `t0` (90 kHz).
std::unique_ptr<UnitSource> makeEncodedVideoSource(std::vector<EncodedFrame> frames, std::uint64_t t0);

}  // namespace tarnwick::mkdisc
