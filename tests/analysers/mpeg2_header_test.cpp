// The MPEG-2 video sequence header report of a video stream's first payload.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "analysers/mpeg2_header.h"
#include "support/lines_sink.h"

namespace tarnwick {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

using test::LinesSink;

// A start code and then fields of {value, width}, most significant bit first.
Bytes unit(std::uint32_t startCode, std::initializer_list<std::pair<std::uint32_t, int>> fields) {
  Bytes out = {0x00, 0x00, 0x01, static_cast<std::uint8_t>(startCode)};
  int used = 0;
  for (auto [value, width] : fields)
    for (int i = width - 1; i >= 0; --i, ++used) {
      if (used % 8 == 0) out.push_back(0);
      if ((value >> i) & 1) out.back() |= static_cast<std::uint8_t>(0x80 >> (used % 8));
    }
  return out;
}

Bytes sequenceHeader(unsigned horizontal_size_value, unsigned vertical_size_value, unsigned aspect_ratio_information,
                     unsigned frame_rate_code, unsigned bit_rate_value) {
  // then marker_bit, vbv_buffer_size_value, constrained_parameters_flag, no matrices
  return unit(0xB3, {{horizontal_size_value, 12}, {vertical_size_value, 12}, {aspect_ratio_information, 4},
                     {frame_rate_code, 4}, {bit_rate_value, 18}, {1, 1}, {112, 10}, {0, 3}});
}

Bytes sequenceExtension(unsigned progressive_sequence) {
  // identifier 1, Main@Main, progressive_sequence, 4:2:0, no size or rate extensions
  return unit(0xB5, {{1, 4}, {0x48, 8}, {progressive_sequence, 1}, {1, 2}, {0, 16}, {1, 1}, {0, 16}});
}

// A picture header and its picture coding extension (identifier 8).
Bytes picture(unsigned picture_coding_type = 1) {
  Bytes out = unit(0x00, {{5, 10}, {picture_coding_type, 3}, {0xFFFF, 16}, {0, 3}});
  const Bytes extension = unit(0xB5, {{8, 4}, {0xFFFF, 16}, {0x3, 4}, {0x1A1, 10}, {0, 6}});
  out.insert(out.end(), extension.begin(), extension.end());
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Lines report(const Bytes& buffer, std::int32_t position, std::int32_t length, std::uint32_t pts = 0) {
  LinesSink sink;
  ReportMpeg2Header(buffer.data(), position, length, pts, sink);
  return sink.lines;
}

Lines report(const Bytes& run, std::uint32_t pts = 0) {
  return report(run, 0, static_cast<std::int32_t>(run.size()), pts);
}

const Bytes kWorkedHeader = sequenceHeader(1920, 1080, 3, 4, 75000) + sequenceExtension(0);
const Lines kWorkedExample = {
    "   Sequence Header found",
    "   0 frames before first Sequence Header",
    "   size = 1920x1080",
    "   Aspect ratio = 16:9",
    "   Frame rate = 29.97",
    "  Sequence header bitrate = 30000000 bps",
    "   Progressive Sequence = 0",
};

TEST(Mpeg2HeaderTest, WorkedExample) { EXPECT_EQ(report(kWorkedHeader), kWorkedExample); }

TEST(Mpeg2HeaderTest, FieldsComeFromTheirOwnBits) {
  EXPECT_EQ(report(sequenceHeader(720, 576, 2, 3, 0x3FFFF) + sequenceExtension(1)),
            (Lines{kWorkedExample[0], kWorkedExample[1], "   size = 720x576", "   Aspect ratio = 4:3",
                   "   Frame rate = 25", "  Sequence header bitrate = 104857200 bps", "   Progressive Sequence = 1"}));
  EXPECT_EQ(report(sequenceHeader(4095, 1, 1, 8, 1))[2], "   size = 4095x1");
  EXPECT_EQ(report(sequenceHeader(1, 4095, 1, 8, 1))[5], "  Sequence header bitrate = 400 bps");
}

TEST(Mpeg2HeaderTest, AspectAndFrameRateCodes) {
  const char* aspect[] = {"forbidden", "square samples", "4:3", "16:9", "2.21:1", "reserved"};
  const char* rate[] = {"forbidden", "23.976", "24", "25", "29.97", "30", "50", "59.94", "60", "reserved"};
  for (unsigned code = 0; code < 16; ++code) {
    const Lines lines = report(sequenceHeader(352, 288, code, code, 4000));
    ASSERT_EQ(lines.size(), 6u) << code;
    EXPECT_EQ(lines[3], std::string("   Aspect ratio = ") + aspect[std::min(code, 5u)]) << code;
    EXPECT_EQ(lines[4], std::string("   Frame rate = ") + rate[std::min(code, 9u)]) << code;
  }
}

TEST(Mpeg2HeaderTest, PictureCodingExtensionsBeforeTheHeaderAreCounted) {
  Lines expected = kWorkedExample;
  expected[1] = "   3 frames before first Sequence Header";
  EXPECT_EQ(report(picture() + picture(2) + picture(3) + kWorkedHeader), expected);

  // Ahead of the header nothing is read from a picture coding extension, so
  // a sequence extension right behind its identifier byte is read in full
  // (and, being the first, finishes the details).
  const Bytes bareExtension = {0x00, 0x00, 0x01, 0xB5, 0x8F};
  EXPECT_EQ(report(bareExtension + sequenceExtension(1) + kWorkedHeader),
            (Lines{"   Progressive Sequence = 1", kWorkedExample[0], "   1 frames before first Sequence Header"}));
}

TEST(Mpeg2HeaderTest, IllegalPictureCodingTypes) {
  for (unsigned type = 0; type < 8; ++type) {
    // Before the header, and after the details are finished.
    Lines expected = kWorkedExample;
    expected[1] = "   1 frames before first Sequence Header";
    if (type == 0 || type > 3) {
      const std::string line = "   illegal picture_coding_type = " + std::to_string(type);
      expected.insert(expected.begin(), line);
      expected.push_back(line);
    }
    EXPECT_EQ(report(picture(type) + kWorkedHeader + picture(type)), expected) << "type " << type;
  }
}

TEST(Mpeg2HeaderTest, FirstVideoPtsAtTheSecondPictureBehindTheHeader) {
  Lines expected = kWorkedExample;
  expected.push_back("   First Video PTS = 0001B207");
  EXPECT_EQ(report(kWorkedHeader + picture() + picture(3) + picture(2), 0x1B207), expected);
  expected.back() = "   First Video PTS = C0000000";
  EXPECT_EQ(report(kWorkedHeader + picture() + picture(), 0xC0000000u), expected);

  // Byte 4 of the second picture coding extension must be in the run (the
  // extension is 9 bytes long); pictures ahead of the header do not count.
  const Bytes run = kWorkedHeader + picture() + picture();
  const auto cut = static_cast<std::int32_t>(run.size() - 9 + 8);
  EXPECT_EQ(report(run, 0, cut, 0x1B207), kWorkedExample);
  EXPECT_EQ(report(run, 0, cut + 1, 0x1B207).back(), "   First Video PTS = 0001B207");
  expected = kWorkedExample;
  expected[1] = "   2 frames before first Sequence Header";
  EXPECT_EQ(report(picture() + picture() + kWorkedHeader + picture(), 0x1B207), expected);
}

TEST(Mpeg2HeaderTest, LaterHeadersReportedOnlyWithoutSequenceExtension) {
  EXPECT_EQ(report(kWorkedHeader + picture() + sequenceHeader(720, 480, 2, 4, 2000) + sequenceExtension(1)),
            kWorkedExample);
  EXPECT_EQ(report(sequenceHeader(352, 240, 2, 4, 3750) + picture() + sequenceHeader(352, 288, 3, 5, 3000)),
            (Lines{kWorkedExample[0], kWorkedExample[1], "   size = 352x240", "   Aspect ratio = 4:3",
                   "   Frame rate = 29.97", "  Sequence header bitrate = 1500000 bps", "   size = 352x288",
                   "   Aspect ratio = 16:9", "   Frame rate = 30", "  Sequence header bitrate = 1200000 bps"}));
}

// A field is reported only when its last byte lies in the run; nothing
// before the run's position or after its end is looked at.
TEST(Mpeg2HeaderTest, StaysInsideItsRun) {
  // run length from which each line of the worked example appears
  const std::int32_t needed[] = {4, 4, 7, 8, 8, 11, 18};
  for (std::int32_t length = -1; length <= 18; ++length) {
    std::size_t count = 0;
    while (count < std::size(needed) && needed[count] <= length) ++count;
    EXPECT_EQ(report(kWorkedHeader, 0, length), Lines(kWorkedExample.begin(), kWorkedExample.begin() + count))
        << "length " << length;
  }
  // The sequence header code lies just before the run, the extension inside it.
  EXPECT_EQ(report(kWorkedHeader, 3, 15), Lines{"   Progressive Sequence = 0"});
  const Bytes shifted = Bytes{0x00, 0x00, 0x01, 0xB3, 0x16} + kWorkedHeader;
  EXPECT_EQ(report(shifted, 5, 18), kWorkedExample);
}

}  // namespace
}  // namespace tarnwick
