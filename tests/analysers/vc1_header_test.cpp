// The VC-1 sequence header report of a video stream's first payload.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "analysers/vc1_header.h"
#include "support/lines_sink.h"

namespace tarnwick {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

using test::LinesSink;

// Appends fields most significant bit first.
void put(Bytes& out, int& used, std::uint32_t value, int width) {
  for (int i = width - 1; i >= 0; --i, ++used) {
    if (used % 8 == 0) out.push_back(0);
    if ((value >> i) & 1) out.back() |= static_cast<std::uint8_t>(0x80 >> (used % 8));
  }
}

// An advanced-profile sequence header as laid out in the bitstream; the
// defaults are a 1920x1080 square-sample 24000/1001 stream.
struct SequenceHeader {
  unsigned PROFILE = 3, LEVEL = 3, COLORDIFF_FORMAT = 1, MAX_CODED_WIDTH = 959, MAX_CODED_HEIGHT = 539;
  unsigned PULLDOWN = 0, INTERLACE = 0, DISPLAY_EXT = 1, DISP_HORIZ_SIZE = 1919, DISP_VERT_SIZE = 1079;
  unsigned ASPECT_RATIO_FLAG = 1, ASPECT_RATIO = 1, ASPECT_HORIZ_SIZE = 0, ASPECT_VERT_SIZE = 0;
  unsigned FRAMERATE_FLAG = 1, FRAMERATEIND = 0, FRAMERATENR = 1, FRAMERATEDR = 2, FRAMERATEEXP = 0;

  Bytes bytes() const {
    Bytes out;
    int used = 0;
    auto w = [&](std::uint32_t value, int width) { put(out, used, value, width); };
    w(0x0000010F, 32);
    w(PROFILE, 2), w(LEVEL, 3), w(COLORDIFF_FORMAT, 2);
    w(0xFF, 8), w(1, 1);  // FRMRTQ_POSTPROC, BITRTQ_POSTPROC, POSTPROCFLAG
    w(MAX_CODED_WIDTH, 12), w(MAX_CODED_HEIGHT, 12), w(PULLDOWN, 1), w(INTERLACE, 1);
    w(0b0010, 4);  // TFCNTRFLAG, FINTERPFLAG, reserved, PSF
    w(DISPLAY_EXT, 1);
    if (DISPLAY_EXT) {
      w(DISP_HORIZ_SIZE, 14), w(DISP_VERT_SIZE, 14), w(ASPECT_RATIO_FLAG, 1);
      if (ASPECT_RATIO_FLAG) w(ASPECT_RATIO, 4);
      if (ASPECT_RATIO_FLAG && ASPECT_RATIO == 15) w(ASPECT_HORIZ_SIZE, 8), w(ASPECT_VERT_SIZE, 8);
      w(FRAMERATE_FLAG, 1);
      if (FRAMERATE_FLAG) {
        w(FRAMERATEIND, 1);
        if (FRAMERATEIND)
          w(FRAMERATEEXP, 16);
        else
          w(FRAMERATENR, 8), w(FRAMERATEDR, 4);
      }
      w(0, 1);  // COLOR_FORMAT_FLAG
    }
    w(0, 1), w(0x80, 8);  // HRD_PARAM_FLAG, stuffing
    return out;
  }
};

// A frame start code and `size` bytes of picture header and data.
Bytes frame(std::size_t size) {
  Bytes out = {0x00, 0x00, 0x01, 0x0D};
  out.insert(out.end(), size, 0xC5);
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Lines report(const Bytes& buffer, std::int32_t position, std::int32_t length, std::uint64_t pts = 0) {
  LinesSink sink;
  ReportVc1Header(buffer.data(), position, length, pts, sink);
  return sink.lines;
}

Lines report(const Bytes& run, std::uint64_t pts = 0) {
  return report(run, 0, static_cast<std::int32_t>(run.size()), pts);
}

Lines slice(const Lines& lines, std::size_t from, std::size_t to = SIZE_MAX) {
  return Lines(lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())),
               lines.begin() + static_cast<std::ptrdiff_t>(std::min(to, lines.size())));
}

const Lines kWorkedExample = {
    "   Sequence Header found",
    "   0 frames before first I-frame",
    "   Advanced Profile",
    "   Level = 3",
    "   Chroma Format = 4:2:0",
    "   Size = 1920x1080",
    "   Pulldown = 0",
    "   Interlace = 0",
    "   Display Horizontal size = 1920",
    "   Display Vertical size = 1080",
    "   Aspect ratio = 1:1 (square samples)",
    "   Frame Rate = 23.976023976024 (24000/1001)",
};

