#pragma once
// Encoded audio for the sample disc: ffmpeg encodes a short tone once, and
// the raw stream is cut into frames that the muxer loops for as long as
// the feature runs.

#include <cstdint>
#include <string>
#include <vector>

#include "bits.h"

namespace tarnwick::mkdisc {

struct AudioFrames {
  std::vector<Bytes> frames;
  std::uint32_t samplesPerFrame = 0;
  std::uint32_t sampleRate = 48000;
};

// Splits a raw E-AC-3 stream at its sync words, using each frame's own size.
AudioFrames splitEac3(const Bytes& raw);
// Splits a raw DTS core stream (16-bit big-endian sync) by each frame's size field.
AudioFrames splitDts(const Bytes& raw);

// True when `ffmpeg` can be run from PATH.
bool ffmpegAvailable();
// Runs ffmpeg to encode `seconds` of a stereo tone; throws with ffmpeg's message on failure.
Bytes encodeTone(const std::string& codecArgs, const std::string& format, double frequency, double seconds,
                 const std::string& workDir);

}  // namespace tarnwick::mkdisc
