// ReportH264Header over hand-made payload runs: the access units before the
// first I unit, the profile and level of every sequence parameter set, and
// that nothing outside the run is read. Then the scanner's call point.

#include "analysers/h264_header.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/builders.h"
#include "support/scan_fixture.h"

namespace tarnwick::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class Lines final : public LogSink {
 public:
  void log(std::string_view message) override { lines.emplace_back(message); }
  std::vector<std::string> lines;
};

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// An access unit delimiter (four-byte start code) whose next byte is `b`
// (primary_pic_type in its top three bits).
Bytes aud(std::uint8_t b) { return {0x00, 0x00, 0x00, 0x01, 0x09, b}; }
// A sequence parameter set's first bytes behind a three-byte start code.
Bytes sps(std::uint8_t profile_idc, std::uint8_t constraintFlags, std::uint8_t level_idc,
          std::uint8_t header = 0x67) {
  return {0x00, 0x00, 0x01, header, profile_idc, constraintFlags, level_idc, 0xE8, 0x80};
}
// A slice of a non-IDR picture: bytes that are neither of the two.
Bytes slice() { return {0x00, 0x00, 0x01, 0x41, 0x9A, 0x21, 0x6C, 0x41, 0x0F}; }

// The run is the whole of an allocation of its own size, so that a sanitizer
// build sees any read past its end.
std::vector<std::string> report(const Bytes& run) {
  Lines sink;
  const auto exact = std::make_unique<std::uint8_t[]>(run.size());
  std::copy(run.begin(), run.end(), exact.get());
  ReportH264Header(exact.get(), 0, static_cast<std::int32_t>(run.size()), sink);
  return sink.lines;
}

TEST(H264Header, WorkedExample) {
  EXPECT_THAT(report({0x00, 0x00, 0x00, 0x01, 0x09, 0x10, 0x00, 0x00, 0x00, 0x01, 0x67, 0x64, 0x00, 0x29}),
              ElementsAre("   0 frames before first I-frame", "   High Profile", "   Level = 41"));
}

struct DelimiterCase {
  const char* name;
  std::vector<std::uint8_t> types;  // the byte after each delimiter's header
  std::vector<std::string> expected;
};

TEST(H264Header, CountsAccessUnitsBeforeTheFirstIUnit) {
  const DelimiterCase cases[] = {
      {"two P units then I", {0x30, 0x30, 0x10}, {"   2 frames before first I-frame"}},
      {"P, B, then I with low bits set", {0x30, 0x50, 0x30, 0x1F}, {"   3 frames before first I-frame"}},
      // 0x20 is primary_pic_type 1: the first byte that is not an I unit.
      {"0x20 is not an I unit", {0x20, 0x00}, {"   1 frames before first I-frame"}},
      {"types 7 and 3 count like any other", {0xF0, 0x70, 0x10}, {"   2 frames before first I-frame"}},
      {"only the first I unit is reported", {0x10, 0x30, 0x10, 0x50, 0x10}, {"   0 frames before first I-frame"}},
      {"no I unit, no line", {0x30, 0x50, 0x30}, {}},
  };
  for (const DelimiterCase& c : cases) {
    Bytes run;
    for (std::uint8_t type : c.types) run = concat({run, aud(type), slice()});
    EXPECT_EQ(report(run), c.expected) << c.name;
  }
}

TEST(H264Header, CountIsNotNarrowedToAByte) {
  Bytes run;
  for (int k = 0; k < 300; ++k) run = concat({run, aud(0x30)});
  run = concat({run, aud(0x10)});
  EXPECT_THAT(report(run), ElementsAre("   300 frames before first I-frame"));
}

TEST(H264Header, ProfileLineByProfileIdc) {
  const std::pair<std::uint8_t, const char*> cases[] = {
      {66, "   Baseline Profile"},   {77, "   Main Profile"},        {88, "   Extended Profile"},
      {100, "   High Profile"},      {110, "   High 10 Profile"},     {122, "   High 4:2:2 Profile"},
      {144, "   High 4:4:4 Profile"}, {244, "   Unknown Profile"},    {0, "   Unknown Profile"},
      {67, "   Unknown Profile"},    {255, "   Unknown Profile"},
  };
  for (const auto& [profile_idc, line] : cases)
    EXPECT_THAT(report(sps(profile_idc, 0x00, 30)), ElementsAre(line, "   Level = 30")) << int{profile_idc};
}

