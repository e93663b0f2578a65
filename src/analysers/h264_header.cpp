#include "analysers/h264_header.h"

#include <algorithm>
#include <iterator>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

// 00 00 01 + nal_unit_header, as the last four bytes seen (ISO/IEC 14496-10 7.3.1).
// nal_ref_idc 0, nal_unit_type 9: access unit delimiter.
constexpr std::uint32_t kAccessUnitDelimiter = 0x00000109;
// nal_unit_type 7 (sequence parameter set) with nal_ref_idc 1 or 3. A header
// byte 0x47 (nal_ref_idc 2) is left unrecognised on purpose.
constexpr std::uint32_t kSequenceParameterSetRef1 = 0x00000127;
constexpr std::uint32_t kSequenceParameterSetRef3 = 0x00000167;

// primary_pic_type 0 (I slices only) is the top three bits of the byte after
// the delimiter's header being 0 (7.3.2.4).
constexpr std::uint8_t kPrimaryPicTypeI = 0x20;
// constraint_set3_flag within the constraint-flags byte (7.3.2.1.1).
constexpr std::uint8_t kConstraintSet3Flag = 0x10;

const char* profileLine(std::uint8_t profile_idc) {
  switch (profile_idc) {
    case 66: return "   Baseline Profile";
    case 77: return "   Main Profile";
    case 88: return "   Extended Profile";
    case 100: return "   High Profile";
    case 110: return "   High 10 Profile";
    case 122: return "   High 4:2:2 Profile";
    case 144: return "   High 4:4:4 Profile";
    default: return "   Unknown Profile";
  }
}

}  // namespace

void ReportH264Header(const std::uint8_t* buffer, std::int32_t position, std::int32_t length, LogSink& sink) {
  if (length <= 0) return;
  std::uint32_t window = 0;
  std::uint32_t accessUnits = 0;
  bool iUnitSeen = false;
  int delimiterCountdown = 0;
  int parameterSetCountdown = 0;
  bool constraint_set3_flag = false;

  const std::uint8_t* run = buffer + position;
  for (std::int32_t i = 0; i < length; ++i) {
    const std::uint8_t b = run[i];
    window = (window << 8) | b;
    // Each byte takes exactly one step, in this order: a start code re-arms
    // its countdown even while another countdown is running.
    if (window == kAccessUnitDelimiter) {
      delimiterCountdown = 1;
    } else if (delimiterCountdown > 0) {
      --delimiterCountdown;
      if (!iUnitSeen && b < kPrimaryPicTypeI) {
        sink.log("   " + std::to_string(accessUnits) + " frames before first I-frame");
        iUnitSeen = true;
      }
      ++accessUnits;
    } else if (window == kSequenceParameterSetRef1 || window == kSequenceParameterSetRef3) {
      parameterSetCountdown = 4;
    } else if (parameterSetCountdown > 0) {
      --parameterSetCountdown;
      switch (parameterSetCountdown) {
        case 3:  // profile_idc
          sink.log(profileLine(b));
          break;
        case 2:  // constraint_set0..5_flag, reserved_zero_2bits
          constraint_set3_flag = (b & kConstraintSet3Flag) != 0;
          break;
        case 1: {  // level_idc
          const std::uint8_t level_idc = b;
          if (level_idc == 11 && constraint_set3_flag)
            sink.log("   Level = 1b");
          else
            sink.log("   Level = " + std::to_string(level_idc));
          break;
        }
        default:  // seq_parameter_set_id onwards: not reported
          break;
      }
    }
  }
}

