// A disc dropped on the window model: its titles listed with the main
// feature chosen, the commands run on the chosen title, from a disc folder
// and from a UDF image of the same disc. The loose EVO files, dropped as
// today, are the oracle for the bytes the title's commands write.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "app/model_window.h"
#include "app/settings.h"
#include "app/tf_main.h"
#include "support/builders.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The files a run wrote into `folder`: name → bytes.
std::map<std::string, std::string> written(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.is_regular_file() && entry.path().extension() != ".iso")
      files[entry.path().filename().string()] = contents(entry.path());
  return files;
}

class Host : public SettingsHost {
 public:
  SettingsStore& store() override { return memory; }
  Placement placement() const override { return {}; }
  void setPlacement(const Placement&) override {}
  MemorySettingsStore memory;
};

class DiscWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!onPath("ffmpeg")) GTEST_SKIP() << "ffmpeg is not on PATH (the sample disc's audio)";
    fs::create_directories(dir.path() / "discs");
    const ProcessResult made = runProcess({TARNWICK_MKDISC, (dir.path() / "discs" / "DISC").string(), "--seconds",
                                           "1", "--image", (dir.path() / "discs" / "disc.iso").string()});
    ASSERT_EQ(made.status, 0) << made.err;
  }

  // Read EVO and Demux of what the window holds, every stream ticked.
  static void readAndDemux(TfMain& main) {
    main.bCheckClick();
    main.bDemuxClick();
  }

  // The same file dropped loose on a fresh window, its outputs in `folder`.
  std::map<std::string, std::string> looseRun(const std::string& evo, const std::string& folder) {
    ModelWindow loose;
    TfMain main(loose);
    main.FormActivate();
    fs::create_directories(dir.path() / folder);
    loose.setText(ControlId::eWorkdir, (dir.path() / folder).string());
    main.WMDropFiles({(dir.path() / "discs" / "DISC" / "HVDVD_TS" / evo).string()});
    readAndDemux(main);
    return written(dir.path() / folder);
  }

  fs::path discs() const { return dir.path() / "discs"; }

  TempDir dir;
  ModelWindow window;
  Host host;
};

// The folder: three titles, the feature chosen and shown with its playlist;
// title 2 chosen, its tracks label the boxes (not the feature's), and Read
// EVO + Demux write its files beside the disc, the bytes of the loose EXTRA.EVO.
// An EVO dropped after it takes the chooser away; the disc's folder is kept.
TEST_F(DiscWindowTest, FolderTitlesChosenAndTitleTwoDemuxed) {
  TfMain main(window);
  main.setSettingsHost(&host);
  main.FormActivate();
  const std::string disc = (discs() / "DISC").string();
  main.WMDropFiles({disc});

  EXPECT_THAT(window.titles(), ElementsAre("1  The Sample Feature  0:00:02  (main feature)", "2  Making Of  0:00:01",
                                           "3  Trailer  0:00:01"));
  EXPECT_EQ(window.chosenTitle(), 0);
  EXPECT_EQ(window.text(ControlId::eEVOfile), (discs() / "DISC" / "HVDVD_TS" / "FEATURE_1.EVO").string());
  EXPECT_EQ(window.text(ControlId::eXPLfile), (discs() / "DISC" / "ADV_OBJ" / "VPLST000.XPL").string());
  EXPECT_TRUE(window.enabled(ControlId::bCheck));
  EXPECT_TRUE(window.enabled(ControlId::bReadXPL));

  main.chooseTitle(1);
  EXPECT_EQ(window.chosenTitle(), 1);
  EXPECT_EQ(window.text(ControlId::eEVOfile), (discs() / "DISC" / "HVDVD_TS" / "EXTRA.EVO").string());
  main.bReadXPLClick();
  // Title 2 has one audio track (English) and a German subtitle; the
  // feature's commentary and Japanese subtitle are not offered.
  EXPECT_THAT(window.caption(audioBox(0)), HasSubstr("English"));
  EXPECT_FALSE(window.enabled(audioBox(1)));
  EXPECT_THAT(window.caption(subBox(0)), HasSubstr("Deutsch"));
  EXPECT_FALSE(window.enabled(subBox(1)));

  main.chooseTitle(1);  // a title chosen again resets the lists as a new EVO does
  EXPECT_FALSE(window.enabled(audioBox(0)));
  readAndDemux(main);
  EXPECT_TRUE(window.enabled(ControlId::bRebuild));
  const auto fromDisc = written(discs());
  ASSERT_FALSE(fromDisc.empty());
  for (const auto& [name, bytes] : fromDisc) EXPECT_TRUE(name.starts_with("EXTRA.")) << name;
  EXPECT_EQ(fromDisc, looseRun("EXTRA.EVO", "loose"));

  main.WMDropFiles({(discs() / "DISC" / "HVDVD_TS" / "TRAILER.EVO").string()});
  EXPECT_TRUE(window.titles().empty());
  EXPECT_EQ(window.text(ControlId::eEVOfile), (discs() / "DISC" / "HVDVD_TS" / "TRAILER.EVO").string());
  main.FormClose();
  EXPECT_EQ(std::get<std::string>(host.memory.values().at("Discdir")), (discs() / "").string());
}

