// The PGS we write, checked by independent readers: ffmpeg decodes every
// display set without a word of complaint and, from the same program stream,
// its own decoder of HD DVD subpictures gives the same captions at the same
// times and, overlaid on a frame, the same pixels; mkvmerge takes the file as
// S_HDMV/PGS and mkvextract gives its bytes back. tarnwick-cli's own runs: a
// 720p title whose captions lie below line 720 of the video (on the HD DVD
// subpicture plane), and a stream that gives no caption at all.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "subtitles/pgs_reader.h"
#include "support/run_process.h"
#include "support/temp_dir.h"
#include "tests/subtitles/captions.h"

namespace tarnwick::test {
namespace {

constexpr std::uint64_t kBase = 10 * 90000;  // the first caption's PTS: the run's time base

ProcessResult ffmpeg(std::vector<std::string> args) {
  args.insert(args.begin(), {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "warning", "-y"});
  return runProcess(args);
}

// Subtitles as ffprobe reports them: pts in seconds, the display times in ms.
struct ProbedFrame {
  double pts = 0;
  long long start = 0, end = 0;
  int rects = 0;
};

std::vector<ProbedFrame> probeSubtitleFrames(const std::string& file) {
  ProcessResult r = runProcess({"ffprobe", "-v", "error", "-select_streams", "s:0", "-show_frames", "-show_entries",
                                "subtitle=pts_time,start_display_time,end_display_time,num_rects",
                                "-of", "csv=p=0", file});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ProbedFrame> frames;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    ProbedFrame f;
    char c1, c2, c3;
    std::istringstream fields(line);
    if (fields >> f.pts >> c1 >> f.start >> c2 >> f.end >> c3 >> f.rects) frames.push_back(f);
  }
  return frames;
}

// Every frame of the input's subtitles overlaid on black, as RGB bytes.
Bytes overlayFrames(const std::string& input, const std::string& out, int seconds, const char* background) {
  ProcessResult r = ffmpeg({"-f", "lavfi", "-i", std::string("color=c=") + background + ":s=720x576:r=10", "-i", input,
                            "-filter_complex", "[0:v][1:s:0]overlay=format=rgb,format=rgb24", "-t",
                            std::to_string(seconds), "-f", "rawvideo", out});
  EXPECT_EQ(r.status, 0) << r.err;
  return readFile(out);
}

// Eight-bit captions: two fields, long runs and "to the end of the line", a
// forced one, one without a stop command (the next one ends it) and one
// whose run-length data spans several PGS segments. `stopAll` gives the third
// a stop command at the next one's start: ffmpeg never shows a caption
// without one, so its picture is compared in that form.
std::vector<TimedUnit> eightBitCaptions(bool stopAll = false) {
  SpuOptions o;
  o.eightBit = true;
  fillTestPalette(o);
  std::vector<TimedUnit> units;
  // Stop delays are multiples of 45 units (512 ms), which ffmpeg's
  // millisecond display times hold exactly.
  o.stopDelay = 90;
  units.push_back({kBase, buildSpu(captionBitmap(100, 400, 420, 80, 256, 0), o)});
  o.forced = true;
  o.stopDelay = 45;
  units.push_back({kBase + 2 * 90000 + 4500, buildSpu(captionBitmap(60, 60, 200, 40, 256, 1), o)});
  o.forced = false;
  o.stopDelay = stopAll ? std::optional<std::uint16_t>(180) : std::nullopt;
  units.push_back({kBase + 4 * 90000 + 4500, buildSpu(captionBitmap(300, 450, 300, 100, 256, 2), o)});
  o.stopDelay = 135;
  units.push_back({kBase + 4 * 90000 + 4500 + 180 * kDelayUnitTicks, buildSpu(captionBitmap(10, 20, 700, 400, 256, 3, true), o)});
  return units;
}

class PgsPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!onPath("ffmpeg") || !onPath("ffprobe")) GTEST_SKIP() << "ffmpeg is not on PATH";
  }
  TempDir dir;
};

