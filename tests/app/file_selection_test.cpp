// Choosing files, the playlist location, the split-feature names and the
// stream lists with their button rule.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/file_names.h"
#include "app/model_window.h"
#include "app/tf_main.h"
#include "support/builders.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

using test::TempDir;

class FileSelectionTest : public ::testing::Test {
 protected:
  FileSelectionTest() : main(window) { main.FormActivate(); }
  ModelWindow window;
  TfMain main;
};

TEST_F(FileSelectionTest, DropFromADiscFolderFindsThePlaylist) {
  main.WMDropFiles({"/media/disc/HVDVD_TS/FEATURE_1.EVO"});
  EXPECT_EQ(window.text(ControlId::eEVOfile), "/media/disc/HVDVD_TS/FEATURE_1.EVO");
  EXPECT_TRUE(window.enabled(ControlId::bCheck));
  EXPECT_EQ(main.files().EvoFileName, "FEATURE_1.EVO");
  EXPECT_EQ(main.files().OutputBaseName, "FEATURE_1");
  EXPECT_EQ(main.files().EvoFolder, "/media/disc/HVDVD_TS/");
  EXPECT_EQ(window.text(ControlId::eXPLfile), "/media/disc/ADV_OBJ/VPLST000.XPL");
  EXPECT_TRUE(window.enabled(ControlId::bReadXPL));
}

TEST_F(FileSelectionTest, OtherFoldersOfferTheBarePlaylistName) {
  main.WMDropFiles({"/media/disc/hvdvd_ts/FEATURE_1.EVO"});  // letter case matters
  EXPECT_EQ(window.text(ControlId::eXPLfile), "VPLST000.XPL");
  EXPECT_FALSE(window.enabled(ControlId::bReadXPL));

  main.WMDropFiles({"/media/disc/HVDVD_TS/FEATURE_1.EVO"});
  main.WMDropFiles({"/tmp/movie.vob"});  // a playlist name known from before keeps Read XPL on
  EXPECT_EQ(window.text(ControlId::eEVOfile), "/tmp/movie.vob");
  EXPECT_EQ(window.text(ControlId::eXPLfile), "VPLST000.XPL");
  EXPECT_TRUE(window.enabled(ControlId::bReadXPL));
}

TEST_F(FileSelectionTest, DropAcceptsOnlyKnownExtensionsAndTakesTheFirstFile) {
  main.WMDropFiles({"/a/notes.txt"});
  EXPECT_EQ(window.text(ControlId::eEVOfile), "");
  EXPECT_FALSE(window.enabled(ControlId::bCheck));

  main.WMDropFiles({"/a/one.evo", "/a/two.EVO"});
  EXPECT_EQ(window.text(ControlId::eEVOfile), "/a/one.evo");

  main.WMDropFiles({"/disc/ADV_OBJ/VPLST000.xpl"});
  EXPECT_EQ(window.text(ControlId::eXPLfile), "/disc/ADV_OBJ/VPLST000.xpl");
  EXPECT_EQ(main.files().XplFolder, "/disc/ADV_OBJ/");
  EXPECT_EQ(main.files().EvoFolder, "/disc/HVDVD_TS/");  // the EVO dialog opens beside it
  EXPECT_EQ(window.text(ControlId::eEVOfile), "/a/one.evo");
  main.WMDropFiles({});
  EXPECT_EQ(window.text(ControlId::eEVOfile), "/a/one.evo");
}

TEST_F(FileSelectionTest, BrowsingResetsTheListsButACancelledDialogChangesNothing) {
  window.setEnabled(audioBox(2), true);
  window.setChecked(audioBox(2), true);
  window.setCaption(audioBox(2), "DD.stream.02");
  main.WMDropFiles({"/a/one.EVO"});  // a drop keeps the lists
  EXPECT_TRUE(window.checked(audioBox(2)));

  main.bbEVOClick("");
  EXPECT_TRUE(window.checked(audioBox(2)));
  EXPECT_EQ(window.text(ControlId::eEVOfile), "/a/one.EVO");

  main.bbEVOClick("/b/two.EVO");
  EXPECT_EQ(window.text(ControlId::eEVOfile), "/b/two.EVO");
  EXPECT_FALSE(window.checked(audioBox(2)));
  EXPECT_EQ(window.caption(audioBox(2)), "No audio stream");
}

