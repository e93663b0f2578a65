// Failing disks under a Demux: a small file system that fills up during the
// run, and a read-only one. Each run mounts a tmpfs of its own, which needs
// the right to mount (root, as the project's machines run the tests).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/model_window.h"
#include "app/tf_main.h"
#include "engine/file_io.h"
#include "support/builders.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

int openDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

class FaultTest : public ::testing::Test {
 protected:
  FaultTest() : main(window) {
    main.FormActivate();
    fs::create_directories(dir.path() / "HVDVD_TS");
    fs::create_directories(dir.path() / "disk");
    fs::create_directories(dir.path() / "out");
    PsBuilder b;
    for (int i = 0; b.size() < 3 * 0x100000; ++i)
      b.packHeader().vc1(pattern(1000, static_cast<std::uint8_t>(i)), 90000).ac3(0xC0, pattern(800, 3), 90000).finishPack();
    b.writeTo(evo());
    window.setChecked(ControlId::cbContinue, false);
    main.WMDropFiles({evo()});
    main.bCheckClick();
  }
  ~FaultTest() override {
    if (mounted_) ::umount2(disk().c_str(), MNT_DETACH);
  }
  std::string evo() const { return (dir.path() / "HVDVD_TS" / "FEATURE_1.EVO").string(); }
  std::string disk() const { return (dir.path() / "disk").string(); }
  // A tmpfs of `size` over disk(); false where this process may not mount.
  bool mountDisk(const char* options, unsigned long flags = 0) {
    if (::mount("tarnwick-test", disk().c_str(), "tmpfs", flags, options) != 0) {
      lastError_ = std::strerror(errno);
      return false;
    }
    mounted_ = true;
    return true;
  }

  TempDir dir;
  ModelWindow window;
  TfMain main;
  std::string lastError_;

 private:
  bool mounted_ = false;
};

TEST_F(FaultTest, DiskFullDuringDemux) {
  if (!mountDisk("size=1m")) GTEST_SKIP() << "cannot mount a small tmpfs here: " << lastError_;
  const int descriptors = openDescriptors();
  window.setText(ControlId::eWorkdir, disk());
  try {
    main.bDemuxClick();
    FAIL() << "a full disk went unnoticed";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(), StartsWith("Stream write error \"" + disk() + "/FEATURE_1."));
    EXPECT_THAT(error.what(), HasSubstr("No space left on device"));
  }
  // Every output closed, what was written kept, and nothing left running.
  EXPECT_EQ(openDescriptors(), descriptors);
  EXPECT_FALSE(main.scan().VideoSlots[0].output.has_value());
  EXPECT_FALSE(main.scan().AudioSlots[0].output.has_value());
  EXPECT_GT(fs::file_size(disk() + "/FEATURE_1.VC-1.stream.0.mpv") + fs::file_size(disk() + "/FEATURE_1.DD+.stream.00.mpa"),
            0u);
  EXPECT_FALSE(window.enabled(ControlId::bCancel));
  EXPECT_FALSE(main.busy());

  // The program goes on: the same Demux into a folder with room.
  window.setText(ControlId::eWorkdir, (dir.path() / "out").string());
  window.clearLog();
  main.bCheckClick();
  main.bDemuxClick();
  EXPECT_THAT(window.logText(), ::testing::Contains("Done."));
  EXPECT_GT(fs::file_size((dir.path() / "out" / "FEATURE_1.VC-1.stream.0.mpv").string()), 0x100000u);
}

TEST_F(FaultTest, DiskFullDuringRebuild) {
  if (!mountDisk("size=1m")) GTEST_SKIP() << "cannot mount a small tmpfs here: " << lastError_;
  const int descriptors = openDescriptors();
  window.setText(ControlId::eWorkdir, disk());
  try {
    main.bRebuildClick();
    FAIL() << "a full disk went unnoticed";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(), StartsWith("Stream write error \"" + disk() + "/FEATURE_1.rebuilt.EVO\". "));
  }
  EXPECT_EQ(openDescriptors(), descriptors);
  EXPECT_GT(fs::file_size(disk() + "/FEATURE_1.rebuilt.EVO"), 0u);
  EXPECT_FALSE(main.scan().VideoSlots[0].output.has_value());
  EXPECT_FALSE(window.enabled(ControlId::bCancel));
  EXPECT_FALSE(main.busy());
}

TEST_F(FaultTest, ReadOnlyOutputFolder) {
  if (!mountDisk("size=1m", MS_RDONLY)) GTEST_SKIP() << "cannot mount a read-only tmpfs here: " << lastError_;
  window.setText(ControlId::eWorkdir, disk());
  try {
    main.bDemuxClick();
    FAIL() << "a read-only folder went unnoticed";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(), StartsWith("Cannot create file \"" + disk() + "/FEATURE_1.VC-1.stream.0.mpv\". "));
    EXPECT_THAT(error.what(), HasSubstr("Read-only file system"));
  }
  EXPECT_FALSE(main.busy());
  EXPECT_TRUE(window.enabled(ControlId::bCheck));
}

}  // namespace
}  // namespace tarnwick::test
