// Read EVO and Demux end to end on the window model, over a split feature
// built with the program-stream builder.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/model_window.h"
#include "app/tf_main.h"
#include "engine/file_io.h"
#include "support/builders.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// VC-1 with two frame markers per packet, Dolby Digital Plus in slot 0 and a
// subpicture in slot 1; `part` makes the two files' payloads differ.
struct Feature {
  Bytes file;
  Bytes video, audio, sub;
};

Feature makeFeature(std::uint8_t part, std::uint64_t start) {
  Feature f;
  PsBuilder b;
  b.packHeader(start).systemHeader(1, 1);
  for (int i = 0; i < 3; ++i) {
    Bytes v = {0x00, 0x00, 0x01, 0x0D};
    const Bytes body = pattern(900, static_cast<std::uint8_t>(part * 16 + i));
    v.insert(v.end(), body.begin(), body.end());
    v.insert(v.end(), {0x00, 0x00, 0x01, 0x0D, 0x42});
    b.vc1(v, start + 3003 * i, start + 3003 * i - 1500);
    f.video.insert(f.video.end(), v.begin(), v.end());
    const Bytes a = pattern(300, static_cast<std::uint8_t>(part * 32 + i));
    b.ac3(0xC0, a, start + 3000 * i + 500);
    f.audio.insert(f.audio.end(), a.begin(), a.end());
    b.finishPack();
    b.packHeader(start);
  }
  const Bytes s = pattern(60, part);
  b.subpicture(0x21, s, start + 9000);
  b.finishPack();
  f.file = b.bytes();
  f.sub = s;
  return f;
}

class CommandsTest : public ::testing::Test {
 protected:
  CommandsTest() : main(window) {
    main.FormActivate();
    fs::create_directories(dir.path() / "HVDVD_TS");
    fs::create_directories(dir.path() / "out");
    first = makeFeature(1, 90000);
    second = makeFeature(2, 180000);
    writeFile(evo1(), first.file);
    writeFile(evo2(), second.file);
  }
  std::string evo1() const { return (dir.path() / "HVDVD_TS" / "FEATURE_1.EVO").string(); }
  std::string evo2() const { return (dir.path() / "HVDVD_TS" / "FEATURE_2.EVO").string(); }
  std::string out(const std::string& name) const { return (dir.path() / "out" / name).string(); }
  void choose(const std::string& path) { main.WMDropFiles({path}); }
  std::vector<std::string> log() const { return window.logText(); }

  TempDir dir;
  ModelWindow window;
  TfMain main;
  Feature first, second;
};

TEST_F(CommandsTest, ReadEvoAcrossASplitFeature) {
  window.setChecked(ControlId::cbDetails, false);
  choose(evo1());
  main.bCheckClick();
  EXPECT_THAT(log(), ElementsAre("Opening file FEATURE_1.EVO", "File size: 0 Mbytes.", "VC-1 video stream 0 found!",
                                 "Dolby Digital Plus audio stream 0 found!", "Subpicture stream 1 found!",
                                 "Continue on FEATURE_2.EVO", "VC-1 video stream 0 found!",
                                 "Dolby Digital Plus audio stream 0 found!", "Subpicture stream 1 found!", "Done.", "",
                                 "12 frames (0:00:00 s) count in video stream 0.", ""));
  EXPECT_EQ(window.lines()[0].boldLength, std::string("FEATURE_1.EVO").size());
  EXPECT_EQ(window.lines()[11].text.substr(window.lines()[11].boldStart, window.lines()[11].boldLength), "0:00:00 s");
  EXPECT_EQ(main.files().OutputBaseName, "FEATURE_1_FEATURE_2");
  EXPECT_EQ(window.caption(videoBox(0)), "VC-1.stream.0");
  EXPECT_EQ(window.caption(audioBox(0)), "DD+.stream.00");
  EXPECT_EQ(window.caption(subBox(1)), "Subpicture.01");
  EXPECT_TRUE(window.checked(subBox(1)));
  EXPECT_TRUE(window.enabled(ControlId::bCheck));
  EXPECT_TRUE(window.enabled(ControlId::bDemux));
  EXPECT_TRUE(window.enabled(ControlId::bRebuild));
  EXPECT_FALSE(window.enabled(ControlId::bCancel));
  EXPECT_EQ(window.statusPanel(0), " Ready");
  EXPECT_EQ(window.statusPanel(1), " ");
  EXPECT_EQ(main.scan().EarliestPts, 0xFFFFFFFFu);  // no details, nothing lowered it
}