TEST_F(FileSelectionTest, CancelAsksOnlyWhileWriting) {
  main.bCancelClick();
  EXPECT_TRUE(main.cancelRequested());
  EXPECT_TRUE(window.questions().empty());

  TfMain writing(window);  // no request yet
  writing.scan().ExtractionRunning = true;
  window.onConfirm = [](const std::string&) { return false; };
  writing.bCancelClick();
  EXPECT_FALSE(writing.cancelRequested());
  window.onConfirm = [](const std::string&) { return true; };
  writing.bCancelClick();
  EXPECT_TRUE(writing.cancelRequested());
  EXPECT_THAT(window.questions(), ::testing::Each(std::string("Are you sure to stop demuxing?")));
}

TEST_F(FileSelectionTest, ClearEmptiesTheLogOnly) {
  window.log("one");
  window.slog("Reading", 0);
  main.bClearClick();
  EXPECT_TRUE(window.lines().empty());
  EXPECT_EQ(window.statusPanel(0), " Reading");
}

TEST(FileNamesTest, CutExt) {
  EXPECT_EQ(CutExt("FEATURE_1.EVO"), "FEATURE_1");
  EXPECT_EQ(CutExt("a.b.c"), "a.b");
  EXPECT_EQ(CutExt("MOVIE"), "MOVIE");
  EXPECT_EQ(CutExt("/x.y/MOVIE"), "/x.y/MOVIE");
}

TEST(FileNamesTest, SecondFileOfASplitFeature) {
  EXPECT_EQ(secondCandidate("/d/HVDVD_TS/FEATURE_1.EVO"), "/d/HVDVD_TS/FEATURE_2.EVO");
  EXPECT_EQ(secondCandidate("/d/PART1_A.EVO"), "/d/PART2_A.EVO");
  EXPECT_EQ(secondCandidate("/d/FEATURE_10.EVO"), "/d/FEATURE_20.EVO");
  EXPECT_EQ(secondCandidate("/d/_1.EVO"), "/d/_2.EVO");
  EXPECT_EQ(secondCandidate("/d/1_.EVO"), "/d/2_.EVO");
  EXPECT_EQ(secondCandidate("/d/FEATURE_9.EVO"), "");
  EXPECT_EQ(secondCandidate("/d/MOVIE.EVO"), "");
  EXPECT_EQ(secondCandidate("/d/_A.EVO"), "");
  EXPECT_EQ(secondCandidate("/my_1dir/MOVIE.EVO"), "");  // a "_" in the folder does not count

  TempDir dir;
  test::writeFile(dir / "FEATURE_1.EVO", {});
  EXPECT_EQ(getsecond(dir / "FEATURE_1.EVO"), "");
  test::writeFile(dir / "FEATURE_2.EVO", {});
  EXPECT_EQ(getsecond(dir / "FEATURE_1.EVO"), dir / "FEATURE_2.EVO");
}

TEST(FileNamesTest, CaptionsCannotLeaveTheOutputFolder) {
  EXPECT_EQ(safeNamePart("DD+.stream.03"), "DD+.stream.03");
  EXPECT_EQ(safeNamePart("../../etc/passwd"), "____etc_passwd");
  EXPECT_EQ(safeNamePart("English: Director\\'s \"cut\"?\n"), "English_ Director_'s _cut___");
  EXPECT_EQ(safeNamePart(".."), "_");
}

class StreamListsTest : public FileSelectionTest {};

