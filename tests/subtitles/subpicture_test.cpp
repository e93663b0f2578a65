// Subpicture units in, PGS out, and back: what a reader of our PGS sees is
// the caption the unit carried; damaged units cost one log line each and
// never their neighbours; SP record files give the same PGS as the packets.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <sstream>

#include "subtitles/pgs_reader.h"
#include "subtitles/sp_records.h"
#include "tests/subtitles/captions.h"

namespace tarnwick::test {
namespace {

constexpr std::uint64_t kBase = 90000;

std::vector<Caption> readBack(const Bytes& pgs, std::vector<std::string>* log = nullptr) {
  std::istringstream in(std::string(pgs.begin(), pgs.end()));
  LinesSink sink;
  std::vector<Caption> captions;
  readPgs(in, sink, [&](const Caption& c) { captions.push_back(c); });
  if (log) *log = sink.lines;
  return captions;
}

// The caption as its unit was built, cropped to the rows and columns that
// hold a visible pixel (value 0 is transparent in all these units).
struct Expected {
  int x, y, width, height;
  std::vector<std::uint8_t> pixels;
};

Expected cropped(const SpuBitmap& b) {
  int minX = b.width, maxX = -1, minY = b.height, maxY = -1;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x)
      if (b.pixels[static_cast<std::size_t>(y) * b.width + x] != 0) {
        minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
      }
  Expected e{b.x + minX, b.y + minY, maxX - minX + 1, maxY - minY + 1, {}};
  for (int y = minY; y <= maxY; ++y)
    for (int x = minX; x <= maxX; ++x) e.pixels.push_back(b.pixels[static_cast<std::size_t>(y) * b.width + x]);
  return e;
}

TEST(PgsRoundTrip, EveryCaptionComesBackAsItsUnitDrewIt) {
  // 8-bit: a forced one, one without a stop command, one larger than a PGS
  // segment; then 2-bit in the DVD form after them in the same run.
  SpuOptions eight;
  eight.eightBit = true;
  fillTestPalette(eight);
  eight.stopDelay = 100;
  std::vector<SpuBitmap> bitmaps = {captionBitmap(100, 900, 800, 120, 256, 0), captionBitmap(0, 0, 300, 50, 256, 1),
                                    captionBitmap(500, 500, 1000, 400, 256, 2, true),
                                    captionBitmap(1700, 1000, 220, 80, 4, 3)};
  std::vector<TimedUnit> units;
  units.push_back({kBase + 1000, buildSpu(bitmaps[0], eight)});
  eight.forced = true;
  eight.stopDelay.reset();
  units.push_back({kBase + 200000, buildSpu(bitmaps[1], eight)});
  eight.forced = false;
  eight.stopDelay = 300;
  units.push_back({kBase + 400000, buildSpu(bitmaps[2], eight)});
  SpuOptions two;
  two.stopDelay = 50;
  two.contrast = {0, 15, 4, 15};
  units.push_back({kBase + 800000, buildSpu(bitmaps[3], two)});

  const Converted c = convertUnits(units, {{}, static_cast<std::uint32_t>(kBase), std::nullopt});
  EXPECT_EQ(c.log, std::vector<std::string>{
                       "   The 2-bit subpicture stream carries no colour table: the default grey ramp is used"});
  std::vector<std::string> readLog;
  const std::vector<Caption> back = readBack(c.pgs, &readLog);
  EXPECT_EQ(readLog, std::vector<std::string>{});
  ASSERT_EQ(back.size(), 4u);

  const std::uint32_t starts[] = {1000, 200000, 400000, 800000};
  const std::uint32_t ends[] = {1000 + 100 * 1024, 400000, 400000 + 300 * 1024, 800000 + 50 * 1024};
  for (std::size_t i = 0; i < back.size(); ++i) {
    SCOPED_TRACE("caption " + std::to_string(i));
    const Expected e = cropped(bitmaps[i]);
    EXPECT_EQ(back[i].start, starts[i]);
    EXPECT_EQ(back[i].end, ends[i]);
    EXPECT_EQ(back[i].forced, i == 1);
    EXPECT_EQ(std::make_tuple(back[i].x, back[i].y, back[i].width, back[i].height),
              std::make_tuple(e.x, e.y, e.width, e.height));
    EXPECT_TRUE(back[i].pixels == e.pixels);
  }
  // Palette: the 8-bit entries as the unit gave them, alpha 255 − contrast;
  // the 2-bit contrast nibbles scaled by 17 onto the grey ramp.
  EXPECT_EQ(back[0].palette[7], (PaletteEntry{eight.palette[7][0], eight.palette[7][1], eight.palette[7][2], 255}));
  EXPECT_EQ(back[3].palette[2], (PaletteEntry{16, 128, 128, 4 * 17}));
  EXPECT_EQ(back[3].palette[1], (PaletteEntry{235, 128, 128, 255}));
}

// Each row breaks one length or offset of an otherwise good 8-bit unit that
// sits between two good ones.
struct Damage {
  const char* name;
  std::function<void(Bytes&)> apply;
  std::string why;
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

std::uint32_t be32(const Bytes& u, std::size_t at) {
  return static_cast<std::uint32_t>(u[at] << 24 | u[at + 1] << 16 | u[at + 2] << 8 | u[at + 3]);
}
void setBe32(Bytes& u, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) u[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
// The offset of the first 8-bit command `code` in the first control sequence.
std::size_t commandAt(const Bytes& u, std::uint8_t code) {
  std::size_t pos = be32(u, 6) + 6;
  while (u[pos] != code) pos += u[pos] == 0x83 ? 769 : u[pos] == 0x84 ? 257 : u[pos] == 0x85 ? 7 : u[pos] == 0x86 ? 9 : 1;
  return pos;
}

class DamagedUnit : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedUnit, IsSkippedWithOneLineAndItsNeighboursStay) {
  SpuOptions o;
  o.eightBit = true;
  fillTestPalette(o);
  o.stopDelay = 50;
  const Bytes good = buildSpu(captionBitmap(10, 10, 64, 20, 256, 0), o);
  Bytes bad = good;
  GetParam().apply(bad);
  const Converted c = convertUnits({{kBase, good}, {kBase + 90000, bad}, {kBase + 180000, good}},
                                   {{}, static_cast<std::uint32_t>(kBase), std::nullopt});
  EXPECT_EQ(c.log, std::vector<std::string>{"   Damaged subpicture unit at PTS 0:00:02.000 skipped: " + GetParam().why});
  EXPECT_EQ(c.captions, 2u);
  EXPECT_EQ(readBack(c.pgs).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, DamagedUnit,
    ::testing::Values(
        Damage{"SequenceOffsetPastEnd", [](Bytes& u) { setBe32(u, 6, static_cast<std::uint32_t>(u.size() - 3)); },
               "control sequence offset past the unit's end"},
        Damage{"SizeFieldBelowHeader", [](Bytes& u) { setBe32(u, 2, 8); }, "its size cannot hold its header"},
        Damage{"TopFieldPastEnd",
               [](Bytes& u) { setBe32(u, commandAt(u, 0x86) + 1, static_cast<std::uint32_t>(u.size())); },
               "pixel data address past the unit's end"},
        Damage{"BottomFieldAtLastByte",
               [](Bytes& u) { setBe32(u, commandAt(u, 0x86) + 5, static_cast<std::uint32_t>(u.size() - 1)); },
               "pixel data ends early or a run crosses a line's end"},
        Damage{"AreaNarrowerThanItsRuns", [](Bytes& u) { u[commandAt(u, 0x85) + 3] -= 3; },
               "pixel data ends early or a run crosses a line's end"},
        Damage{"AreaReversed", [](Bytes& u) { u[commandAt(u, 0x85) + 3] = 0; }, "empty display area"},
        Damage{"NoEndOfSequence",
               [](Bytes& u) {
                 // The last sequence loses its end command and its stop: commands run into the unit's end.
                 u.resize(u.size() - 2);
                 setBe32(u, 2, static_cast<std::uint32_t>(u.size()));
               },
               "control sequence runs past the unit's end"},
        Damage{"NoStartCommand", [](Bytes& u) { u[be32(u, 6) + 6] = 0x02; }, "no start command"}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

TEST(PgsConverter, TimesBeforeTheBaseBecomeZeroAndAnUnfinishedUnitIsSaidOnce) {
  SpuOptions o;
  o.stopDelay = 10;
  const Bytes unit = buildSpu(captionBitmap(0, 0, 40, 10, 4, 0), o);
  Converted c = convertUnits({{kBase - 900, unit}, {kBase + 9000, Bytes(unit.begin(), unit.begin() + 20)},
                              {kBase + 18000, unit}},
                             {{}, static_cast<std::uint32_t>(kBase), defaultColourTable()}, 4096);
  EXPECT_EQ(c.log, (std::vector<std::string>{
                       "   Subpicture time 0:00:00.990 lies before the start of the run: written as 0",
                       "   Incomplete subpicture unit at PTS 0:00:01.100 skipped: the next unit began before it was "
                       "whole (20 of " + std::to_string(unit.size()) + " bytes)"}));
  const std::vector<Caption> back = readBack(c.pgs);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].start, 0u);
  EXPECT_EQ(back[0].end, 10 * 1024 - 900u);
  EXPECT_EQ(back[1].start, 18000u);
}

// A unit without colour commands shows the colours of the last unit that
// decoded whole; a damaged unit between them, whose commands gave others,
// changes nothing.
struct CarryOver {
  const char* name;
  bool eightBit;
  bool hdHeader;
};

void PrintTo(const CarryOver& c, std::ostream* os) { *os << c.name; }

class ColoursCarryOver : public ::testing::TestWithParam<CarryOver> {};

TEST_P(ColoursCarryOver, FromTheLastUnitThatDecodedWhole) {
  SpuOptions first;
  first.eightBit = GetParam().eightBit;
  first.hdHeader = GetParam().hdHeader;
  first.stopDelay = 50;
  fillTestPalette(first);
  first.colour = {0, 14, 3, 7};
  first.contrast = {0, 15, 9, 12};
  SpuOptions other = first;
  other.colour = {5, 1, 2, 6};
  other.contrast = {15, 15, 15, 15};
  for (auto& e : other.palette) e = {200, 30, 30};
  other.contrast8.fill(0);
  SpuOptions bare = first;
  bare.colourCommands = false;
  const SpuBitmap b = captionBitmap(10, 10, 64, 20, first.eightBit ? 256 : 4, 0);
  // The damaged unit's first command becomes a stop: it has no start, which
  // is found only after its colour commands were read.
  Bytes damaged = buildSpu(b, other);
  const bool hd = first.eightBit || first.hdHeader;
  const std::size_t sequence = hd ? be32(damaged, 6) : static_cast<std::size_t>(damaged[2] << 8 | damaged[3]);
  damaged[sequence + (hd ? 6 : 4)] = 0x02;
  const Converted c = convertUnits({{kBase, buildSpu(b, first)}, {kBase + 90000, damaged}, {kBase + 180000, buildSpu(b, bare)}},
                                   {{}, static_cast<std::uint32_t>(kBase), defaultColourTable()});
  EXPECT_EQ(c.log, std::vector<std::string>{"   Damaged subpicture unit at PTS 0:00:02.000 skipped: no start command"});
  const std::vector<Caption> back = readBack(c.pgs);
  ASSERT_EQ(back.size(), 2u);
  // The first unit's commands took effect ...
  if (first.eightBit) {
    EXPECT_EQ(back[0].palette[7], (PaletteEntry{first.palette[7][0], first.palette[7][1], first.palette[7][2], 255}));
  } else {
    PaletteEntry e = defaultColourTable()[3];
    e.alpha = 9 * 17;
    EXPECT_EQ(back[0].palette[2], e);
  }
  // ... and hold for the unit without any.
  EXPECT_EQ(back[1].palette, back[0].palette);
  EXPECT_TRUE(back[1].pixels == back[0].pixels);
}

INSTANTIATE_TEST_SUITE_P(Forms, ColoursCarryOver,
                         ::testing::Values(CarryOver{"TwoBitDvdForm", false, false}, CarryOver{"TwoBitHdForm", false, true},
                                           CarryOver{"EightBit", true, true}),
                         [](const ::testing::TestParamInfo<CarryOver>& info) { return std::string(info.param.name); });

// The display sets' times, in the order they are written.
std::vector<std::uint32_t> segmentTimes(const Bytes& pgs) {
  std::vector<std::uint32_t> times;
  for (std::size_t at = 0; at + kPgsSegmentHeaderSize <= pgs.size(); at += kPgsSegmentHeaderSize + (pgs[at + 11] << 8 | pgs[at + 12]))
    times.push_back(be32(pgs, at + 2));
  return times;
}

// A caption that starts while the one before it is on (A until 4.55 s, B
// from 3 s) ends that one at its start. One that claims to start even
// before the caption on screen began (C at 2 s, after B) replaces it at B's
// start, with a line, and still ends at its stop command's time: display
// sets never go back in time.
TEST(PgsConverter, OverlappingCaptionsEndAtTheNextStartAndTimesNeverGoBack) {
  SpuOptions o;
  o.stopDelay = 400;
  const Bytes a = buildSpu(captionBitmap(0, 0, 40, 10, 4, 0), o), b = buildSpu(captionBitmap(0, 20, 40, 10, 4, 1), o);
  o.stopDelay = 100;
  const Bytes c3 = buildSpu(captionBitmap(0, 40, 40, 10, 4, 2), o);
  const Converted c = convertUnits({{kBase + 90000, a}, {kBase + 270000, b}, {kBase + 180000, c3}},
                                   {{}, static_cast<std::uint32_t>(kBase), defaultColourTable()});
  EXPECT_EQ(c.log, std::vector<std::string>{
                       "   Subpicture at 0:00:02.000 starts before the one before it (0:00:03.000): shown from there"});
  const std::vector<std::uint32_t> times = segmentTimes(c.pgs);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
  const std::vector<Caption> back = readBack(c.pgs);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(std::make_tuple(back[0].start, back[0].end, back[0].y), std::make_tuple(90000u, std::optional(270000u), 2));
  EXPECT_EQ(std::make_tuple(back[1].start, back[1].end, back[1].y), std::make_tuple(270000u, std::optional(270000u), 22));
  EXPECT_EQ(std::make_tuple(back[2].start, back[2].end, back[2].y),
            std::make_tuple(270000u, std::optional(180000u + 100 * 1024), 42));  // its stop command's own time
}

// The canvas is the plane the captions are placed on: a caption reaching
// past it loses that part, one wholly past it (to the right, or below) is
// skipped; each is said, none goes unnoticed.
TEST(PgsConverter, CaptionsPastTheCanvasAreCutOrSkippedWithALine) {
  SpuOptions o;
  o.stopDelay = 40;
  LinesSink log;
  Bytes pgs;
  PgsConverter converter([&](const std::uint8_t* p, std::size_t n) { pgs.insert(pgs.end(), p, p + n); }, log,
                         {{720, 576}, static_cast<std::uint32_t>(kBase), defaultColourTable()});
  const std::vector<SpuBitmap> bitmaps = {captionBitmap(600, 500, 200, 100, 4, 0), captionBitmap(800, 10, 100, 20, 4, 1),
                                          captionBitmap(10, 600, 100, 20, 4, 2)};
  for (std::size_t i = 0; i < bitmaps.size(); ++i) {
    const Bytes unit = buildSpu(bitmaps[i], o);
    converter.addUnit(unit.data(), unit.size(), static_cast<std::uint32_t>(kBase + 90000 * i));
  }
  converter.finish();
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{
                "   Caption at 0:00:00.000 (columns 600-799, lines 500-599): its part outside the 720x576 subpicture "
                "plane is cut off",
                "   Caption at 0:00:01.000 (columns 800-899, lines 10-29) skipped: it lies outside the 720x576 subpicture plane",
                "   Caption at 0:00:02.000 (columns 10-109, lines 600-619) skipped: it lies outside the 720x576 subpicture "
                "plane"}));
  EXPECT_EQ(converter.captionsWritten(), 1u);
  EXPECT_EQ(converter.unitsSkipped(), 2u);
  const std::vector<Caption> back = readBack(pgs);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(std::make_tuple(back[0].x, back[0].y, back[0].width, back[0].height), std::make_tuple(600, 502, 120, 74));
}

// Bytes between a unit's end and the next unit's start (in the unit's last
// packet, or at the end of the stream) are no caption's: each stretch is
// said once, and the captions are the ones the clean stream gives.
TEST(PgsConverter, BytesAfterAUnitsEndAreSkippedWithALine) {
  SpuOptions o;
  o.stopDelay = 40;
  std::vector<TimedUnit> clean, junk;
  for (int i = 0; i < 3; ++i) clean.push_back({kBase + 90000u * i, buildSpu(captionBitmap(0, 0, 300, 20, 4, i), o)});
  junk = clean;
  junk[0].unit.insert(junk[0].unit.end(), {1, 2, 3, 4, 5, 6, 7});
  junk[2].unit.insert(junk[2].unit.end(), {0, 0, 0});
  const PgsOptions options{{}, static_cast<std::uint32_t>(kBase), defaultColourTable()};
  const Converted c = convertUnits(junk, options);
  EXPECT_EQ(c.log, (std::vector<std::string>{"   7 subpicture bytes outside any unit skipped",
                                             "   3 subpicture bytes outside any unit skipped"}));
  EXPECT_EQ(c.captions, 3u);
  EXPECT_TRUE(c.pgs == convertUnits(clean, options).pgs);
}

// Other writers' PGS may crop an object in the composition: a crop that
// reaches the object's right and bottom edges lies inside it; one a pixel
// past either does not.
struct Crop {
  const char* name;
  std::function<std::array<int, 4>(int width, int height)> area;  // x, y, width, height
  bool inside;
};

void PrintTo(const Crop& c, std::ostream* os) { *os << c.name; }

class PgsCrop : public ::testing::TestWithParam<Crop> {};

TEST_P(PgsCrop, IsReadWhenItLiesInsideTheObject) {
  SpuOptions o;
  o.stopDelay = 40;
  const Converted c = convertUnits({{kBase, buildSpu(captionBitmap(0, 0, 40, 10, 4, 0), o)}},
                                   {{}, static_cast<std::uint32_t>(kBase), defaultColourTable()});
  const std::vector<Caption> whole = readBack(c.pgs);
  ASSERT_EQ(whole.size(), 1u);
  const int width = whole[0].width, height = whole[0].height;
  const auto [cx, cy, cw, ch] = GetParam().area(width, height);
  // The first segment is the composition with its one object: the crop
  // flag set and the crop appended.
  Bytes pgs = c.pgs;
  ASSERT_EQ(pgs[10], kPcsSegment);
  ASSERT_EQ(pgs[11] << 8 | pgs[12], 19);
  pgs[12] = 27;
  pgs[kPgsSegmentHeaderSize + 14] |= 0x80;
  const Bytes crop = {static_cast<std::uint8_t>(cx >> 8), static_cast<std::uint8_t>(cx), static_cast<std::uint8_t>(cy >> 8),
                      static_cast<std::uint8_t>(cy), static_cast<std::uint8_t>(cw >> 8), static_cast<std::uint8_t>(cw),
                      static_cast<std::uint8_t>(ch >> 8), static_cast<std::uint8_t>(ch)};
  pgs.insert(pgs.begin() + kPgsSegmentHeaderSize + 19, crop.begin(), crop.end());
  std::vector<std::string> log;
  const std::vector<Caption> back = readBack(pgs, &log);
  if (!GetParam().inside) {
    EXPECT_EQ(back.size(), 0u);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].ends_with(": cropping outside the object")) << log[0];
    return;
  }
  EXPECT_EQ(log, std::vector<std::string>{});
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(std::make_tuple(back[0].width, back[0].height), std::make_tuple(cw, ch));
  std::vector<std::uint8_t> expected;
  for (int y = cy; y < cy + ch; ++y)
    for (int x = cx; x < cx + cw; ++x) expected.push_back(whole[0].pixels[static_cast<std::size_t>(y * width + x)]);
  EXPECT_TRUE(back[0].pixels == expected);
}

