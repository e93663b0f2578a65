#pragma once
// Encoded audio for the sample disc: ffmpeg encodes the beeps once, and
// the raw stream is cut into frames that the muxer loops when the feature
// runs longer.

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

// How long each beep lasts: it starts on every whole second of a title.
constexpr double kBeepSeconds = 0.1;

// Encodes `seconds` of a beep at the start of every second, each channel of
// `layout` (ffmpeg's name) at its own pitch, so that a listener hears the
// layout. `encoderDelay` is the encoder's delay in samples, made up for so
// that the decoded beeps start on the second.
Bytes encodeBeeps(const std::string& codecArgs, const std::string& format, const std::string& layout,
                  const std::vector<double>& pitches, double seconds, int encoderDelay);

}  // namespace tarnwick::mkdisc
