#include "analysers/vc1_header.h"

#include <cstdio>
#include <string>

#include "analysers/number_format.h"

namespace tarnwick {
namespace {

// SMPTE 421M start codes of a frame and of a sequence header.
constexpr std::uint32_t kFrameStartCode = 0x0000010D;
constexpr std::uint32_t kSequenceHeaderStartCode = 0x0000010F;

// Texts for the sample aspect ratio codes; 15 is the explicit size, reported
// from ASPECT_HORIZ_SIZE and ASPECT_VERT_SIZE instead.
constexpr std::array<const char*, 16> kAspectRatioTexts = {
    "unspecified",         "1:1 (square samples)", "12:11 (704x576 4:3)",  "10:11 (704x480 4:3)",
    "16:11 (704x576 16:9)", "40:33 (704x480 16:9)", "24:11 (352x576 4:3)",  "20:11 (352x480 4:3)",
    "32:11 (352x576 16:9)", "80:33 (352x480 16:9)", "18:11 (48$576 4:3)",   "15:11 (48$480 4:3)",
    "64:33 (528x576 16:9)", "160:99 (528x480 16:9)", "Reserved",            ""};
constexpr unsigned kExplicitAspectRatio = 15;

// Frame rate numerators for FRAMERATENR 1..7, denominators for FRAMERATEDR 1..2.
constexpr std::array<std::uint32_t, 7> kFrameRateNumerators = {24000, 25000, 30000, 50000, 60000, 48000, 72000};
constexpr std::array<std::uint32_t, 2> kFrameRateDenominators = {1000, 1001};

std::string hex16(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(value));
  return text;
}

std::string str(std::uint64_t value) { return std::to_string(value); }

// One pass over the payload run. Each countdown counts the bytes it still
// waits for; byte k of the sequence header (k = 0 right after 00 00 01 0F)
// is recognised by the value a countdown reaches on it, and the fields are
// taken from the last four bytes in `window`.
class Vc1Reader {
 public:
  Vc1Reader(std::uint64_t pts, LogSink& sink) : pts_(pts), sink_(sink) {}

  void step(std::uint8_t b) {
    window_ = (window_ << 8) | b;
    if (window_ == kFrameStartCode) {
      ++pictureCount_;
      if (headerSeen_) pictureHeaderCountdown_ = 4;
    } else if (pictureHeaderCountdown_ > 0) {
      if (--pictureHeaderCountdown_ == 0) firstPtsStep();
    } else if (window_ == kSequenceHeaderStartCode) {
      if (!detailsFinished_) {
        log("   Sequence Header found");
        sequenceHeaderCountdown_ = 6;
      }
      if (!headerSeen_) {
        log("   " + str(pictureCount_) + " frames before first I-frame");
        headerSeen_ = true;
        firstPtsCountdown_ = 2;
      }
    } else if (sequenceHeaderCountdown_ > 0) {
      --sequenceHeaderCountdown_;
      if (!detailsFinished_) sequenceHeaderByte();
    } else if (displayExtensionCountdown_ > 0) {
      --displayExtensionCountdown_;
      if (!detailsFinished_) displayExtensionByte();
    } else if (aspectStepCountdown_ > 0) {
      --aspectStepCountdown_;
      if (!detailsFinished_) aspectByte();
    } else if (frameRateCountdown_ > 0) {
      --frameRateCountdown_;
      if (!detailsFinished_ && frameRateCountdown_ == 0) frameRateFields();
    }
  }

 private:
  void log(const std::string& line) { sink_.log(line); }
  unsigned bits(int shift, unsigned width) const { return (window_ >> shift) & ((1u << width) - 1); }

  // The fourth byte after each of the first two frame start codes that follow
  // the sequence header.
  void firstPtsStep() {
    if (firstPtsCountdown_ == 0) return;
    if (firstPtsCountdown_ == 2) capturedPts_ = pts_;
    if (--firstPtsCountdown_ == 0) log("   First Video PTS = " + hex16(capturedPts_ < pts_ ? capturedPts_ : pts_));
  }

  void sequenceHeaderByte() {
    switch (sequenceHeaderCountdown_) {
      case 5: {  // byte 0
        const unsigned PROFILE = bits(6, 2);
        const unsigned LEVEL = bits(3, 3);
        const unsigned COLORDIFF_FORMAT = bits(1, 2);
        log(PROFILE == 3 ? "   Advanced Profile" : "   Reserved Profile");
        log(LEVEL > 4 ? std::string("   Level = Reserved") : "   Level = " + str(LEVEL));
        log(COLORDIFF_FORMAT == 1 ? "   Chroma Format = 4:2:0" : "   Chroma Format = Reserved");
        break;
      }
      // byte 1: FRMRTQ_POSTPROC, BITRTQ_POSTPROC, POSTPROCFLAG
      case 1: {  // bytes 2-4
        const unsigned MAX_CODED_WIDTH = bits(12, 12);
        const unsigned MAX_CODED_HEIGHT = bits(0, 12);
        log("   Size = " + str(2 * MAX_CODED_WIDTH + 2) + "x" + str(2 * MAX_CODED_HEIGHT + 2));
        break;
      }
      case 0: {  // byte 5; TFCNTRFLAG, FINTERPFLAG, reserved and PSF not reported
        log("   Pulldown = " + str(bits(7, 1)));
        log("   Interlace = " + str(bits(6, 1)));
        const unsigned DISPLAY_EXT = bits(1, 1);
        if (DISPLAY_EXT == 1) displayExtensionCountdown_ = 4;
        break;
      }
      default: break;
    }
  }

