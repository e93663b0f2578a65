// `subs --png`: one PNG per caption, named by its start time, from a PGS
// file and from SP records; ffmpeg reads the pictures back.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "app/cli/subs_command.h"
#include "support/run_process.h"
#include "support/temp_dir.h"
#include "tests/subtitles/captions.h"

namespace tarnwick::test {
namespace {

std::set<std::string> filesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

TEST(SubsPng, WritesOnePicturePerCaptionNamedByItsStart) {
  SpuOptions o;
  o.eightBit = true;
  fillTestPalette(o);
  // Entry 9 white, entry 1 pure black; the rest as the test palette has them.
  o.palette[9] = {235, 128, 128};
  o.palette[1] = {16, 128, 128};
  o.stopDelay = 40;
  const SpuBitmap first = captionBitmap(10, 10, 120, 30, 256, 0);
  SpuBitmap second = captionBitmap(10, 10, 90, 20, 2, 1);
  for (auto& p : second.pixels) p = p ? 9 : 0;
  const std::vector<TimedUnit> units = {{90000, buildSpu(first, o)}, {90000 + 5 * 90000 + 45, buildSpu(second, o)},
                                        {90000 + 3600 * 90000, buildSpu(first, o)}};
  const Converted c = convertUnits(units, {{}, 90000, std::nullopt});
  TempDir dir;
  writeFile(dir / "s.sup", c.pgs);
  LinesSink log;
  ASSERT_EQ(runSubsPng(dir / "s.sup", dir / "png", log), 0);
  EXPECT_EQ(log.lines, std::vector<std::string>{"3 captions written to " + dir / "png"});
  EXPECT_EQ(filesIn(dir / "png"), (std::set<std::string>{"0-00-00.000.png", "0-00-05.000.png", "1-00-00.000.png"}));

  // The same names from the SP records of the same units.
  std::string records;
  for (const TimedUnit& u : units) {
    const std::uint32_t t = static_cast<std::uint32_t>(u.pts - 90000);
    records += "SP";
    for (int k = 0; k < 4; ++k) records += static_cast<char>(t >> (8 * k));
    records += std::string(4, '\0');
    records.append(u.unit.begin(), u.unit.end());
  }
  writeFile(dir / "s.spu", Bytes(records.begin(), records.end()));
  LinesSink spLog;
  ASSERT_EQ(runSubsPng(dir / "s.spu", dir / "sp", spLog), 0);
  EXPECT_EQ(filesIn(dir / "sp"), filesIn(dir / "png"));

  if (!onPath("ffmpeg")) GTEST_SKIP() << "ffmpeg is not on PATH";
  // The second caption, cropped to the lines that hold pixels (the frame's
  // top and bottom lines span the whole width): white where the bitmap has
  // pixels, transparent elsewhere.
  ProcessResult r = runProcess({"ffmpeg", "-nostdin", "-v", "error", "-i", dir / "png/0-00-05.000.png", "-f", "rawvideo",
                                "-pix_fmt", "rgba", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  const int w = 90, h = 20 - 4;
  ASSERT_EQ(r.out.size(), static_cast<std::size_t>(w * h * 4));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool on = second.pixels[static_cast<std::size_t>(y + 2) * 90 + x] != 0;
      const std::string px = r.out.substr(static_cast<std::size_t>((y * w + x) * 4), 4);
      if (on) {
        ASSERT_EQ(px, std::string("\xFF\xFF\xFF\xFF", 4)) << x << "," << y;
      } else {
        ASSERT_EQ(px[3], '\0') << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace tarnwick::test
