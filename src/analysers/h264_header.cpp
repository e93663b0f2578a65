#include "analysers/h264_header.h"

#include <string>

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

}  // namespace tarnwick