namespace {

// Bits of a NAL unit's payload, emulation prevention bytes removed; reads
// past the end give nothing, so that a cut-off set is no frame rate.
class RbspReader {
 public:
  RbspReader(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      if (i >= 2 && p[i] == 3 && p[i - 1] == 0 && p[i - 2] == 0) continue;
      bytes_.push_back(p[i]);
    }
  }
  std::optional<std::uint32_t> bits(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      if (at_ >= bytes_.size() * 8) return std::nullopt;
      v = v << 1 | ((bytes_[at_ / 8] >> (7 - at_ % 8)) & 1u);
      ++at_;
    }
    return v;
  }
  // ue(v): leading zeros, a one, then as many bits.
  std::optional<std::uint32_t> ue() {
    int zeros = 0;
    for (;;) {
      const auto b = bits(1);
      if (!b) return std::nullopt;
      if (*b) break;
      if (++zeros > 31) return std::nullopt;
    }
    const auto rest = bits(zeros);
    if (!rest) return std::nullopt;
    return static_cast<std::uint32_t>((std::uint64_t{1} << zeros) - 1 + *rest);
  }
  bool skipUe(int count = 1) {
    for (int i = 0; i < count; ++i)
      if (!ue()) return false;
    return true;
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

// seq_parameter_set_data up to vui_parameters' timing_info (7.3.2.1.1, E.1.1).
std::string frameRateOf(RbspReader& r) {
  const auto profile = r.bits(8);
  if (!profile || !r.bits(16) || !r.skipUe()) return {};
  static const std::uint32_t kHighProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
  if (std::find(std::begin(kHighProfiles), std::end(kHighProfiles), *profile) != std::end(kHighProfiles)) {
    const auto chroma = r.ue();
    if (!chroma || (*chroma == 3 && !r.bits(1)) || !r.skipUe(2) || !r.bits(1)) return {};
    const auto scaling = r.bits(1);
    if (!scaling) return {};
    for (int i = 0; *scaling && i < (*chroma != 3 ? 8 : 12); ++i) {
      const auto present = r.bits(1);
      if (!present) return {};
      if (!*present) continue;
      // scaling_list(): delta_scale se(v) until next_scale is 0.
      int last = 8, next = 8;
      for (int j = 0; j < (i < 6 ? 16 : 64) && next != 0; ++j) {
        const auto code = r.ue();
        if (!code) return {};
        const int delta = *code % 2 ? static_cast<int>((*code + 1) / 2) : -static_cast<int>(*code / 2);
        next = (last + delta + 256) % 256;
        last = next == 0 ? last : next;
      }
    }
  }
  if (!r.skipUe()) return {};  // log2_max_frame_num_minus4
  const auto pocType = r.ue();
  if (!pocType) return {};
  if (*pocType == 0) {
    if (!r.skipUe()) return {};
  } else if (*pocType == 1) {
    const auto cycle = r.bits(1) && r.skipUe(2) ? r.ue() : std::nullopt;
    if (!cycle || *cycle > 255 || !r.skipUe(static_cast<int>(*cycle))) return {};
  }
  if (!r.skipUe() || !r.bits(1) || !r.skipUe(2)) return {};
  const auto frameMbsOnly = r.bits(1);
  if (!frameMbsOnly || (!*frameMbsOnly && !r.bits(1)) || !r.bits(1)) return {};
  const auto cropping = r.bits(1);
  if (!cropping || (*cropping && !r.skipUe(4))) return {};
  const auto vui = r.bits(1);
  if (!vui || !*vui) return {};
  const auto aspect = r.bits(1);
  if (!aspect) return {};
  if (*aspect) {
    const auto idc = r.bits(8);
    if (!idc || (*idc == 255 && !r.bits(32))) return {};
  }
  const auto overscan = r.bits(1);
  if (!overscan || (*overscan && !r.bits(1))) return {};
  const auto signal = r.bits(1);
  if (!signal) return {};
  if (*signal) {
    const auto colour = r.bits(4) ? r.bits(1) : std::nullopt;
    if (!colour || (*colour && !r.bits(24))) return {};
  }
  const auto chromaLoc = r.bits(1);
  if (!chromaLoc || (*chromaLoc && !r.skipUe(2))) return {};
  const auto timing = r.bits(1);
  if (!timing || !*timing) return {};
  const auto tick = r.bits(32), scale = r.bits(32);
  if (!tick || !scale || *tick == 0 || *scale == 0) return {};
  // Two ticks a frame: time_scale counts fields.
  const std::uint64_t num = *scale, den = 2ull * *tick, g = std::gcd(num, den);
  return std::to_string(num / g) + "/" + std::to_string(den / g);
}

}  // namespace

std::string H264FrameRate(const std::uint8_t* buffer, std::int32_t position, std::int32_t length) {
  if (length <= 0) return {};
  const std::uint8_t* run = buffer + position;
  const auto n = static_cast<std::size_t>(length);
  for (std::size_t i = 0; i + 3 < n; ++i) {
    if (run[i] != 0 || run[i + 1] != 0 || run[i + 2] != 1 || (run[i + 3] & 0x1F) != 7) continue;
    std::size_t end = i + 4;
    while (end + 2 < n && !(run[end] == 0 && run[end + 1] == 0 && run[end + 2] <= 1)) ++end;
    if (end + 2 >= n) end = n;
    RbspReader r(run + i + 4, end - (i + 4));
    return frameRateOf(r);
  }
  return {};
}

}  // namespace tarnwick
