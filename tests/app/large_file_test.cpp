// A feature file past 4 GiB, kept small on disk as a sparse file: a hole of
// zeros, then real packs after the 4 GiB mark. Sizes, positions, progress,
// the fast-check stop and the remaining time must not wrap at 2^32.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "app/model_window.h"
#include "app/tf_main.h"
#include "support/builders.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;

constexpr std::int64_t kPacksAt = (std::int64_t{1} << 32) + 6 * 0x100000;  // 4 GiB + 6 MiB

class LargeFileTest : public ::testing::Test {
 protected:
  LargeFileTest() : main(window) {
    main.FormActivate();
    fs::create_directories(dir.path() / "out");
    PsBuilder b;
    b.packHeader().vc1(video, 900000).ac3(0xC2, audio, 903000).finishPack();
    const int fd = ::open(path().c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::pwrite(fd, b.bytes().data(), b.size(), kPacksAt), static_cast<ssize_t>(b.size()));
    ::close(fd);
    window.onStatusPanel = [this](int panel, const std::string& text) {
      if (panel == 1 && text.find("Mbytes") != std::string::npos) progress.push_back(text);
    };
    window.setChecked(ControlId::cbContinue, false);
    main.WMDropFiles({path()});
  }
  std::string path() const { return (dir.path() / "BIG_1.EVO").string(); }

  TempDir dir;
  ModelWindow window;
  TfMain main;
  Bytes video = {0x00, 0x00, 0x01, 0x0D, 0x11, 0x22, 0x33, 0x44};
  Bytes audio = pattern(300, 7);
  std::vector<std::string> progress;
};

TEST_F(LargeFileTest, PacksPastFourGibibytesAreReadAndDemuxed) {
  const std::int64_t size = kPacksAt + 2048;
  ASSERT_EQ(static_cast<std::int64_t>(fs::file_size(path())), size);

  // The fast check stops after 300,000,000 bytes, not at a wrapped position.
  main.bCheckClick();
  EXPECT_THAT(window.logText(), Contains("File size: 4102 Mbytes."));
  EXPECT_FALSE(window.enabled(videoBox(0)));
  ASSERT_FALSE(progress.empty());
  EXPECT_THAT(progress.back(), HasSubstr(" 284/4102 Mbytes"));

  window.setChecked(ControlId::cbFastCheck, false);
  progress.clear();
  main.bCheckClick();
  EXPECT_THAT(window.logText(), Contains("VC-1 video stream 0 found!"));
  EXPECT_THAT(window.logText(), Contains("   First PTS = 000DBBA0"));
  EXPECT_TRUE(window.checked(audioBox(2)));
  // The last progress point is past 4 GiB, its remaining time a few seconds.
  ASSERT_FALSE(progress.empty());
  const std::regex last(R"(^ (\d+)/4102 Mbytes, Remaining time: 0:00:\d\d$)");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(progress.back(), m, last)) << progress.back();
  EXPECT_EQ(m[1], "4100");

  window.setText(ControlId::eWorkdir, (dir.path() / "out").string());
  main.bDemuxClick();
  EXPECT_EQ(readFile((dir.path() / "out" / "BIG_1.VC-1.stream.0.mpv").string()), video);
  EXPECT_EQ(readFile((dir.path() / "out" / "BIG_1.DD+.stream.02.mpa").string()), audio);

  // The rebuild keeps the pack after the mark (the hole holds no pack, and
  // says so), with the first audio stream numbered 0, and its progress
  // counts past 4 GiB too.
  progress.clear();
  main.bRebuildClick();
  const fs::path rebuilt = dir.path() / "out" / "BIG_1.rebuilt.EVO";
  ASSERT_TRUE(fs::exists(rebuilt)) << ::testing::PrintToString(window.logText());
  EXPECT_THAT(window.logText(), Contains("BIG_1.EVO: no pack header at byte 0; 4301258752 bytes left out."));
  PsBuilder pack;
  pack.packHeader().vc1(video, 900000).ac3(0xC0, audio, 903000).finishPack();
  EXPECT_TRUE(readFile(rebuilt.string()) == pack.bytes());
  ASSERT_FALSE(progress.empty());
  EXPECT_THAT(progress.back(), HasSubstr("Rebuilding BIG_1.EVO 4100/4102 Mbytes, Remaining time: 0:00:"));
}

}  // namespace
}  // namespace tarnwick::test