TEST(Vc1HeaderTest, WorkedExample) { EXPECT_EQ(report(SequenceHeader{}.bytes()), kWorkedExample); }

TEST(Vc1HeaderTest, FieldsComeFromTheirOwnBits) {
  // Distinct values in neighbouring fields, so a field read one bit off shows.
  SequenceHeader h;
  h.LEVEL = 2, h.MAX_CODED_WIDTH = 359, h.MAX_CODED_HEIGHT = 287, h.PULLDOWN = 1, h.INTERLACE = 1;
  h.DISP_HORIZ_SIZE = 703, h.DISP_VERT_SIZE = 575, h.ASPECT_RATIO = 4, h.FRAMERATENR = 2, h.FRAMERATEDR = 1;
  EXPECT_EQ(slice(report(h.bytes()), 2),
            (Lines{"   Advanced Profile", "   Level = 2", "   Chroma Format = 4:2:0", "   Size = 720x576",
                   "   Pulldown = 1", "   Interlace = 1", "   Display Horizontal size = 704",
                   "   Display Vertical size = 576", "   Aspect ratio = 16:11 (704x576 16:9)",
                   "   Frame Rate = 25 (25000/1000)"}));
}

TEST(Vc1HeaderTest, ReservedProfileLevelChromaAndAspectCodes) {
  SequenceHeader h;
  h.PROFILE = 2, h.LEVEL = 5, h.COLORDIFF_FORMAT = 2, h.ASPECT_RATIO = 14;
  Lines lines = report(h.bytes());
  EXPECT_EQ(slice(lines, 2, 5), (Lines{"   Reserved Profile", "   Level = Reserved", "   Chroma Format = Reserved"}));
  EXPECT_EQ(slice(lines, 10, 11), Lines{"   Aspect ratio = Reserved"});

  h.PROFILE = 0, h.LEVEL = 4, h.COLORDIFF_FORMAT = 3, h.ASPECT_RATIO = 10;
  lines = report(h.bytes());
  EXPECT_EQ(slice(lines, 2, 5), (Lines{"   Reserved Profile", "   Level = 4", "   Chroma Format = Reserved"}));
  EXPECT_EQ(slice(lines, 10), (Lines{"   Aspect ratio = 18:11 (48$576 4:3)", kWorkedExample[11]}));

  h.ASPECT_RATIO = 0;
  EXPECT_EQ(report(h.bytes())[10], "   Aspect ratio = unspecified");
}

// The explicit size is reported, and the frame rate is found behind it.
TEST(Vc1HeaderTest, ExplicitAspectSizeMovesTheFrameRate) {
  SequenceHeader h;
  h.ASPECT_RATIO = 15, h.ASPECT_HORIZ_SIZE = 64, h.ASPECT_VERT_SIZE = 45;  // 64: a FRAMERATE_FLAG read there is 0
  h.FRAMERATENR = 2, h.FRAMERATEDR = 1;
  Lines expected = slice(kWorkedExample, 0, 10);
  expected.push_back("   Aspect ratio = 64:45");
  expected.push_back("   Frame Rate = 25 (25000/1000)");
  EXPECT_EQ(report(h.bytes()), expected);

  h.ASPECT_HORIZ_SIZE = 255, h.ASPECT_VERT_SIZE = 1, h.FRAMERATEIND = 1, h.FRAMERATEEXP = 959;
  expected[10] = "   Aspect ratio = 255:1";
  expected[11] = "   Frame Rate =30";
  EXPECT_EQ(report(h.bytes()), expected);

  // The aspect line needs both size bytes in the run.
  EXPECT_EQ(report(h.bytes(), 0, 4 + 11), slice(expected, 0, 10));
  EXPECT_EQ(report(h.bytes(), 0, 4 + 12), slice(expected, 0, 11));
}