TEST_F(CommandsTest, ReadEvoWithoutContinuationOrCounts) {
  window.setChecked(ControlId::cbContinue, false);
  window.setChecked(ControlId::cbCountFr, false);
  choose(evo1());
  main.bCheckClick();
  EXPECT_EQ(main.files().OutputBaseName, "FEATURE_1");
  EXPECT_THAT(log(), ::testing::Not(::testing::Contains(HasSubstr("Continue on"))));
  EXPECT_THAT(log(), ::testing::Not(::testing::Contains(HasSubstr("frames ("))));
  EXPECT_EQ(log().back(), "");
  EXPECT_EQ(log()[log().size() - 2], "Done.");
  EXPECT_EQ(main.scan().EarliestPts, 90000u);  // the first VC-1 PTS
}

TEST_F(CommandsTest, ReadEvoOfAMissingFile) {
  choose((dir.path() / "nothing_1.EVO").string());
  try {
    main.bCheckClick();
    FAIL() << "no error for a missing file";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(), ::testing::StartsWith("Cannot open file \"" + (dir.path() / "nothing_1.EVO").string()));
  }
  EXPECT_THAT(log(), ElementsAre("Opening file nothing_1.EVO"));
  EXPECT_FALSE(window.enabled(ControlId::bCheck));
  EXPECT_FALSE(window.enabled(ControlId::bDemux));
  EXPECT_FALSE(main.scan().InputStream.has_value());
  EXPECT_FALSE(main.busy());
  EXPECT_TRUE(window.enabled(ControlId::bbEVO));
}

TEST_F(CommandsTest, DemuxWritesBothFilesIntoOneSetOfOutputs) {
  choose(evo1());
  main.bCheckClick();
  window.clearLog();
  window.setText(ControlId::eWorkdir, (dir.path() / "out").string());
  main.bDemuxClick();

  const std::string video = out("FEATURE_1_FEATURE_2.VC-1.stream.0.mpv");
  const std::string audio = out("FEATURE_1_FEATURE_2.DD+.stream.00.mpa");
  const std::string sub = out("FEATURE_1_FEATURE_2.Subpicture.01.sup");
  EXPECT_THAT(log(), ElementsAre("Opening file FEATURE_1.EVO", "File size: 0 Mbytes.", "Creating " + video,
                                 "Creating " + audio, "Creating " + sub, "Continue on FEATURE_2.EVO", "Done.", "",
                                 "12 frames (0:00:00 s) count in video stream 0."));
  Bytes video12 = first.video;
  video12.insert(video12.end(), second.video.begin(), second.video.end());
  EXPECT_EQ(readFile(video), video12);
  Bytes audio12 = first.audio;
  audio12.insert(audio12.end(), second.audio.begin(), second.audio.end());
  EXPECT_EQ(readFile(audio), audio12);
  // Subpicture times rebased on the earliest first PTS of the Read EVO (the
  // first VC-1 packet, 90000).
  Bytes sub12 = {'S', 'P', 0x28, 0x23, 0x00, 0x00, 0, 0, 0, 0};  // 9000
  sub12.insert(sub12.end(), first.sub.begin(), first.sub.end());
  const Bytes secondHeader = {'S', 'P', 0xB8, 0x82, 0x01, 0x00, 0, 0, 0, 0};  // 99000
  sub12.insert(sub12.end(), secondHeader.begin(), secondHeader.end());
  sub12.insert(sub12.end(), second.sub.begin(), second.sub.end());
  EXPECT_EQ(readFile(sub), sub12);
  EXPECT_TRUE(window.enabled(ControlId::bDemux));
  EXPECT_TRUE(window.enabled(ControlId::bRebuild));
  EXPECT_TRUE(window.enabled(ControlId::bCheck));
  EXPECT_TRUE(window.enabled(audioBox(0)));  // the boxes come back after the run
  EXPECT_FALSE(main.scan().AudioSlots[0].output.has_value());
}