INSTANTIATE_TEST_SUITE_P(
    Areas, PgsCrop,
    ::testing::Values(Crop{"ReachesTheBottomRightCorner", [](int w, int h) { return std::array{w - 10, h - 4, 10, 4}; }, true},
                      Crop{"TheWholeObject", [](int w, int h) { return std::array{0, 0, w, h}; }, true},
                      Crop{"OnePastTheRightEdge", [](int w, int h) { return std::array{w - 10, 0, 11, h}; }, false},
                      Crop{"OnePastTheBottomEdge", [](int w, int h) { return std::array{0, h - 4, w, 5}; }, false}),
    [](const ::testing::TestParamInfo<Crop>& info) { return std::string(info.param.name); });

// Demux's SP records: a header before each packet with a time stamp, the
// packets after it bare. Reading them must give the PGS that the packets
// give, even when a unit's bytes spell "SP" and junk sits between records.
TEST(SpRecords, GiveThePgsThatThePacketsGive) {
  SpuOptions o;
  o.eightBit = true;
  fillTestPalette(o);
  o.palette[200] = {'S', 'P', 0};  // "SP" inside the unit
  o.stopDelay = 60;
  std::vector<TimedUnit> units;
  for (int i = 0; i < 3; ++i)
    units.push_back({kBase + 100000u * i, buildSpu(captionBitmap(50, 50, 500, 60 + 10 * i, 256, i), o)});
  const Converted direct = convertUnits(units, {{}, static_cast<std::uint32_t>(kBase), std::nullopt});
  ASSERT_EQ(direct.captions, 3u);

  std::string records;
  for (const TimedUnit& u : units) {
    const std::uint32_t t = static_cast<std::uint32_t>(u.pts - kBase);
    records += "SP";
    for (int k = 0; k < 4; ++k) records += static_cast<char>(t >> (8 * k));
    records += std::string(4, '\0');
    records.append(u.unit.begin(), u.unit.end());
    if (&u == &units[0]) records += "junk";
  }
  std::istringstream in(records);
  LinesSink log;
  Bytes pgs;
  PgsConverter converter([&](const std::uint8_t* p, std::size_t n) { pgs.insert(pgs.end(), p, p + n); }, log);
  const SpRecordSummary summary = readSpRecords(
      in, log, [&](const std::uint8_t* u, std::size_t n, std::uint32_t t) { converter.addUnit(u, n, t); });
  converter.finish();
  EXPECT_EQ(summary.units, 3u);
  EXPECT_EQ(log.lines, std::vector<std::string>{"   4 bytes at byte " + std::to_string(10 + units[0].unit.size()) +
                                                " of the SP records belong to no record: skipped"});
  EXPECT_TRUE(pgs == direct.pgs);
}

}  // namespace
}  // namespace tarnwick::test
