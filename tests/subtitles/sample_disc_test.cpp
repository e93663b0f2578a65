// The sample disc's two subpicture streams, demuxed by tarnwick-cli into SP
// records and converted to PGS, against ffmpeg reading the EVO files itself:
// the same captions in the same order at the same times, and the same
// covered pixels on the frame.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "subtitles/sp_records.h"
#include "support/run_process.h"
#include "support/temp_dir.h"
#include "tests/subtitles/captions.h"

namespace tarnwick::test {
namespace {

struct Probed {
  double pts = 0;
  long long end = 0;  // ms; 0 when the unit had no stop command
};

std::vector<Probed> probe(const std::string& file, int stream) {
  ProcessResult r = runProcess({"ffprobe", "-v", "error", "-select_streams", "s:" + std::to_string(stream), "-show_frames",
                                "-show_entries", "subtitle=pts_time,end_display_time", "-of", "csv=p=0", file});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<Probed> out;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    Probed p;
    char comma;
    std::istringstream fields(line);
    if (fields >> p.pts >> comma >> p.end) out.push_back(p);
  }
  return out;
}

// Luma of each frame (10 a second, from 0 on the input's own time stamps,
// moved by `offset` seconds) with the subtitles over a dark blue frame.
Bytes overlayLuma(const std::string& input, int stream, const std::string& out, const std::string& offset) {
  ProcessResult r = runProcess({"ffmpeg", "-nostdin", "-v", "error", "-y", "-copyts", "-f", "lavfi", "-i",
                                "color=c=0x203060:s=1920x1080:r=10", "-itsoffset", offset, "-i", input, "-filter_complex",
                                "[0:v][1:s:" + std::to_string(stream) + "]overlay=format=rgb,format=gray", "-t", "4.5",
                                "-f", "rawvideo", out});
  EXPECT_EQ(r.status, 0) << r.err;
  return readFile(out);
}

TEST(SampleDisc, SubpictureStreamsBecomeThePgsFfmpegAgreesWith) {
  for (const char* tool : {"ffmpeg", "ffprobe"})
    if (!onPath(tool)) GTEST_SKIP() << tool << " is not on PATH";
  TempDir dir;
  ProcessResult made = runProcess({TARNWICK_MKDISC, dir / "DISC"});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string f1 = dir / "DISC/HVDVD_TS/FEATURE_1.EVO", f2 = dir / "DISC/HVDVD_TS/FEATURE_2.EVO";
  std::filesystem::create_directory(dir / "out");
  ProcessResult demux = runProcess({TARNWICK_CLI, "demux", "-o", dir / "out", f1});
  ASSERT_EQ(demux.status, 0) << demux.err;
  // The same streams converted while they are demuxed.
  std::filesystem::create_directory(dir / "pgs");
  ProcessResult direct = runProcess({TARNWICK_CLI, "demux", "--pgs", "--streams", "sub00,sub01", "-o", dir / "pgs", f1});
  ASSERT_EQ(direct.status, 0) << direct.err;
  // ffmpeg reads the feature as one program stream: both files joined.
  Bytes whole = readFile(f1);
  const Bytes second = readFile(f2);
  whole.insert(whole.end(), second.begin(), second.end());
  writeFile(dir / "whole.evo", whole);

  for (int stream = 0; stream < 2; ++stream) {
    SCOPED_TRACE(stream == 0 ? "2-bit stream" : "8-bit stream");
    std::ifstream records(dir / ("out/FEATURE_1_FEATURE_2.Subpicture.0" + std::to_string(stream) + ".sup"), std::ios::binary);
    ASSERT_TRUE(records);
    LinesSink log;
    Bytes pgs;
    PgsConverter converter([&](const std::uint8_t* p, std::size_t n) { pgs.insert(pgs.end(), p, p + n); }, log);
    readSpRecords(records, log, [&](const std::uint8_t* u, std::size_t n, std::uint32_t t) { converter.addUnit(u, n, t); });
    converter.finish();
    const std::string sup = dir / ("sub" + std::to_string(stream) + ".sup");
    writeFile(sup, pgs);
    const Bytes demuxed = readFile(dir / ("pgs/FEATURE_1_FEATURE_2.Subpicture.0" + std::to_string(stream) + ".sup"));
    EXPECT_TRUE(demuxed == pgs) << "demux --pgs wrote " << demuxed.size() << " bytes, the SP records give " << pgs.size();
    EXPECT_EQ(log.lines, stream == 0 ? std::vector<std::string>{"   The 2-bit subpicture stream carries no colour table: "
                                                                "the default grey ramp is used"}
                                     : std::vector<std::string>{});

    ProcessResult decoded = runProcess({"ffprobe", "-v", "warning", "-show_frames", sup});
    EXPECT_EQ(decoded.status, 0);
    EXPECT_EQ(decoded.err, "") << "ffmpeg complained about our PGS";
    const std::vector<Probed> theirs = probe(dir / "whole.evo", stream);
    const std::vector<Probed> ours = probe(sup, 0);
    ASSERT_GE(theirs.size(), 5u);  // every kind, the plain one twice
    ASSERT_EQ(ours.size(), 2 * theirs.size());
    // Our time line starts at the run's earliest PTS; ffmpeg's at the file's.
    const double base = theirs[0].pts * 90000 - ours[0].pts * 90000;
    for (std::size_t i = 0; i < theirs.size(); ++i) {
      SCOPED_TRACE("caption " + std::to_string(i));
      EXPECT_NEAR(ours[2 * i].pts * 90000, theirs[i].pts * 90000 - base, 1.0);
      const double end = theirs[i].end != 0 ? (theirs[i].pts + theirs[i].end / 1000.0) * 90000
                                             : i + 1 < theirs.size() ? theirs[i + 1].pts * 90000
                                                                     : theirs[i].pts * 90000 + kOpenCaptionTicks;
      // ffmpeg keeps the stop delay in whole milliseconds: a tick is 1/90 of one.
      EXPECT_NEAR(ours[2 * i + 1].pts * 90000, end - base, 90.0);
    }

    // Each frame: the pixels each side covers. ffmpeg never shows a caption
    // without a stop command, so there ours must cover something and the
    // frame is not compared.
    // Both moved by 50 ms, so that no caption starts or ends on a frame's time.
    const Bytes a = overlayLuma(dir / "whole.evo", stream, dir / "theirs.gray", "0.05");
    const Bytes b = overlayLuma(sup, 0, dir / "ours.gray", std::to_string(base / 90000 + 0.05));
    const std::size_t frame = 1920 * 1080;
    ASSERT_EQ(a.size(), 45 * frame);
    ASSERT_EQ(b.size(), a.size());
    int comparedWithCaption = 0, openCaptionFrames = 0;
    for (std::size_t f = 0; f < 45; ++f) {
      const double t = f / 10.0 - 0.05;
      bool open = false;
      for (std::size_t i = 0; i < theirs.size(); ++i) {
        const double until = i + 1 < theirs.size() ? theirs[i + 1].pts : theirs[i].pts + kOpenCaptionTicks / 90000.0;
        open |= theirs[i].end == 0 && t >= theirs[i].pts && t < until;
      }
      std::size_t coveredA = 0, coveredB = 0, differ = 0;
      for (std::size_t px = 0; px < frame; ++px) {
        const bool ca = a[f * frame + px] != a[0], cb = b[f * frame + px] != b[0];
        coveredA += ca, coveredB += cb, differ += ca != cb;
      }
      if (open) {
        EXPECT_GT(coveredB, 0u) << "frame " << f;
        ++openCaptionFrames;
        continue;
      }
      EXPECT_EQ(differ, 0u) << "frame " << f << ": ffmpeg covers " << coveredA << " pixels, we cover " << coveredB;
      comparedWithCaption += coveredA > 0;
    }
    EXPECT_GT(comparedWithCaption, 10);
    EXPECT_GT(openCaptionFrames, 2);
  }
}

}  // namespace
}  // namespace tarnwick::test
