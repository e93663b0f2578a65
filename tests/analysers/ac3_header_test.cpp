// The Dolby Digital (Plus) sync frame lines.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "analysers/ac3_header.h"
#include "support/lines_sink.h"

namespace tarnwick {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using test::LinesSink;

// The rate table as the scanner fills it, followed by guard entries that
// would show up as 999 kbit/s if a lookup ran past its end.
struct GuardedRates {
  std::array<std::uint32_t, 23> table = {48000,  44100,  32000,  0,      32000,  40000,  48000,  56000,
                                         64000,  80000,  96000,  112000, 128000, 160000, 192000, 224000,
                                         256000, 320000, 384000, 448000, 512000, 576000, 640000};
  std::array<std::uint32_t, 16> guard = {999000, 999000, 999000, 999000, 999000, 999000, 999000, 999000,
                                         999000, 999000, 999000, 999000, 999000, 999000, 999000, 999000};
};

// The run is the rest of the bytes from position unless a length is given.
Lines report(const Bytes& bytes, std::int32_t stream = 0, std::int32_t position = 0,
             std::optional<std::int32_t> length = {}) {
  static const GuardedRates rates;
  LinesSink sink;
  ReportAc3Header(bytes.data(), position, length.value_or(static_cast<std::int32_t>(bytes.size()) - position), stream,
                  rates.table, sink);
  return sink.lines;
}

// An A/52 sync frame start: syncword, crc1, fscod|frmsizecod, bsid|bsmod, acmod|…
Bytes ac3Frame(int fscod, int frmsizecod, int bsid, int bsmod, int acmod) {
  return {0x0B,
          0x77,
          0x12,
          0x34,
          static_cast<std::uint8_t>(fscod << 6 | frmsizecod),
          static_cast<std::uint8_t>(bsid << 3 | bsmod),
          static_cast<std::uint8_t>(acmod << 5)};
}

// An Annex E sync frame start: syncword, strmtyp|substreamid|frmsiz,
// fscod|numblkscod|acmod|lfeon, bsid|dialnorm.
Bytes eac3Frame(int frmsiz, int fscod, int numblkscod, int acmod, int lfeon, int bsid = 16) {
  return {0x0B,
          0x77,
          static_cast<std::uint8_t>(frmsiz >> 8),
          static_cast<std::uint8_t>(frmsiz & 0xFF),
          static_cast<std::uint8_t>(fscod << 6 | numblkscod << 4 | acmod << 1 | lfeon),
          static_cast<std::uint8_t>(bsid << 3 | 0x02),
          0x00};
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(Ac3HeaderTest, WorkedExamples) {
  EXPECT_THAT(report({0x0B, 0x77, 0xAB, 0xCD, 0x1E, 0x40, 0xE0}, 0),
              ElementsAre("   Stream 0 is [b]Dolby Digital[/b]", "   bitrate = 448 kbit/s, sampling rate = 48 kHz",
                          "   mode = 3/2, bsid = 8, bsmod =0"));
  EXPECT_THAT(
      report({0x0B, 0x77, 0x02, 0xFF, 0x3F, 0x80, 0x00}, 0),
      ElementsAre("   Stream 0 is [b]Dolby Digital Plus[/b]", "   frame size = 1536, number of blocks per frame = 6",
                  "   bitrate = 384 kbit/s, sampling rate = 48 kHz", "   mode = 3/2, bsid = 16, LFE present = 1"));
}

TEST(Ac3HeaderTest, BsidChoosesTheSyntax) {
  const struct {
    int bsid;
    bool plus;
  } rows[] = {{0, false}, {8, false}, {10, false}, {11, true}, {16, true}, {17, false}, {31, false}};
  for (const auto& row : rows) {
    // Byte 2 read the A/52 way: fscod 0, frmsizecod 20 (192 kbit/s), acmod
    // from byte 4; the Annex E way: numblkscod 1, acmod 2, lfeon 0.
    const Bytes bytes = {0x0B, 0x77, 0x00, 0x5F, 0x14, static_cast<std::uint8_t>(row.bsid << 3 | 1), 0x20};
    const Lines lines = report(bytes, 3);
    if (row.plus) {
      EXPECT_THAT(lines, ElementsAre("   Stream 3 is [b]Dolby Digital Plus[/b]",
                                     "   frame size = 192, number of blocks per frame = 2",
                                     "   bitrate = 144 kbit/s, sampling rate = 48 kHz",
                                     "   mode = 2/0, bsid = " + std::to_string(row.bsid) + ", LFE present = 0"))
          << "bsid " << row.bsid;
    } else {
      EXPECT_THAT(lines,
                  ElementsAre("   Stream 3 is [b]Dolby Digital[/b]", "   bitrate = 192 kbit/s, sampling rate = 48 kHz",
                              "   mode = 1/0, bsid = " + std::to_string(row.bsid) + ", bsmod =1"))
          << "bsid " << row.bsid;
    }
  }
}

TEST(Ac3HeaderTest, PlusBitRateFromFrameSizeBlocksAndSamplingRate) {
  const struct {
    int frmsiz, fscod, numblkscod;
    const char* frameLine;
    const char* rateLine;
  } rows[] = {
      // bytes × 8 × sampling rate / (256 × blocks)
      {127, 0, 0, "   frame size = 256, number of blocks per frame = 1",
       "   bitrate = 384 kbit/s, sampling rate = 48 kHz"},
      {191, 0, 2, "   frame size = 384, number of blocks per frame = 3",
       "   bitrate = 192 kbit/s, sampling rate = 48 kHz"},
      // 556 × 8 × 44100 / 1536 = 127706.25, as an encoder's 128 kbit/s at 44.1 kHz
      {277, 1, 3, "   frame size = 556, number of blocks per frame = 6",
       "   bitrate = 127 kbit/s, sampling rate = 44.1 kHz"},
      {383, 2, 3, "   frame size = 768, number of blocks per frame = 6",
       "   bitrate = 128 kbit/s, sampling rate = 32 kHz"},
  };
  for (const auto& row : rows) {
    const Lines lines = report(eac3Frame(row.frmsiz, row.fscod, row.numblkscod, 2, 0));
    ASSERT_EQ(lines.size(), 4u) << row.frameLine;
    EXPECT_EQ(lines[1], row.frameLine);
    EXPECT_EQ(lines[2], row.rateLine);
  }
}

TEST(Ac3HeaderTest, OneFramePerRunOnceLocked) {
  const Bytes bytes = concat({ac3Frame(0, 30, 8, 0, 7), {0x55}, ac3Frame(1, 4, 8, 0, 2)});
  EXPECT_EQ(report(bytes).size(), 3u);
  const Bytes plus = concat({eac3Frame(767, 0, 3, 7, 1), eac3Frame(383, 0, 3, 2, 0)});
  EXPECT_EQ(report(plus).size(), 4u);
}

TEST(Ac3HeaderTest, ReservedSamplingRateReportsZeroAndReleasesTheLock) {
  const Bytes bytes = concat({ac3Frame(3, 30, 8, 0, 7), ac3Frame(0, 30, 8, 0, 7), ac3Frame(0, 4, 8, 0, 7)});
  EXPECT_THAT(report(bytes, 2),
              ElementsAre("   Stream 2 is [b]Dolby Digital[/b]", "   bitrate = 448 kbit/s, sampling rate = 0 kHz",
                          "   mode = 3/2, bsid = 8, bsmod =0", "   Stream 2 is [b]Dolby Digital[/b]",
                          "   bitrate = 448 kbit/s, sampling rate = 48 kHz", "   mode = 3/2, bsid = 8, bsmod =0"));

  // Annex E with fscod 3: the reduced rates are not decoded, so no bit rate either.
  const Bytes plus = concat({eac3Frame(767, 3, 3, 7, 1), eac3Frame(767, 0, 3, 7, 1)});
  EXPECT_THAT(
      report(plus, 2),
      ElementsAre("   Stream 2 is [b]Dolby Digital Plus[/b]", "   frame size = 1536, number of blocks per frame = 6",
                  "   bitrate = 0 kbit/s, sampling rate = 0 kHz", "   mode = 3/2, bsid = 16, LFE present = 1",
                  "   Stream 2 is [b]Dolby Digital Plus[/b]", "   frame size = 1536, number of blocks per frame = 6",
                  "   bitrate = 384 kbit/s, sampling rate = 48 kHz", "   mode = 3/2, bsid = 16, LFE present = 1"));
}

TEST(Ac3HeaderTest, FrameSizeCodesPastTheTableGiveZeroAndReleaseTheLock) {
  EXPECT_EQ(report(ac3Frame(0, 35, 8, 0, 7)).at(1), "   bitrate = 576 kbit/s, sampling rate = 48 kHz");
  EXPECT_EQ(report(ac3Frame(0, 36, 8, 0, 7)).at(1), "   bitrate = 640 kbit/s, sampling rate = 48 kHz");
  EXPECT_EQ(report(ac3Frame(0, 37, 8, 0, 7)).at(1), "   bitrate = 640 kbit/s, sampling rate = 48 kHz");
  for (int frmsizecod = 38; frmsizecod < 64; ++frmsizecod) {
    const Bytes bytes = concat({ac3Frame(0, frmsizecod, 8, 0, 7), ac3Frame(0, 2, 8, 0, 1)});
    const Lines lines = report(bytes);
    ASSERT_EQ(lines.size(), 6u) << "frmsizecod " << frmsizecod;
    EXPECT_EQ(lines[1], "   bitrate = 0 kbit/s, sampling rate = 48 kHz") << "frmsizecod " << frmsizecod;
    EXPECT_EQ(lines[4], "   bitrate = 40 kbit/s, sampling rate = 48 kHz");
  }
}

TEST(Ac3HeaderTest, SyncPatternInsideTheHeaderIsNotGathered) {
  // Byte 0 = 0B, byte 1 = 77: that byte is passed over, FF completes frmsiz
  // (0x3FF), and the countdown goes on.
  EXPECT_THAT(
      report({0x0B, 0x77, 0x0B, 0x77, 0xFF, 0x3F, 0x80, 0x00}),
      ElementsAre("   Stream 0 is [b]Dolby Digital Plus[/b]", "   frame size = 2048, number of blocks per frame = 6",
                  "   bitrate = 512 kbit/s, sampling rate = 48 kHz", "   mode = 3/2, bsid = 16, LFE present = 1"));
}

TEST(Ac3HeaderTest, OnlyTheRunIsRead) {
  // The run starts behind a syncword in the buffer and finds the next one.
  const Bytes bytes = concat({{0x0B, 0x77, 0x0B, 0x55}, ac3Frame(1, 28, 6, 5, 2)});
  EXPECT_THAT(report(bytes, 12, 2),
              ElementsAre("   Stream 12 is [b]Dolby Digital[/b]", "   bitrate = 384 kbit/s, sampling rate = 44.1 kHz",
                          "   mode = 2/0, bsid = 6, bsmod =5"));
  // A header cut off by the end of the run gives no lines, even though the
  // buffer holds the rest of it.
  const Bytes plus = eac3Frame(767, 0, 3, 7, 1);
  for (std::int32_t length = -5; length < 7; ++length)
    EXPECT_THAT(report(plus, 0, 0, length), IsEmpty()) << "length " << length;
  EXPECT_THAT(report(plus, 0, 1, 6), IsEmpty());
}

}  // namespace
}  // namespace tarnwick