TEST_F(StreamListsTest, ResetShowsEmptyDisabledLists) {
  for (int n = 0; n < 8; ++n) {
    EXPECT_FALSE(window.enabled(videoBox(n)));
    EXPECT_EQ(window.caption(videoBox(n)), "No video stream");
  }
  for (int n = 0; n < 16; ++n) {
    EXPECT_EQ(window.caption(audioBox(n)), "No audio stream");
    EXPECT_EQ(window.caption(subBox(n)), "No subpicture");
    EXPECT_FALSE(window.checked(subBox(n)));
  }
  EXPECT_FALSE(window.enabled(ControlId::bDemux));
}

TEST_F(StreamListsTest, FillTicksAndNamesEveryStreamFound) {
  window.setText(ControlId::eEVOfile, "/d/movie.evo");
  main.scan().VideoSlots[0].id = 0x55;
  main.scan().VideoSlots[1].id = 0xE1;
  main.scan().AudioSlots[2].id = 0x82;
  main.scan().AudioSlots[3].id = 0xC3;
  main.scan().AudioSlots[11].id = 0x8B;
  main.scan().SubpictureSlots[1].id = 0x61;
  main.scan().SubpictureSlots[15].id = 0x2F;
  main.scan().SubpictureSlots[16].id = 0x30;  // no box
  main.Fillcbs();
  EXPECT_EQ(window.caption(videoBox(0)), "VC-1.stream.0");
  EXPECT_EQ(window.caption(videoBox(1)), "MPEG-2.stream.1");
  EXPECT_EQ(window.caption(audioBox(2)), "DD.stream.02");
  EXPECT_EQ(window.caption(audioBox(3)), "DD+.stream.03");
  EXPECT_EQ(window.caption(audioBox(11)), "DTSHD.stream.11");
  EXPECT_EQ(window.caption(subBox(1)), "Ext.Subpicture.01");
  EXPECT_EQ(window.caption(subBox(15)), "Subpicture.15");
  EXPECT_TRUE(window.checked(audioBox(3)) && window.enabled(audioBox(3)));
  EXPECT_FALSE(window.enabled(audioBox(4)));
  EXPECT_EQ(window.caption(audioBox(4)), "No audio stream");
  EXPECT_FALSE(window.enabled(videoBox(2)));
  EXPECT_TRUE(window.enabled(ControlId::bDemux));
  EXPECT_TRUE(window.enabled(ControlId::bRebuild));  // "movie.evo" counts as ".EVO"
}

TEST_F(StreamListsTest, ButtonRuleFollowsTheTicks) {
  window.setText(ControlId::eEVOfile, "/d/one.EVO");
  main.scan().AudioSlots[2].id = 0x82;
  main.Fillcbs();
  main.toggleBox(audioBox(2), false);
  EXPECT_FALSE(window.enabled(ControlId::bDemux));
  EXPECT_FALSE(window.enabled(ControlId::bRebuild));
  EXPECT_EQ(window.caption(audioBox(2)), "DD.stream.02");  // unticking keeps the name
  main.toggleBox(audioBox(2), true);
  EXPECT_TRUE(window.enabled(ControlId::bDemux));
  main.toggleBox(audioBox(5), true);  // a disabled box cannot be ticked
  EXPECT_FALSE(window.checked(audioBox(5)));

  // A DVD input never enables Rebuild through the lists.
  main.Resetcbs();
  window.setText(ControlId::eEVOfile, "/d/one.VOB");
  main.Fillcbs();
  EXPECT_TRUE(window.enabled(ControlId::bDemux));
  EXPECT_FALSE(window.enabled(ControlId::bRebuild));
}

TEST(KindNamesTest, EveryIdRange) {
  EXPECT_EQ(VideoKindName(0xE3), "H.264.stream");
  EXPECT_EQ(VideoKindName(-1), "No video stream");
  EXPECT_EQ(AudioKindName(0xA7), "LPCM.stream");
  EXPECT_EQ(AudioKindName(0xB0), "MLP.stream");
  EXPECT_EQ(AudioKindName(0xCF), "DD+.stream");
  EXPECT_EQ(AudioKindName(-1), "No audio stream");
  EXPECT_EQ(SubpictureKindName(-1), "No subpicture stream");
}

}  // namespace
}  // namespace tarnwick