TEST_F(PgsPeerTest, EightBitCaptionsMatchFfmpegsOwnDecoding) {
  const std::vector<TimedUnit> units = eightBitCaptions();
  ASSERT_GT(units.back().unit.size(), 65536u);
  writeFile(dir / "sub.evo", subpictureProgramStream(units, 0x20));
  // At 576 lines ffmpeg reads PGS colours with the same matrix as HD DVD
  // subpictures, so the pixels can be compared exactly.
  Converted c = convertUnits(units, {{720, 576}, static_cast<std::uint32_t>(kBase), std::nullopt});
  EXPECT_EQ(c.log, std::vector<std::string>{});
  ASSERT_EQ(c.captions, units.size());
  writeFile(dir / "sub.sup", c.pgs);

  ProcessResult decode = runProcess({"ffprobe", "-v", "warning", "-show_frames", dir / "sub.sup"});
  EXPECT_EQ(decode.status, 0);
  EXPECT_EQ(decode.err, "") << "ffmpeg complained about our PGS";

  // Each caption: ffmpeg's from the program stream, ours as a showing and a
  // clearing display set.
  const std::vector<ProbedFrame> theirs = probeSubtitleFrames(dir / "sub.evo");
  const std::vector<ProbedFrame> ours = probeSubtitleFrames(dir / "sub.sup");
  ASSERT_EQ(theirs.size(), units.size());
  ASSERT_EQ(ours.size(), 2 * units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    SCOPED_TRACE("caption " + std::to_string(i));
    const ProbedFrame& shown = ours[2 * i];
    const ProbedFrame& cleared = ours[2 * i + 1];
    EXPECT_EQ(shown.rects, 1);
    EXPECT_EQ(cleared.rects, 0);
    const double theirStart = (theirs[i].pts + theirs[i].start / 1000.0) * 90000 - kBase;
    EXPECT_NEAR(shown.pts * 90000, theirStart, 1.0);
    if (theirs[i].end > 0 && theirs[i].end != 4294967295LL) {
      const double theirEnd = (theirs[i].pts + theirs[i].end / 1000.0) * 90000 - kBase;
      EXPECT_NEAR(cleared.pts * 90000, theirEnd, 1.0);
    } else {
      // No stop command: the next caption ends it.
      EXPECT_NEAR(cleared.pts * 90000, (theirs[i + 1].pts * 90000) - kBase, 1.0);
    }
  }

  writeFile(dir / "stopped.evo", subpictureProgramStream(eightBitCaptions(true), 0x20));
  const Bytes a = overlayFrames(dir / "stopped.evo", dir / "theirs.rgb", 10, "black");
  const Bytes b = overlayFrames(dir / "sub.sup", dir / "ours.rgb", 10, "black");
  ASSERT_EQ(a.size(), 100u * 720 * 576 * 3);
  const std::size_t frameSize = 720 * 576 * 3;
  int captionFrames = 0;
  for (std::size_t f = 0; f < 100; ++f) {
    const auto at = a.begin() + static_cast<std::ptrdiff_t>(f * frameSize);
    const bool lit = std::any_of(at, at + static_cast<std::ptrdiff_t>(frameSize), [](std::uint8_t v) { return v != 0; });
    captionFrames += lit;
    ASSERT_TRUE(std::equal(at, at + static_cast<std::ptrdiff_t>(frameSize), b.begin() + static_cast<std::ptrdiff_t>(f * frameSize)))
        << "frame " << f << " differs";
  }
  EXPECT_GT(captionFrames, 40);
}