// The Options page's PGS box: the subpicture stream goes through the decoder
// (the builder's units are too short to hold a caption), so no SP records;
// a stream that gives no caption fails the run instead of leaving an empty
// file behind.
TEST_F(CommandsTest, DemuxWithThePgsBoxTicked) {
  choose(evo1());
  main.bCheckClick();
  window.setChecked(ControlId::cbPgs, true);
  window.setText(ControlId::eWorkdir, (dir.path() / "out").string());
  const std::string sup = out("FEATURE_1_FEATURE_2.Subpicture.01.sup");
  try {
    main.bDemuxClick();
    FAIL() << "no error for a subpicture stream without a caption";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "Subpicture stream 1 gave no caption (2 units skipped): " + sup + " removed.")
        << ::testing::PrintToString(log());
  }
  EXPECT_FALSE(std::filesystem::exists(sup));
  EXPECT_THAT(log(), ::testing::Contains(HasSubstr("Incomplete subpicture unit at PTS 0:00:01.100 skipped")));
  EXPECT_THAT(log(), ::testing::Contains(HasSubstr("Incomplete subpicture unit at PTS 0:00:02.100 skipped")));
}

TEST_F(CommandsTest, OutputFolderSpellingsAndDefault) {
  choose(evo1());
  main.bCheckClick();
  const std::string outDir = (dir.path() / "out").string();
  EXPECT_EQ(main.outputFileName(audioBox(0), outDir), main.outputFileName(audioBox(0), outDir + "/"));
  // No output folder: beside the input, with the base name.
  EXPECT_EQ(main.outputFileName(audioBox(0), ""),
            (dir.path() / "HVDVD_TS" / "FEATURE_1_FEATURE_2.DD+.stream.00.mpa").string());
  window.setText(ControlId::eAudioExt, "ac3");
  EXPECT_EQ(main.outputFileName(audioBox(0), outDir), outDir + "/FEATURE_1_FEATURE_2.DD+.stream.00.ac3");
}

TEST_F(CommandsTest, DemuxIntoAMissingFolder) {
  choose(evo1());
  main.bCheckClick();
  window.setText(ControlId::eWorkdir, (dir.path() / "absent").string());
  try {
    main.bDemuxClick();
    FAIL() << "no error for a missing output folder";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(),
                ::testing::StartsWith("Cannot create file \"" + (dir.path() / "absent").string() +
                                      "/FEATURE_1_FEATURE_2.VC-1.stream.0.mpv\""));
  }
  EXPECT_FALSE(main.scan().InputStream.has_value());
  EXPECT_FALSE(window.enabled(ControlId::bDemux));
  EXPECT_FALSE(window.enabled(ControlId::bRebuild));
  EXPECT_TRUE(window.enabled(audioBox(0)));
  EXPECT_NE(log().back(), "Done.");
}

TEST_F(CommandsTest, DemuxNeverWritesOverItsInput) {
  choose(evo1());
  main.bCheckClick();
  // An output name that is a link to the first input.
  fs::create_symlink(evo1(), out("FEATURE_1_FEATURE_2.DD+.stream.00.mpa"));
  window.setText(ControlId::eWorkdir, (dir.path() / "out").string());
  try {
    main.bDemuxClick();
    FAIL() << "an output over the input was not refused";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(), HasSubstr("Cannot create file \"" + out("FEATURE_1_FEATURE_2.DD+.stream.00.mpa")));
  }
  EXPECT_EQ(readFile(evo1()), first.file);
  // The output created before the refused one stays, closed.
  EXPECT_TRUE(fs::exists(out("FEATURE_1_FEATURE_2.VC-1.stream.0.mpv")));
  EXPECT_FALSE(main.scan().VideoSlots[0].output.has_value());
}