// The image: the boxes name the files inside it as the command line logs
// them; Read EVO + Demux of the feature (both its files) write beside the
// image the bytes of the loose FEATURE_1 + FEATURE_2 run, and Read XPL
// labels the boxes by the feature though the playlist is inside the image;
// its MKV is named after the title.
TEST_F(DiscWindowTest, ImageFeatureReadAndDemuxed) {
  TfMain main(window);
  main.FormActivate();
  const std::string image = (discs() / "disc.iso").string();
  main.WMDropFiles({image});

  ASSERT_EQ(window.titles().size(), 3u);
  EXPECT_EQ(window.chosenTitle(), 0);
  EXPECT_EQ(window.text(ControlId::eEVOfile), image + "/HVDVD_TS/FEATURE_1.EVO");
  EXPECT_EQ(window.text(ControlId::eXPLfile), image + "/ADV_OBJ/VPLST000.XPL");

  main.bReadXPLClick();
  EXPECT_THAT(window.caption(audioBox(1)), HasSubstr("English Director's Commentary"));
  EXPECT_THAT(window.caption(subBox(1)), HasSubstr("日本語"));
  // The playlist inside the image is listed as a loose one is.
  EXPECT_THAT(window.playlistMemo(), ::testing::Contains(HasSubstr("<Title ")));
  EXPECT_FALSE(window.playlistTree().empty());

  readAndDemux(main);
  const auto fromImage = written(discs());
  ASSERT_FALSE(fromImage.empty());
  for (const auto& [name, bytes] : fromImage) EXPECT_TRUE(name.starts_with("FEATURE_1_FEATURE_2.")) << name;
  EXPECT_EQ(fromImage, looseRun("FEATURE_1.EVO", "loose"));

  // The MKV of a disc is named after its title, as the command line names it.
  if (!onPath("mkvmerge")) return;
  main.bMkvClick();
  EXPECT_TRUE(fs::is_regular_file(discs() / "The Sample Feature.mkv"));
  EXPECT_FALSE(fs::exists(discs() / "FEATURE_1_FEATURE_2.mkv"));
}

// A DVD folder: its title set is the one title; the commands read and demux
// it, and Rebuild (for EVO sources) stays off, also after Demux gives the
// buttons back.
TEST(DiscWindowDvdTest, DvdTitleNeverOffersRebuild) {
  TempDir dir;
  fs::create_directories(dir.path() / "DVD" / "VIDEO_TS");
  PsBuilder b;
  b.packHeader(90000).systemHeader(1, 1);
  b.pes(0xE0, {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x01, 0xE0, 0x24, 0xFF, 0xFF, 0xE0, 0x18, 0x00, 0x00, 0x01, 0x00});
  b.ac3(0x80, pattern(400, 7), 90000);
  b.finishPack();
  writeFile((dir.path() / "DVD" / "VIDEO_TS" / "VTS_01_1.VOB").string(), b.bytes());
  ModelWindow window;
  TfMain main(window);
  main.FormActivate();
  main.WMDropFiles({(dir.path() / "DVD").string()});
  ASSERT_EQ(window.titles().size(), 1u);
  EXPECT_EQ(window.text(ControlId::eEVOfile), (dir.path() / "DVD" / "VIDEO_TS" / "VTS_01_1.VOB").string());
  EXPECT_FALSE(window.enabled(ControlId::bReadXPL));
  main.bCheckClick();
  EXPECT_TRUE(window.enabled(ControlId::bDemux));
  EXPECT_FALSE(window.enabled(ControlId::bRebuild));
  main.bDemuxClick();
  EXPECT_TRUE(window.enabled(ControlId::bDemux));
  EXPECT_FALSE(window.enabled(ControlId::bRebuild));
  EXPECT_FALSE(written(dir.path()).empty());
}

}  // namespace
}  // namespace tarnwick::test