// Two-bit captions in the DVD and the HD DVD header forms. Their colours come
// from our default table, ffmpeg's from a guess of its own, so the shapes are
// compared: on a blue frame, which pixels each decoder covers.
TEST_F(PgsPeerTest, TwoBitCaptionsKeepTheirShapeInFfmpeg) {
  SpuOptions o;
  o.contrast = {0, 15, 8, 15};
  o.stopDelay = 90;
  std::vector<TimedUnit> units;
  units.push_back({kBase, buildSpu(captionBitmap(40, 420, 600, 60, 4, 0), o)});
  o.hdHeader = true;
  o.toLineEnd = false;
  units.push_back({kBase + 2 * 90000 + 4500, buildSpu(captionBitmap(200, 100, 320, 90, 4, 1), o)});
  writeFile(dir / "sub.vob", subpictureProgramStream(units, 0x21));
  Converted c = convertUnits(units, {{720, 576}, static_cast<std::uint32_t>(kBase), std::nullopt});
  EXPECT_EQ(c.log, std::vector<std::string>{
                       "   The 2-bit subpicture stream carries no colour table: the default grey ramp is used"});
  ASSERT_EQ(c.captions, units.size());
  writeFile(dir / "sub.sup", c.pgs);

  const std::vector<ProbedFrame> theirs = probeSubtitleFrames(dir / "sub.vob");
  const std::vector<ProbedFrame> ours = probeSubtitleFrames(dir / "sub.sup");
  ASSERT_EQ(theirs.size(), 2u);
  ASSERT_EQ(ours.size(), 4u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_NEAR(ours[2 * i].pts * 90000, theirs[i].pts * 90000 - kBase, 1.0);
    EXPECT_NEAR(ours[2 * i + 1].pts * 90000, (theirs[i].pts + theirs[i].end / 1000.0) * 90000 - kBase, 1.0);
  }

  const Bytes a = overlayFrames(dir / "sub.vob", dir / "theirs.rgb", 5, "blue");
  const Bytes b = overlayFrames(dir / "sub.sup", dir / "ours.rgb", 5, "blue");
  ASSERT_EQ(a.size(), 50u * 720 * 576 * 3);
  ASSERT_EQ(b.size(), a.size());
  // The frame's corner, where no caption lies, gives the background colour.
  const auto background = [](const Bytes& f, std::size_t px) {
    return f[px] == f[0] && f[px + 1] == f[1] && f[px + 2] == f[2];
  };
  std::size_t covered = 0;
  for (std::size_t px = 0; px < a.size(); px += 3) {
    const bool theirsCovered = !background(a, px);
    const bool oursCovered = !background(b, px);
    ASSERT_EQ(theirsCovered, oursCovered) << "frame " << px / (720 * 576 * 3) << ", pixel " << px / 3 % (720 * 576);
    covered += oursCovered;
  }
  // Both captions fill most of their areas for ten frames each, and less
  // than a tenth of all frames.
  EXPECT_GT(covered, 10u * 560 * 50 + 10u * 290 * 80);
  EXPECT_LT(covered, a.size() / 3 / 10);
}

// At the default 1920×1080, mkvmerge takes our file as PGS and mkvextract
// gives the same bytes back, fragments of the large object included.
TEST_F(PgsPeerTest, MkvmergeMuxesItAsPgsAndMkvextractGivesTheBytesBack) {
  if (!onPath("mkvmerge") || !onPath("mkvextract")) GTEST_SKIP() << "MKVToolNix is not on PATH";
  Converted c = convertUnits(eightBitCaptions(), {{}, static_cast<std::uint32_t>(kBase), std::nullopt});
  ASSERT_EQ(c.captions, 4u);
  writeFile(dir / "sub.sup", c.pgs);
  ProcessResult probe = runProcess({"ffprobe", "-v", "warning", "-show_frames", dir / "sub.sup"});
  EXPECT_EQ(probe.status, 0);
  EXPECT_EQ(probe.err, "");

  ProcessResult mux = runProcess({"mkvmerge", "-q", "-o", dir / "sub.mkv", dir / "sub.sup"});
  ASSERT_EQ(mux.status, 0) << mux.out << mux.err;
  ProcessResult identify = runProcess({"mkvmerge", "-J", dir / "sub.mkv"});
  EXPECT_NE(identify.out.find("\"codec_id\": \"S_HDMV/PGS\""), std::string::npos) << identify.out;
  ProcessResult extract = runProcess({"mkvextract", "-q", dir / "sub.mkv", "tracks", "0:" + dir / "back.sup"});
  ASSERT_EQ(extract.status, 0) << extract.out << extract.err;
  EXPECT_TRUE(readFile(dir / "back.sup") == c.pgs);
}

// A 1280×720 VC-1 title with an 8-bit subpicture stream (sub01) whose
// captions sit on lines `eightBitLine` to `eightBitLine` + 29 of the
// subpicture plane, and a 2-bit one (sub00, DVD header form) on lines
// 900-939; four captions each, in time order.
std::vector<TimedUnit> writeTitle720p(const std::string& path, int eightBitLine) {
  SpuOptions eight;
  eight.eightBit = true;
  fillTestPalette(eight);
  eight.stopDelay = 90;
  SpuOptions two;
  two.stopDelay = 45;  // times in whole ms, as Matroska keeps them (see eightBitCaptions)
  PsBuilder ps;
  ps.packHeader(kBase - 9000).vc1(vc1StreamStart(1280, 720), kBase, kBase - 3003);
  std::vector<TimedUnit> eightBit;
  for (int i = 0; i < 4; ++i) {
    const std::uint64_t t = kBase + 9000 + static_cast<std::uint64_t>(i) * 2 * 90000;
    eightBit.push_back({t, buildSpu(captionBitmap(320 + 40 * i, eightBitLine, 640, 30, 256, i), eight)});
    addSpuPackets(ps, 0x21, eightBit.back().unit, t);
    addSpuPackets(ps, 0x20, buildSpu(captionBitmap(600, 900, 720, 40, 4, i), two), t + 45000);
  }
  ps.raw({0x00, 0x00, 0x01, 0xB9});
  ps.writeTo(path);
  return eightBit;
}