struct LevelCase {
  std::uint8_t profile_idc;
  std::uint8_t constraintFlags;
  std::uint8_t level_idc;
  const char* expected;
};

TEST(H264Header, LevelLine) {
  const LevelCase cases[] = {
      {66, 0x10, 11, "   Level = 1b"},
      {66, 0x00, 11, "   Level = 11"},
      {77, 0xFF, 11, "   Level = 1b"},   // every flag set, constraint_set3_flag among them
      {66, 0xEF, 11, "   Level = 11"},   // every flag but constraint_set3_flag
      {66, 0x10, 10, "   Level = 10"},   // constraint_set3_flag alone makes no 1b
      {100, 0x00, 9, "   Level = 9"},    // level_idc as it stands
      {100, 0x00, 41, "   Level = 41"},
      {100, 0x00, 200, "   Level = 200"},  // an unsigned byte
  };
  for (const LevelCase& c : cases)
    EXPECT_EQ(report(sps(c.profile_idc, c.constraintFlags, c.level_idc)).at(1), c.expected)
        << int{c.profile_idc} << " " << int{c.constraintFlags} << " " << int{c.level_idc};
}

TEST(H264Header, ConstraintFlagBelongsToItsOwnParameterSet) {
  // A 1b parameter set, then one with constraint_set3_flag clear at level 11.
  EXPECT_THAT(report(concat({sps(66, 0x10, 11), sps(77, 0x40, 11)})),
              ElementsAre("   Baseline Profile", "   Level = 1b", "   Main Profile", "   Level = 11"));
}

TEST(H264Header, RecognisedNalHeaders) {
  // nal_ref_idc 1 and 3 only for a parameter set.
  EXPECT_THAT(report(sps(77, 0x40, 30, 0x27)), ElementsAre("   Main Profile", "   Level = 30"));
  EXPECT_THAT(report(sps(77, 0x40, 30, 0x47)), IsEmpty());
  EXPECT_THAT(report(sps(77, 0x40, 30, 0x07)), IsEmpty());
  EXPECT_THAT(report(sps(77, 0x40, 30, 0x68)), IsEmpty());  // a picture parameter set
  // nal_ref_idc 0 only for a delimiter.
  EXPECT_THAT(report({0x00, 0x00, 0x01, 0x29, 0x10}), IsEmpty());
  EXPECT_THAT(report({0x00, 0x00, 0x01, 0x69, 0x10}), IsEmpty());
  // Two prefix bytes are not a start code.
  EXPECT_THAT(report({0x01, 0x00, 0x01, 0x09, 0x10, 0x05, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E}), IsEmpty());
}

TEST(H264Header, EveryParameterSetInTheRunIsReported) {
  const Bytes run = concat({aud(0x10), sps(100, 0x00, 40), slice(), aud(0x30), slice(), aud(0x10), sps(66, 0xC0, 30)});
  EXPECT_THAT(report(run), ElementsAre("   0 frames before first I-frame", "   High Profile", "   Level = 40",
                                       "   Baseline Profile", "   Level = 30"));
}

TEST(H264Header, CutOffRunReportsOnlyTheBytesInIt) {
  const Bytes full = {0x00, 0x00, 0x00, 0x01, 0x09, 0x30, 0x00, 0x00, 0x01, 0x09, 0x10,
                      0x00, 0x00, 0x01, 0x67, 0x4D, 0x40, 0x28};
  const std::pair<std::size_t, std::vector<std::string>> cases[] = {
      {5, {}},  // ends on the delimiter's header
      {10, {}},
      {11, {"   1 frames before first I-frame"}},
      {15, {"   1 frames before first I-frame"}},  // ends on the parameter set's header
      {16, {"   1 frames before first I-frame", "   Main Profile"}},
      {17, {"   1 frames before first I-frame", "   Main Profile"}},
      {18, {"   1 frames before first I-frame", "   Main Profile", "   Level = 40"}},
  };
  for (const auto& [n, expected] : cases)
    EXPECT_EQ(report(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n))), expected) << n;
}