TEST_F(CommandsTest, DemuxNeverWritesOverTheSecondFileOfTheFeature) {
  choose(evo1());
  main.bCheckClick();
  fs::create_symlink(evo2(), out("FEATURE_1_FEATURE_2.Subpicture.01.sup"));
  window.setText(ControlId::eWorkdir, (dir.path() / "out").string());
  try {
    main.bDemuxClick();
    FAIL() << "an output over the second file was not refused";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(), HasSubstr("It is an input file of this command"));
  }
  EXPECT_EQ(readFile(evo2()), second.file);
}

// Exactly 1001 seconds of pictures at 24000/1001: rounding, not truncation,
// decides the last second of both commands' count lines.
TEST_F(CommandsTest, CountLinesOfAWholeNumberOfSeconds) {
  PsBuilder b;
  Bytes markers;
  for (int i = 0; i < 400; ++i) markers.insert(markers.end(), {0x00, 0x00, 0x01, 0x0D});
  for (int p = 0; p < 60; ++p) b.packHeader(90000).vc1(markers, p == 0 ? std::optional<std::uint64_t>(90000) : std::nullopt).finishPack();
  writeFile(evo1(), b.bytes());
  window.setChecked(ControlId::cbContinue, false);
  choose(evo1());
  main.bCheckClick();
  EXPECT_THAT(log(), ::testing::Contains("24000 frames (0:16:41 s) count in video stream 0."));
  window.setText(ControlId::eWorkdir, (dir.path() / "out").string());
  window.clearLog();
  main.bDemuxClick();
  EXPECT_THAT(log(), ::testing::Contains("24000 frames (0:16:41 s) count in video stream 0."));
}

// The sync-frame lines of an audio stream come for each file of a feature
// and again on a second read.
TEST_F(CommandsTest, AudioDetailsForEachFileAndEachRead) {
  const Bytes frame = {0x0B, 0x77, 0x12, 0x34, 0x00 << 6 | 0x0A, 0x08 << 3 | 0x00, 0x07 << 5, 0, 0, 0};
  for (const std::string& path : {evo1(), evo2()}) {
    PsBuilder b;
    b.packHeader().ac3(0xC1, frame, 90000).finishPack();
    writeFile(path, b.bytes());
  }
  choose(evo1());
  main.bCheckClick();
  const std::vector<std::string> firstRead = log();
  std::vector<std::string> details;
  for (const std::string& line : firstRead)
    if (line.starts_with("   ") && !line.starts_with("   First PTS") && !line.starts_with("   Stream id")) details.push_back(line);
  ASSERT_FALSE(details.empty());
  ASSERT_EQ(details.size() % 2, 0u);
  const std::vector<std::string> perFile(details.begin(), details.begin() + static_cast<std::ptrdiff_t>(details.size() / 2));
  EXPECT_THAT(perFile, ::testing::Contains(HasSubstr("Dolby Digital")));
  EXPECT_EQ(std::vector<std::string>(details.begin() + static_cast<std::ptrdiff_t>(perFile.size()), details.end()), perFile);
  window.clearLog();
  main.bCheckClick();
  EXPECT_EQ(log(), firstRead);
}

TEST_F(CommandsTest, TwoStreamsNeverShareAnOutput) {
  choose(evo1());
  main.bCheckClick();
  window.setText(ControlId::eWorkdir, (dir.path() / "out").string());
  window.setText(ControlId::eSubExt, "mpa");
  // A playlist whose texts make an audio and a subtitle track's names alike.
  fs::create_directories(dir.path() / "ADV_OBJ");
  std::ofstream((dir.path() / "ADV_OBJ" / "VPLST000.XPL").string(), std::ios::binary)
      << "<Playlist>\n<AudioAttributeItem index=\"1\" codec=\"X\"/>\n"
         "<SubpictureAttributeItem index=\"1\" codec=\"X.stream.00.Y\"/>\n"
         "<Title displayName=\"t\">\n<PrimaryAudioVideoClip src=\"FEATURE_1.MAP\">\n"
         "<Audio streamNumber=\"1\" mediaAttr=\"1\" description=\"Y.stream.01.Z\"/>\n"
         "<Subtitle streamNumber=\"2\" mediaAttr=\"1\" description=\"Z\"/>\n"
         "</PrimaryAudioVideoClip>\n</Title>\n</Playlist>\n";
  main.bReadXPLClick();
  ASSERT_EQ(window.caption(subBox(1)), "X.stream.00.Y.stream.01.Z");
  ASSERT_EQ(window.caption(audioBox(0)), window.caption(subBox(1)));
  try {
    main.bDemuxClick();
    FAIL() << "two streams were written into one file";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(), HasSubstr("Cannot create file \"" + out("FEATURE_1_FEATURE_2.X.stream.00.Y.stream.01.Z.mpa")));
  }
  EXPECT_FALSE(main.scan().AudioSlots[0].output.has_value());
}