std::string sizeOf(const std::string& sup) {
  return runProcess({"ffprobe", "-v", "error", "-show_entries", "stream=width,height", "-of", "csv=p=0", sup}).out;
}

// HD DVD places subpictures on a 1920×1080 plane that the player scales with
// the video: on a 720p title, a caption at line 960 is at the bottom of the
// picture, not outside it. Both streams become PGS on a 1920×1080 canvas
// (players scale it to the video in turn), every caption where its unit put
// it; mkvmerge takes both, and tarnwick-cli mkv's tracks give the same bytes
// back.
TEST_F(PgsPeerTest, CaptionsBelowLine720OfA720pTitleStayOnTheSubpicturePlane) {
  const std::vector<TimedUnit> units = writeTitle720p(dir / "t.evo", 960);
  std::filesystem::create_directory(dir / "out");
  ProcessResult demux = runProcess({TARNWICK_CLI, "demux", "--pgs", "--streams", "sub00,sub01", "-o", dir / "out", dir / "t.evo"});
  ASSERT_EQ(demux.status, 0) << demux.out << demux.err;
  EXPECT_NE(demux.out.find("Size = 1280x720"), std::string::npos) << demux.out;
  EXPECT_EQ(demux.out.find("Caption at"), std::string::npos) << "no caption was cut or skipped:\n" << demux.out;
  const std::string two = dir / "out/t.Subpicture.00.sup", eight = dir / "out/t.Subpicture.01.sup";
  for (const std::string& sup : {two, eight}) {
    SCOPED_TRACE(sup);
    EXPECT_EQ(sizeOf(sup), "1920,1080\n");
    ProcessResult decode = runProcess({"ffprobe", "-v", "warning", "-show_frames", sup});
    EXPECT_EQ(decode.status, 0);
    EXPECT_EQ(decode.err, "") << "ffmpeg complained about our PGS";
    const std::vector<ProbedFrame> frames = probeSubtitleFrames(sup);
    ASSERT_EQ(frames.size(), 8u);
    for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].rects, i % 2 == 0 ? 1 : 0) << "display set " << i;
  }
  // The 8-bit captions where their units drew them, less the bitmap's
  // transparent lines at the top and the bottom.
  std::ifstream in(eight, std::ios::binary);
  LinesSink log;
  std::vector<Caption> back;
  readPgs(in, log, [&](const Caption& c) { back.push_back(c); });
  EXPECT_EQ(log.lines, std::vector<std::string>{});
  ASSERT_EQ(back.size(), units.size());
  for (std::size_t i = 0; i < back.size(); ++i) {
    EXPECT_EQ(std::make_tuple(back[i].x, back[i].y, back[i].width, back[i].height),
              std::make_tuple(320 + 40 * static_cast<int>(i), 962, 640, 26));
    EXPECT_EQ(back[i].start, units[i].pts - kBase);
  }

  if (!onPath("mkvmerge") || !onPath("mkvextract")) GTEST_SKIP() << "MKVToolNix is not on PATH";
  std::filesystem::create_directory(dir / "mkv");
  ProcessResult mkv = runProcess({TARNWICK_CLI, "mkv", "--streams", "sub00,sub01", "-o", dir / "mkv", dir / "t.evo"});
  ASSERT_EQ(mkv.status, 0) << mkv.out << mkv.err;
  ProcessResult identify = runProcess({"mkvmerge", "-J", dir / "mkv/t.mkv"});
  std::size_t tracks = 0;
  for (std::size_t at = 0; (at = identify.out.find("\"codec_id\": \"S_HDMV/PGS\"", at)) != std::string::npos; ++at) ++tracks;
  EXPECT_EQ(tracks, 2u) << identify.out;
  ProcessResult extract = runProcess({"mkvextract", "-q", dir / "mkv/t.mkv", "tracks", "0:" + dir / "back0.sup",
                                      "1:" + dir / "back1.sup"});
  ASSERT_EQ(extract.status, 0) << extract.out << extract.err;
  EXPECT_TRUE(readFile(dir / "back0.sup") == readFile(two));
  EXPECT_TRUE(readFile(dir / "back1.sup") == readFile(eight));
}

