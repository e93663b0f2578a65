#pragma once
// The elementary streams of the sample feature, as sequences of access
// units with their time stamps (90 kHz clock). Each source stops at a time
// limit that the muxer may set late, once it knows where the feature ends.

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "audio_frames.h"
#include "bits.h"
#include "subpictures.h"
#include "vc1_essence.h"

namespace tarnwick::mkdisc {

constexpr std::uint64_t kNoEnd = std::numeric_limits<std::uint64_t>::max();

struct Unit {
  Bytes data;
  std::uint64_t pts = 0;
  std::optional<std::uint64_t> dts;  // only where it differs from pts
  bool gopStart = false;             // video: first frame of a group, after the headers
  std::uint64_t index = 0;           // running number within the stream
  std::uint64_t time() const { return dts.value_or(pts); }
};

class UnitSource {
 public:
  virtual ~UnitSource() = default;
  // The next unit that starts before `end`, or nothing.
  virtual std::optional<Unit> next(std::uint64_t end) = 0;
};

// 24000/1001 frames per second in closed groups of 12 frames, coded as
// I P B B P B B P B B P B. A group lasts 45045 ticks exactly.
constexpr int kGopFrames = 12;
constexpr std::uint64_t kGopTicks = 45045;
// Display time of frame d counted from t0, rounded down.
inline std::uint64_t frameTicks(std::uint64_t d) { return d * 15015 / 4; }

std::unique_ptr<UnitSource> makeVideoSource(const Vc1Format& format, std::uint64_t t0, std::uint64_t bytesPerSecond);
std::unique_ptr<UnitSource> makeLoopedAudioSource(AudioFrames frames, std::uint64_t t0);
// 48 kHz stereo 16-bit big-endian samples in 1/600 s units (80 samples).
std::unique_ptr<UnitSource> makeLpcmSource(std::uint64_t t0);
// A caption in `language` at each whole second from t0: "English 1" at t0,
// "English 2" a second later, and so on, each shown for most of its second.
// Throws when a font it needs is missing.
std::unique_ptr<UnitSource> makeSubpictureSource(bool eightBit, CaptionLanguage language, std::uint64_t t0);

}  // namespace tarnwick::mkdisc