TEST_F(CommandsTest, SecondFileGoneBeforeDemux) {
  choose(evo1());
  main.bCheckClick();
  fs::remove(evo2());
  window.setText(ControlId::eWorkdir, (dir.path() / "out").string());
  window.clearLog();
  main.bDemuxClick();
  EXPECT_EQ(readFile(out("FEATURE_1.VC-1.stream.0.mpv")), first.video);
  EXPECT_THAT(log(), ::testing::Not(::testing::Contains(HasSubstr("Continue on"))));
  EXPECT_THAT(log(), ::testing::Contains("Done."));
}

TEST_F(CommandsTest, SecondFileGoneDuringDemux) {
  choose(evo1());
  main.bCheckClick();
  window.setText(ControlId::eWorkdir, (dir.path() / "out").string());
  // Vanishes while the first file is being scanned.
  window.onStatusPanel = [&](int panel, const std::string& text) {
    if (panel == 0 && text == " Demuxing FEATURE_1.EVO") fs::remove(evo2());
  };
  EXPECT_THROW(main.bDemuxClick(), FileError);
  // The first file's part is on disk, and nothing is left open.
  EXPECT_EQ(readFile(out("FEATURE_1_FEATURE_2.VC-1.stream.0.mpv")), first.video);
  EXPECT_FALSE(main.scan().InputStream.has_value());
  EXPECT_FALSE(main.scan().VideoSlots[0].output.has_value());
}

TEST_F(CommandsTest, OnlyTickedStreamsAndTheirCounts) {
  window.setChecked(ControlId::cbContinue, false);
  choose(evo1());
  main.bCheckClick();
  main.toggleBox(videoBox(0), false);
  main.toggleBox(subBox(1), false);
  window.setText(ControlId::eWorkdir, (dir.path() / "out").string());
  window.clearLog();
  main.bDemuxClick();
  EXPECT_EQ(readFile(out("FEATURE_1.DD+.stream.00.mpa")), first.audio);
  EXPECT_FALSE(fs::exists(out("FEATURE_1.VC-1.stream.0.mpv")));
  EXPECT_EQ(log().back(), "");  // no count line for an unticked video stream
  // An existing output is overwritten without a question.
  writeFile(out("FEATURE_1.DD+.stream.00.mpa"), pattern(100000));
  main.bDemuxClick();
  EXPECT_EQ(readFile(out("FEATURE_1.DD+.stream.00.mpa")), first.audio);
}

// A long feature (over 4 MiB) so that the run reaches a progress point.
class LongDemuxTest : public CommandsTest {
 protected:
  LongDemuxTest() {
    PsBuilder b;
    b.raw(first.file);
    while (b.size() < 6 * 0x100000) {
      b.packHeader().vc1(pattern(1900), {}).finishPack();
    }
    writeFile(evo1(), b.bytes());
    choose(evo1());
    main.bCheckClick();
    window.setText(ControlId::eWorkdir, (dir.path() / "out").string());
    window.clearLog();
  }
};