// A DVD's subpictures cover the full frame of its TV system even over a
// half-size picture: on a 352×288 title, a caption at line 500 is near the
// bottom of the 720×576 frame the player shows.
TEST_F(PgsPeerTest, ADvdsCaptionsBelowItsHalfSizePictureStayOnTheFullFrame) {
  // An MPEG-2 sequence header: 352×288, 4:3, 25 frames a second.
  const Bytes sequence = {0x00, 0x00, 0x01, 0xB3, 0x16, 0x01, 0x20, 0x23, 0x00, 0x0F, 0xA0, 0x00,
                          0x00, 0x00, 0x01, 0x00, 0x00, 0x08, 0xC0, 0x00};
  SpuOptions o;
  o.stopDelay = 45;
  PsBuilder ps;
  ps.packHeader(kBase - 9000).pes(0xE0, sequence, {.pts = kBase});
  for (int i = 0; i < 2; ++i)
    addSpuPackets(ps, 0x20, buildSpu(captionBitmap(100, 500, 400, 40, 4, i), o), kBase + 9000 + static_cast<std::uint64_t>(i) * 90000);
  ps.raw({0x00, 0x00, 0x01, 0xB9});
  ps.writeTo(dir / "t.vob");
  std::filesystem::create_directory(dir / "out");
  ProcessResult demux = runProcess({TARNWICK_CLI, "demux", "--pgs", "--streams", "sub00", "-o", dir / "out", dir / "t.vob"});
  ASSERT_EQ(demux.status, 0) << demux.out << demux.err;
  EXPECT_NE(demux.out.find("size = 352x288"), std::string::npos) << demux.out;
  EXPECT_EQ(demux.out.find("Caption at"), std::string::npos) << demux.out;
  const std::string sup = dir / "out/t.Subpicture.00.sup";
  EXPECT_EQ(sizeOf(sup), "720,576\n");
  const std::vector<ProbedFrame> frames = probeSubtitleFrames(sup);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0].rects, 1);
  EXPECT_EQ(frames[2].rects, 1);
}

// Captions past even the subpicture plane: each is said, the stream gives
// none, and the run says so and fails instead of ending "Done." with an
// empty file. The 2-bit stream beside it is written; an MKV run stops
// before mkvmerge would meet the empty file, and leaves nothing behind.
TEST_F(PgsPeerTest, AStreamThatGivesNoCaptionFailsTheRunAndLeavesNoFile) {
  writeTitle720p(dir / "t.evo", 1100);
  std::filesystem::create_directory(dir / "out");
  ProcessResult demux = runProcess({TARNWICK_CLI, "demux", "--pgs", "--streams", "sub00,sub01", "-o", dir / "out", dir / "t.evo"});
  EXPECT_EQ(demux.status, 1);
  const std::string empty = dir / "out/t.Subpicture.01.sup";
  const std::string said = "Subpicture stream 1 gave no caption (4 units skipped): " + empty + " removed.";
  EXPECT_NE(demux.err.find(said), std::string::npos) << demux.err;
  EXPECT_NE(demux.out.find("   Caption at 0:00:00.100 (columns 320-959, lines 1100-1129) skipped: it lies outside the "
                           "1920x1080 subpicture plane"),
            std::string::npos)
      << demux.out;
  EXPECT_EQ(demux.out.find("Done.", demux.out.find("Creating")), std::string::npos) << demux.out;
  EXPECT_FALSE(std::filesystem::exists(empty));
  EXPECT_EQ(probeSubtitleFrames(dir / "out/t.Subpicture.00.sup").size(), 8u);

  if (!onPath("mkvmerge")) GTEST_SKIP() << "MKVToolNix is not on PATH";
  std::filesystem::create_directory(dir / "mkv");
  ProcessResult mkv = runProcess({TARNWICK_CLI, "mkv", "--streams", "sub00,sub01", "-o", dir / "mkv", dir / "t.evo"});
  EXPECT_EQ(mkv.status, 1);
  EXPECT_NE(mkv.err.find("Subpicture stream 1 gave no caption (4 units skipped)"), std::string::npos) << mkv.err;
  EXPECT_EQ(mkv.out.find("Muxing"), std::string::npos) << "mkvmerge ran:\n" << mkv.out;
  EXPECT_TRUE(std::filesystem::is_empty(dir / "mkv"));
}

}  // namespace
}  // namespace tarnwick::test