  void displayExtensionByte() {
    if (displayExtensionCountdown_ == 2) {  // byte 7
      const unsigned DISP_HORIZ_SIZE = bits(3, 14);
      log("   Display Horizontal size = " + str(DISP_HORIZ_SIZE + 1));
    } else if (displayExtensionCountdown_ == 0) {  // byte 9
      const unsigned DISP_VERT_SIZE = bits(5, 14);
      log("   Display Vertical size = " + str(DISP_VERT_SIZE + 1));
      const unsigned ASPECT_RATIO_FLAG = bits(4, 1);
      if (ASPECT_RATIO_FLAG == 1) {
        const unsigned ASPECT_RATIO = bits(0, 4);
        if (ASPECT_RATIO == kExplicitAspectRatio) {
          // ASPECT_HORIZ_SIZE and ASPECT_VERT_SIZE follow, and push the
          // frame-rate fields two bytes further on.
          aspectStepCountdown_ = 3;
        } else {
          aspectStepCountdown_ = 1;
          log(std::string("   Aspect ratio = ") + kAspectRatioTexts[ASPECT_RATIO]);
        }
      }
    }
  }

  // The byte that starts with FRAMERATE_FLAG: byte 10, or byte 12 behind an
  // explicit aspect size.
  void aspectByte() {
    if (aspectStepCountdown_ == 1) {  // ASPECT_VERT_SIZE complete
      const unsigned ASPECT_HORIZ_SIZE = bits(8, 8);
      const unsigned ASPECT_VERT_SIZE = bits(0, 8);
      log("   Aspect ratio = " + str(ASPECT_HORIZ_SIZE) + ":" + str(ASPECT_VERT_SIZE));
    } else if (aspectStepCountdown_ == 0) {
      const unsigned FRAMERATE_FLAG = bits(7, 1);
      if (FRAMERATE_FLAG == 1) frameRateCountdown_ = 2;
    }
  }

  // Two bytes after the FRAMERATE_FLAG byte, which is now bits 23-16 of the window.
  void frameRateFields() {
    const unsigned FRAMERATEIND = bits(22, 1);
    if (FRAMERATEIND == 1) {
      const unsigned FRAMERATEEXP = bits(6, 16);
      log("   Frame Rate =" + formatGeneral((FRAMERATEEXP + 1) / 32.0));
    } else {
      const unsigned FRAMERATENR = bits(14, 8);
      const unsigned FRAMERATEDR = bits(10, 4);
      std::uint32_t numerator = 0;
      std::uint32_t denominator = 0;
      if (FRAMERATENR == 0)
        log("   Forbidden Frame Rate!");
      else if (FRAMERATENR <= kFrameRateNumerators.size())
        numerator = kFrameRateNumerators[FRAMERATENR - 1];
      else
        log("   Reserved Frame Rate!");
      if (FRAMERATEDR == 0)
        log("   Forbidden Frame Rate!");
      else if (FRAMERATEDR <= kFrameRateDenominators.size())
        denominator = kFrameRateDenominators[FRAMERATEDR - 1];
      else
        log("   Reserved Frame Rate!");
      // Without a valid denominator there is no rate: show 0 and the fraction as it stands.
      const double rate = denominator == 0 ? 0.0 : static_cast<double>(numerator) / denominator;
      log("   Frame Rate = " + formatGeneral(rate) + " (" + str(numerator) + "/" + str(denominator) + ")");
    }
    detailsFinished_ = true;
  }

  const std::uint64_t pts_;
  LogSink& sink_;

  std::uint32_t window_ = 0;  // as if zero bytes preceded the run
  std::uint32_t pictureCount_ = 0;
  bool headerSeen_ = false;
  bool detailsFinished_ = false;
  unsigned pictureHeaderCountdown_ = 0;
  unsigned sequenceHeaderCountdown_ = 0;
  unsigned displayExtensionCountdown_ = 0;
  unsigned aspectStepCountdown_ = 0;
  unsigned frameRateCountdown_ = 0;
  unsigned firstPtsCountdown_ = 0;
  std::uint64_t capturedPts_ = 0;
};

}  // namespace

void ReportVc1Header(const std::uint8_t* buffer, std::int32_t position, std::int32_t length, std::uint64_t pts,
                     LogSink& sink) {
  if (length <= 0 || position < 0) return;
  Vc1Reader reader(pts, sink);
  const std::uint8_t* run = buffer + position;
  for (std::int32_t i = 0; i < length; ++i) reader.step(run[i]);
}

}  // namespace tarnwick