TEST_F(LongDemuxTest, CancelConfirmedStopsTheRun) {
  bool duringRun = true;
  window.onProcessMessages = [&] {
    // Everything else is refused while the run goes on.
    duringRun = main.busy() && !window.enabled(audioBox(0)) && !window.enabled(ControlId::bCheck);
    main.bCheckClick();
    main.WMDropFiles({"/elsewhere/other.EVO"});
    main.bCancelClick();
  };
  window.onConfirm = [](const std::string&) { return true; };
  main.bDemuxClick();
  EXPECT_TRUE(duringRun);
  EXPECT_EQ(window.text(ControlId::eEVOfile), evo1());
  EXPECT_THAT(window.questions(), ElementsAre("Are you sure to stop demuxing?"));
  EXPECT_THAT(log(), ::testing::Not(::testing::Contains(HasSubstr("Continue on"))));
  EXPECT_EQ(log()[log().size() - 2], "Done.");  // and no count lines
  const auto size = fs::file_size(out("FEATURE_1_FEATURE_2.VC-1.stream.0.mpv"));
  EXPECT_GT(size, 0u);
  EXPECT_LT(size, 5u * 0x100000);
}

// The input shrinks in the middle of a run: a clear error, every output
// closed, nothing left enabled that has nothing to do, and the next run works.
TEST_F(LongDemuxTest, InputThatShrinksDuringTheRun) {
  bool cut = false;
  window.onProcessMessages = [&] {
    if (!cut) fs::resize_file(evo1(), 5 * 0x100000);
    cut = true;
  };
  try {
    main.bDemuxClick();
    FAIL() << "no error for a file that shrank";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(), HasSubstr("Cannot read file \"" + evo1() + "\". It ended after 5242880 bytes"));
  }
  EXPECT_FALSE(main.scan().VideoSlots[0].output.has_value());
  EXPECT_FALSE(main.scan().InputStream.has_value());
  EXPECT_FALSE(window.enabled(ControlId::bCancel));
  EXPECT_FALSE(main.busy());
  EXPECT_GT(fs::file_size(out("FEATURE_1_FEATURE_2.VC-1.stream.0.mpv")), 0u);

  window.onProcessMessages = nullptr;
  window.clearLog();
  main.bCheckClick();
  main.bDemuxClick();
  EXPECT_THAT(log(), ::testing::Contains("Done."));
}

// Cancel in the middle of the MKV run's demux: the temporary folder goes
// with the streams in it, and no MKV is left. The stand-in mkvmerge only
// tells its version: the run never gets to muxing.
TEST_F(LongDemuxTest, MkvCancelledDuringItsDemuxLeavesNoStreamsFolder) {
#ifdef _WIN32
  GTEST_SKIP() << "the stand-in mkvmerge is a shell script";
#endif
  const std::string fake = (dir.path() / "mkvmerge").string();
  const std::string script = "#!/bin/sh\necho \"mkvmerge v74.0.0 ('x') 64-bit\"\n";
  writeFile(fake, Bytes(script.begin(), script.end()));
  fs::permissions(fake, fs::perms::owner_all);
  window.setText(ControlId::eMkvmerge, fake);
  bool sawStreams = false;
  window.onProcessMessages = [&] {
    sawStreams = sawStreams || fs::exists(out("FEATURE_1_FEATURE_2.mkv-streams/FEATURE_1_FEATURE_2.VC-1.stream.0.mpv"));
    main.bCancelClick();
  };
  window.onConfirm = [](const std::string&) { return true; };
  main.bMkvClick();
  EXPECT_TRUE(sawStreams);
  EXPECT_THAT(window.questions(), ElementsAre("Are you sure to stop demuxing?"));
  EXPECT_TRUE(fs::is_empty(dir.path() / "out"));
}

TEST_F(LongDemuxTest, CancelDeclinedGoesOn) {
  window.onProcessMessages = [&] { main.bCancelClick(); };
  window.onConfirm = [](const std::string&) { return false; };
  main.bDemuxClick();
  EXPECT_THAT(log(), ::testing::Contains("Continue on FEATURE_2.EVO"));
  EXPECT_THAT(log().back(), HasSubstr("count in video stream 0."));
}

}  // namespace
}  // namespace tarnwick::test