TEST(H264Header, ReadsNothingOutsideItsRun) {
  // Before the run: the start of a parameter set whose profile and level
  // bytes open the run. After it: the bytes that would complete the
  // parameter set that the run ends on.
  const Bytes before = {0x00, 0x00, 0x01, 0x67};
  const Bytes run = {0x64, 0x00, 0x29, 0x00, 0x00, 0x00, 0x01, 0x09, 0x50, 0x00, 0x00, 0x01, 0x67};
  const Bytes after = {0x42, 0x00, 0x1E, 0x00, 0x00, 0x01, 0x09, 0x10};
  const Bytes buffer = concat({before, run, after});
  Lines sink;
  ReportH264Header(buffer.data(), static_cast<std::int32_t>(before.size()), static_cast<std::int32_t>(run.size()),
                   sink);
  EXPECT_THAT(sink.lines, IsEmpty());

  // The same buffer read whole: the bytes would have been reported.
  Lines whole;
  ReportH264Header(buffer.data(), 0, static_cast<std::int32_t>(buffer.size()), whole);
  EXPECT_THAT(whole.lines, ElementsAre("   High Profile", "   Level = 41", "   Baseline Profile", "   Level = 30",
                                       "   1 frames before first I-frame"));
}

TEST(H264Header, NoLengthNoReport) {
  const Bytes buffer = concat({aud(0x10), sps(100, 0x00, 41)});
  for (const std::int32_t length : {0, -1, -100}) {
    Lines sink;
    ReportH264Header(buffer.data(), 0, length, sink);
    EXPECT_THAT(sink.lines, IsEmpty()) << length;
  }
}

// Through the scanner: H.264 streams 0xE2 and 0xE3, each reported once, at
// its first payload, after its first PTS and stream id.
class H264ScanTest : public ScanFixture {};

TEST_F(H264ScanTest, FirstPayloadOfEachStreamIsAnalysed) {
  PsBuilder ps;
  ps.packHeader().pes(0xE2, concat({aud(0x10), sps(77, 0x40, 40), slice()}), {.pts = 0x2328, .dts = 0x1F40});
  ps.packHeader().pes(0xE3, concat({aud(0x30), slice(), aud(0x10), sps(100, 0x00, 41)}),
                      {.pts = 0x15F90, .dts = 0x11170});
  // A later parameter set of stream 0xE2 is not its first payload.
  ps.packHeader().pes(0xE2, concat({aud(0x10), sps(66, 0xC0, 30)}), {.pts = 0x3E80, .dts = 0x2328});
  scan(ps.bytes());
  EXPECT_THAT(log(), ElementsAre("H.264 video stream 0 found!", "   First PTS = 00002328", "   Stream id = E2",
                                 "   0 frames before first I-frame", "   Main Profile", "   Level = 40",
                                 "H.264 video stream 1 found!", "   First PTS = 00015F90", "   Stream id = E3",
                                 "   1 frames before first I-frame", "   High Profile", "   Level = 41"));
}

TEST_F(H264ScanTest, PacketAcrossTheChunkBoundaryIsAnalysedUpToIt) {
  // The first chunk ends right behind the parameter set's profile_idc: only
  // the profile is reported.
  const Bytes payload = concat({aud(0x10), sps(100, 0x00, 41)});
  constexpr std::size_t kInFirstChunk = 11;  // up to profile_idc
  constexpr std::size_t kChunk = 0x40000;
  constexpr std::size_t kHeader = 6 + 3 + 10;  // start code and length, flags, PTS and DTS
  const std::size_t start = kChunk - kHeader - kInFirstChunk;
  PsBuilder ps;
  while (ps.size() + 2048 <= start) ps.packHeader().finishPack();
  ps.padTo(start);
  ps.pes(0xE2, payload, {.pts = 0x2328, .dts = 0x1F40});
  ASSERT_EQ(ps.bytes().at(kChunk - 1), 0x64);  // profile_idc
  scan(ps.bytes());
  EXPECT_THAT(log(), ElementsAre("H.264 video stream 0 found!", "   First PTS = 00002328", "   Stream id = E2",
                                 "   0 frames before first I-frame", "   High Profile"));
}

}  // namespace
}  // namespace tarnwick::test
