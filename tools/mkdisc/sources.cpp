#include "sources.h"

#include <cmath>
#include <utility>

namespace tarnwick::mkdisc {
namespace {

class VideoSource : public UnitSource {
 public:
  VideoSource(const Vc1Format& f, std::uint64_t t0, std::uint64_t bytesPerSecond)
      : t0_(t0), sequence_(vc1SequenceHeader(f)), entry_(vc1EntryPoint()) {
    // Average frame size; I frames weigh 3, P 1.2, B 0.6 (12 units per group).
    average_ = static_cast<double>(bytesPerSecond) * 1001.0 / 24000.0;
  }

  std::optional<Unit> next(std::uint64_t end) override {
    const std::uint64_t gop = coded_ / kGopFrames;
    const int pos = static_cast<int>(coded_ % kGopFrames);
    if (pos == 0 && t0_ + gop * kGopTicks >= end) return std::nullopt;
    // Coded order I0 P3 B1 B2 P6 B4 B5 P9 B7 B8 P11 B10 (display positions).
    static const int display[kGopFrames] = {0, 3, 1, 2, 6, 4, 5, 9, 7, 8, 11, 10};
    static const Vc1PictureType types[kGopFrames] = {
        Vc1PictureType::I, Vc1PictureType::P, Vc1PictureType::B, Vc1PictureType::B,
        Vc1PictureType::P, Vc1PictureType::B, Vc1PictureType::B, Vc1PictureType::P,
        Vc1PictureType::B, Vc1PictureType::B, Vc1PictureType::P, Vc1PictureType::B};
    const Vc1PictureType type = types[pos];
    const double weight = type == Vc1PictureType::I ? 3.0 : type == Vc1PictureType::P ? 1.2 : 0.6;
    // A deterministic +-10 % wobble so that frames differ in size.
    const double wobble = 0.9 + 0.2 * static_cast<double>((coded_ * 2654435761u >> 7) % 1000) / 1000.0;
    const std::size_t size = std::max<std::size_t>(64, static_cast<std::size_t>(average_ * weight * wobble));

    Unit u;
    u.index = coded_;
    u.gopStart = pos == 0;
    if (u.gopStart) {
      u.data = sequence_;
      u.data.insert(u.data.end(), entry_.begin(), entry_.end());
    }
    const Bytes frame = vc1Frame(type, size, static_cast<std::uint32_t>(coded_));
    u.data.insert(u.data.end(), frame.begin(), frame.end());
    // Decoding runs one frame ahead of display, so anchors are decoded before
    // the B frames that show earlier.
    // Both clocks count frames from one frame before t0, so a B frame's
    // decode and display times round to the same tick.
    const std::uint64_t base = gop * kGopFrames;
    const std::uint64_t origin = t0_ - frameTicks(1);
    const std::uint64_t dts = origin + frameTicks(base + static_cast<std::uint64_t>(pos));
    u.pts = origin + frameTicks(base + static_cast<std::uint64_t>(display[pos]) + 1);
    if (u.pts != dts) u.dts = dts;
    ++coded_;
    return u;
  }

 private:
  std::uint64_t t0_;
  Bytes sequence_, entry_;
  double average_ = 0;
  std::uint64_t coded_ = 0;
};

class LoopedAudioSource : public UnitSource {
 public:
  LoopedAudioSource(AudioFrames frames, std::uint64_t t0) : frames_(std::move(frames)), t0_(t0) {}

  std::optional<Unit> next(std::uint64_t end) override {
    const std::uint64_t pts = t0_ + n_ * frames_.samplesPerFrame * 90000 / frames_.sampleRate;
    if (pts >= end) return std::nullopt;
    Unit u;
    u.index = n_;
    u.pts = pts;
    u.data = frames_.frames[n_ % frames_.frames.size()];
    ++n_;
    return u;
  }

 private:
  AudioFrames frames_;
  std::uint64_t t0_;
  std::uint64_t n_ = 0;
};

class LpcmSource : public UnitSource {
 public:
  explicit LpcmSource(std::uint64_t t0) : t0_(t0) {}

  std::optional<Unit> next(std::uint64_t end) override {
    const std::uint64_t pts = t0_ + n_ * 150;  // 80 samples at 48 kHz
    if (pts >= end) return std::nullopt;
    Unit u;
    u.index = n_;
    u.pts = pts;
    u.data.reserve(320);
    for (int i = 0; i < 80; ++i) {
      const std::uint64_t sample = n_ * 80 + static_cast<std::uint64_t>(i);
      const double t = static_cast<double>(sample) / 48000.0;
      // The beep at the start of every second, a pitch per channel.
      const double level = sample % 48000 < static_cast<std::uint64_t>(kBeepSeconds * 48000) ? 16000.0 : 0.0;
      const auto left = static_cast<std::int16_t>(std::lround(level * std::sin(2 * M_PI * 550.0 * t)));
      const auto right = static_cast<std::int16_t>(std::lround(level * std::sin(2 * M_PI * 660.0 * t)));
      put16(u.data, static_cast<std::uint16_t>(left));
      put16(u.data, static_cast<std::uint16_t>(right));
    }
    ++n_;
    return u;
  }

 private:
  std::uint64_t t0_;
  std::uint64_t n_ = 0;
};

class SubpictureSource : public UnitSource {
 public:
  SubpictureSource(bool eightBit, CaptionLanguage language, std::uint64_t t0)
      : eightBit_(eightBit), language_(language), t0_(t0) {}

  std::optional<Unit> next(std::uint64_t end) override {
    const std::uint64_t pts = t0_ + n_ * 90000;
    if (pts >= end) return std::nullopt;
    Unit u;
    u.index = n_;
    u.pts = pts;
    // Every fourth caption is the plain one; the others in between are the
    // special kinds: long runs, no stop command, then forced or large. The
    // large one comes last: within the sample's 2 s FEATURE_1 it would raise
    // the bytes per group of pictures that size FEATURE_2 for --second-size,
    // leaving FEATURE_2 short.
    // 75 units of 1024 ticks: 0.85 s, so that each caption is gone before
    // the next second's starts.
    static constexpr int kKinds[4] = {0, 2, 3, 1};
    u.data = captionSubpictureUnit(eightBit_, kKinds[n_ % 4], language_, n_ + 1, 75 * 1024);
    ++n_;
    return u;
  }

 private:
  bool eightBit_;
  CaptionLanguage language_;
  std::uint64_t t0_;
  std::uint64_t n_ = 0;
};

}  // namespace

std::unique_ptr<UnitSource> makeVideoSource(const Vc1Format& format, std::uint64_t t0, std::uint64_t bytesPerSecond) {
  return std::make_unique<VideoSource>(format, t0, bytesPerSecond);
}

std::unique_ptr<UnitSource> makeLoopedAudioSource(AudioFrames frames, std::uint64_t t0) {
  return std::make_unique<LoopedAudioSource>(std::move(frames), t0);
}

std::unique_ptr<UnitSource> makeLpcmSource(std::uint64_t t0) { return std::make_unique<LpcmSource>(t0); }

std::unique_ptr<UnitSource> makeSubpictureSource(bool eightBit, CaptionLanguage language, std::uint64_t t0) {
  checkCaptionFonts();
  return std::make_unique<SubpictureSource>(eightBit, language, t0);
}

}  // namespace tarnwick::mkdisc
