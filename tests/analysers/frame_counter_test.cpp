// Frame counting and the subpicture format line.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "analysers/frame_counter.h"
#include "analysers/subpicture_format.h"
#include "support/lines_sink.h"

namespace tarnwick {
namespace {

using Bytes = std::vector<std::uint8_t>;

using test::LinesSink;

std::int32_t countRun(const Bytes& bytes, VideoCodec codec) {
  LinesSink sink;
  std::int32_t count = 0;
  std::uint32_t window = 0;
  CountPictureStarts(bytes.data(), 0, static_cast<std::int32_t>(bytes.size()), codec, count, window, sink);
  return count;
}

TEST(CountPictureStartsTest, CountsTheMarkerOfTheCoding) {
  // three picture start codes and one sequence header
  const Bytes mpeg2 = {0x00, 0x00, 0x01, 0xB3, 0x14, 0x00, 0x00, 0x01, 0x00, 0x22, 0x00, 0x00,
                       0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x33};
  EXPECT_EQ(countRun(mpeg2, VideoCodec::Mpeg2), 3);
  EXPECT_EQ(countRun(mpeg2, VideoCodec::Vc1), 0);

  // 00 00 01 09 and 00 00 00 01 09 count; 00 00 01 29 (nal_ref_idc set) does not
  const Bytes h264 = {0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x01, 0x29};
  EXPECT_EQ(countRun(h264, VideoCodec::H264), 2);

  const Bytes vc1 = {0x00, 0x00, 0x01, 0x0F, 0x00, 0x00, 0x01, 0x0D, 0x00, 0x00, 0x01, 0x0D};
  EXPECT_EQ(countRun(vc1, VideoCodec::Vc1), 2);
  EXPECT_EQ(countRun({}, VideoCodec::Vc1), 0);
}

TEST(CountPictureStartsTest, MarkerSplitBetweenRunsCountsOnce) {
  const Bytes stream = {0x11, 0x00, 0x00, 0x01, 0x0D, 0x22};
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    LinesSink sink;
    std::int32_t count = 0;
    std::uint32_t window = 0;
    CountPictureStarts(stream.data(), 0, static_cast<std::int32_t>(cut), VideoCodec::Vc1, count, window, sink);
    CountPictureStarts(stream.data(), static_cast<std::int32_t>(cut), static_cast<std::int32_t>(stream.size() - cut),
                       VideoCodec::Vc1, count, window, sink);
    EXPECT_EQ(count, 1) << "cut after " << cut << " bytes";
  }
}

// The fast search must agree with a plain four-byte shift register over the
// same bytes, however the stream is cut into runs.
TEST(CountPictureStartsTest, AgreesWithAShiftRegisterOnRandomRuns) {
  std::mt19937 random(42);
  std::uniform_int_distribution<int> byte(0, 7);  // mostly 00, 01, 09, 0D, 00…
  const std::uint8_t alphabet[8] = {0x00, 0x00, 0x00, 0x01, 0x01, 0x09, 0x0D, 0xB3};
  for (VideoCodec codec : {VideoCodec::Mpeg2, VideoCodec::H264, VideoCodec::Vc1}) {
    Bytes bytes(200000);
    for (auto& b : bytes) b = alphabet[byte(random)];
    const std::uint32_t wanted = codec == VideoCodec::Mpeg2 ? 0x100u : codec == VideoCodec::H264 ? 0x109u : 0x10Du;
    std::int32_t expected = 0;
    std::uint32_t shift = 0;
    for (std::uint8_t b : bytes) {
      shift = (shift << 8) | b;
      if (shift == wanted) ++expected;
    }
    ASSERT_GT(expected, 50);

    LinesSink sink;
    std::int32_t count = 0;
    std::uint32_t window = 0;
    std::size_t pos = 0;
    std::uniform_int_distribution<int> runLength(0, 300);
    while (pos < bytes.size()) {
      const auto n = std::min<std::size_t>(static_cast<std::size_t>(runLength(random)), bytes.size() - pos);
      CountPictureStarts(bytes.data(), static_cast<std::int32_t>(pos), static_cast<std::int32_t>(n), codec, count,
                         window, sink);
      pos += n;
    }
    EXPECT_EQ(count, expected);
    EXPECT_TRUE(sink.lines.empty());
  }
}

TEST(ReportSubpictureFormatTest, EightBitWhenTheUnitStartsWithTwoZeros) {
  const auto report = [](const Bytes& bytes, std::size_t valid) {
    LinesSink sink;
    ReportSubpictureFormat(bytes.data(), valid, 0, sink);
    EXPECT_EQ(sink.lines.size(), 1u);
    return sink.lines.empty() ? std::string() : sink.lines[0];
  };
  EXPECT_EQ(report({0x00, 0x00, 0x12}, 3), "   Format = 8bitRLE");
  EXPECT_EQ(report({0x00, 0x01}, 2), "   Format = 2bitRLE");
  EXPECT_EQ(report({0x12, 0x34}, 2), "   Format = 2bitRLE");
  // A byte past the valid data is not taken for a zero.
  EXPECT_EQ(report({0x00, 0x00}, 1), "   Format = 2bitRLE");
}

}  // namespace
}  // namespace tarnwick