TEST(Vc1HeaderTest, FrameRateForms) {
  struct Row {
    unsigned ind, nr, dr, exp;
    Lines expected;
  };
  const Row rows[] = {
      {0, 6, 1, 0, {"   Frame Rate = 48 (48000/1000)"}},
      {0, 7, 2, 0, {"   Frame Rate = 71.9280719280719 (72000/1001)"}},
      {0, 9, 1, 0, {"   Reserved Frame Rate!", "   Frame Rate = 0 (0/1000)"}},
      {0, 0, 2, 0, {"   Forbidden Frame Rate!", "   Frame Rate = 0 (0/1001)"}},
      // No denominator: the fraction as it stands, and no division.
      {0, 1, 0, 0, {"   Forbidden Frame Rate!", "   Frame Rate = 0 (24000/0)"}},
      {0, 3, 3, 0, {"   Reserved Frame Rate!", "   Frame Rate = 0 (30000/0)"}},
      {0, 255, 15, 0, {"   Reserved Frame Rate!", "   Reserved Frame Rate!", "   Frame Rate = 0 (0/0)"}},
      {1, 0, 0, 767, {"   Frame Rate =24"}},
      {1, 0, 0, 0, {"   Frame Rate =0.03125"}},
      {1, 0, 0, 0xFFFF, {"   Frame Rate =2048"}},
  };
  for (const Row& row : rows) {
    SequenceHeader h;
    h.FRAMERATEIND = row.ind, h.FRAMERATENR = row.nr, h.FRAMERATEDR = row.dr, h.FRAMERATEEXP = row.exp;
    EXPECT_EQ(slice(report(h.bytes()), 11), row.expected) << row.nr << "/" << row.dr << " exp " << row.exp;
  }
}

TEST(Vc1HeaderTest, FramesBeforeTheSequenceHeaderAreCounted) {
  Lines expected = kWorkedExample;
  expected[1] = "   2 frames before first I-frame";
  EXPECT_EQ(report(frame(6) + frame(9) + SequenceHeader{}.bytes()), expected);
  // Ahead of the header no picture header is skipped: a start code right
  // behind a frame start code is still seen.
  EXPECT_EQ(report(frame(0) + frame(0) + SequenceHeader{}.bytes()), expected);
}

TEST(Vc1HeaderTest, FirstVideoPtsAfterTwoFramesBehindTheHeader) {
  const Bytes header = SequenceHeader{}.bytes();
  Lines expected = kWorkedExample;
  expected.push_back("   First Video PTS = 0000000000015F90");
  EXPECT_EQ(report(header + frame(4) + frame(4), 90000), expected);
  EXPECT_EQ(report(header + frame(100) + frame(30) + frame(30), 90000), expected);
  expected.back() = "   First Video PTS = 00000000C0000000";
  EXPECT_EQ(report(header + frame(4) + frame(4), 0xC0000000u), expected);

  // The second frame's fourth byte is missing; frames ahead of the header
  // do not count for it.
  EXPECT_EQ(report(header + frame(4) + frame(3), 90000), kWorkedExample);
  EXPECT_EQ(report(frame(4) + frame(4) + header + frame(4), 90000).size(), kWorkedExample.size());
}

TEST(Vc1HeaderTest, LaterHeadersAfterTheFrameRateGiveNoLines) {
  SequenceHeader other;
  other.MAX_CODED_WIDTH = 639;
  EXPECT_EQ(report(SequenceHeader{}.bytes() + frame(8) + other.bytes()), kWorkedExample);

  // Without a frame rate the details stay open: the next header is reported
  // in full, without a second count line.
  SequenceHeader first;
  first.DISPLAY_EXT = 0;
  Lines expected = slice(kWorkedExample, 0, 8);
  EXPECT_EQ(report(first.bytes()), expected);
  expected.push_back(kWorkedExample[0]);
  for (const auto& line : slice(kWorkedExample, 2)) expected.push_back(line);
  EXPECT_EQ(report(first.bytes() + frame(8) + SequenceHeader{}.bytes()), expected);

  first.DISPLAY_EXT = 1, first.ASPECT_RATIO_FLAG = 0;
  EXPECT_EQ(report(first.bytes()), slice(kWorkedExample, 0, 10));
}

// A field is reported only when its last byte lies in the run; nothing
// before the run's position or after its end is looked at.
TEST(Vc1HeaderTest, StaysInsideItsRun) {
  const Bytes buffer = SequenceHeader{}.bytes() + frame(4) + frame(4);
  // run length from which each line of the worked example appears
  const std::size_t needed[] = {4, 4, 5, 5, 5, 9, 10, 10, 12, 14, 14, 17};
  for (std::int32_t length = -1; length <= 17; ++length) {
    std::size_t count = 0;
    while (count < std::size(needed) && static_cast<std::int32_t>(needed[count]) <= length) ++count;
    EXPECT_EQ(report(buffer, 0, length), slice(kWorkedExample, 0, count)) << "length " << length;
  }
  // The start code lies just before the run: the run starts with 0F alone.
  EXPECT_TRUE(report(buffer, 3, static_cast<std::int32_t>(buffer.size()) - 3).empty());
  const Bytes shifted = Bytes{0x00, 0x00, 0x01, 0x0F, 0x7F} + buffer;
  EXPECT_EQ(report(shifted, 5, 17), kWorkedExample);
}

}  // namespace
}  // namespace tarnwick
