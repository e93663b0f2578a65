#include "analysers/mpeg2_header.h"

#include "analysers/number_format.h"

#include <cstdio>
#include <string>

namespace tarnwick {
namespace {

// ISO/IEC 13818-2 start codes.
constexpr std::uint32_t kPictureStartCode = 0x00000100;
constexpr std::uint32_t kSequenceHeaderCode = 0x000001B3;
constexpr std::uint32_t kExtensionStartCode = 0x000001B5;
// extension_start_code_identifier values.
constexpr unsigned kSequenceExtensionId = 1;
constexpr unsigned kPictureCodingExtensionId = 8;

constexpr std::array<const char*, 5> kAspectLines = {
    "   Aspect ratio = forbidden", "   Aspect ratio = square samples", "   Aspect ratio = 4:3",
    "   Aspect ratio = 16:9", "   Aspect ratio = 2.21:1"};
constexpr const char* kAspectReserved = "   Aspect ratio = reserved";

constexpr std::array<const char*, 9> kFrameRateLines = {
    "   Frame rate = forbidden", "   Frame rate = 23.976", "   Frame rate = 24",
    "   Frame rate = 25",        "   Frame rate = 29.97",  "   Frame rate = 30",
    "   Frame rate = 50",        "   Frame rate = 59.94",  "   Frame rate = 60"};
constexpr const char* kFrameRateReserved = "   Frame rate = reserved";


// One pass over the payload run. Each countdown counts the bytes it still
// waits for; the byte a field ends on is known by the value its countdown
// reaches there, and the field is taken from the last four bytes in `window`.
class Mpeg2Reader {
 public:
  Mpeg2Reader(std::uint32_t pts, LogSink& sink) : pts_(pts), sink_(sink) {}

  void step(std::uint8_t b) {
    window_ = (window_ << 8) | b;
    if (window_ == kPictureStartCode) {
      pictureHeaderCountdown_ = 2;
    } else if (window_ == kSequenceHeaderCode) {
      sequenceHeaderCountdown_ = 7;
      if (!headerSeen_) {
        log("   Sequence Header found");
        log("   " + std::to_string(pictureExtensionCount_) + " frames before first Sequence Header");
        headerSeen_ = true;
        firstPtsCountdown_ = 2;
      }
      pictureExtensionCount_ = 0;
    } else if (sequenceHeaderCountdown_ > 0) {
      --sequenceHeaderCountdown_;
      if (!detailsFinished_) sequenceHeaderByte();
    } else if (pictureHeaderCountdown_ > 0) {
      // Every picture is checked, also once the details are finished.
      if (--pictureHeaderCountdown_ == 0) {
        const unsigned picture_coding_type = bits(3, 3);
        if (picture_coding_type == 0 || picture_coding_type > 3)
          log("   illegal picture_coding_type = " + std::to_string(picture_coding_type));
      }
    } else if (window_ == kExtensionStartCode) {
      extensionIdCountdown_ = 1;
    } else if (extensionIdCountdown_ > 0) {
      --extensionIdCountdown_;
      const unsigned extension_start_code_identifier = bits(4, 4);
      if (extension_start_code_identifier == kPictureCodingExtensionId) {
        if (headerSeen_) pictureExtensionCountdown_ = 5;
        ++pictureExtensionCount_;
      } else if (extension_start_code_identifier == kSequenceExtensionId) {
        sequenceExtensionCountdown_ = 1;
      }
    } else if (pictureExtensionCountdown_ > 0) {
      // Byte 4 of the picture coding extension of the first two pictures
      // after the sequence header.
      if (--pictureExtensionCountdown_ == 1 && firstPtsCountdown_ > 0) {
        if (firstPtsCountdown_ == 2) capturedPts_ = pts_;
        if (--firstPtsCountdown_ == 0) log("   First Video PTS = " + formatHex(capturedPts_ < pts_ ? capturedPts_ : pts_, 8));
      }
    } else if (sequenceExtensionCountdown_ > 0) {
      --sequenceExtensionCountdown_;
      if (!detailsFinished_ && sequenceExtensionCountdown_ == 0) {
        // byte 0 bits 3-0 and byte 1 bits 7-4: profile_and_level_indication
        const unsigned progressive_sequence = bits(3, 1);
        log("   Progressive Sequence = " + std::to_string(progressive_sequence));
        detailsFinished_ = true;
      }
    }
  }

 private:
  void log(const std::string& line) { sink_.log(line); }
  unsigned bits(int shift, unsigned width) const { return (window_ >> shift) & ((1u << width) - 1); }

  void sequenceHeaderByte() {
    switch (sequenceHeaderCountdown_) {
      case 4: {  // byte 2
        const unsigned horizontal_size_value = bits(12, 12);
        const unsigned vertical_size_value = bits(0, 12);
        log("   size = " + std::to_string(horizontal_size_value) + "x" + std::to_string(vertical_size_value));
        break;
      }
      case 3: {  // byte 3
        const unsigned aspect_ratio_information = bits(4, 4);
        const unsigned frame_rate_code = bits(0, 4);
        log(aspect_ratio_information < kAspectLines.size() ? kAspectLines[aspect_ratio_information] : kAspectReserved);
        log(frame_rate_code < kFrameRateLines.size() ? kFrameRateLines[frame_rate_code] : kFrameRateReserved);
        break;
      }
      case 0: {  // byte 6; marker_bit, vbv_buffer_size_value and the rest not reported
        const std::uint32_t bit_rate_value = bits(6, 18);
        log("  Sequence header bitrate = " + std::to_string(std::uint64_t{bit_rate_value} * 400) + " bps");
        break;
      }
      default: break;
    }
  }

  const std::uint32_t pts_;
  LogSink& sink_;

  std::uint32_t window_ = 0;
  std::uint32_t pictureExtensionCount_ = 0;
  bool headerSeen_ = false;
  bool detailsFinished_ = false;
  unsigned sequenceHeaderCountdown_ = 0;
  unsigned pictureHeaderCountdown_ = 0;
  unsigned extensionIdCountdown_ = 0;
  unsigned pictureExtensionCountdown_ = 0;
  unsigned sequenceExtensionCountdown_ = 0;
  unsigned firstPtsCountdown_ = 0;
  std::uint32_t capturedPts_ = 0;
};

}  // namespace

void ReportMpeg2Header(const std::uint8_t* buffer, std::int32_t position, std::int32_t length, std::uint32_t pts,
                       LogSink& sink) {
  if (length <= 0 || position < 0) return;
  Mpeg2Reader reader(pts, sink);
  const std::uint8_t* run = buffer + position;
  for (std::int32_t i = 0; i < length; ++i) reader.step(run[i]);
}

}  // namespace tarnwick
