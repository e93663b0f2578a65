// The commands as a pipeline runs them: values in, a report without any
// window, an outcome out.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/demux_run.h"
#include "support/builders.h"
#include "support/recording_report.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

// A feature split in two files, each with Dolby Digital 0x80 and DTS 0x89,
// long enough for two 4 MiB progress points in the first.
class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    first = dir / "FEATURE_1.EVO";
    second = dir / "FEATURE_2.EVO";
    PsBuilder a;
    a.ac3(0x80, dd, 100).dts(0x89, dts, 100);
    a.padTo(9 * 0x100000);
    a.writeTo(first);
    PsBuilder b;
    b.ac3(0x80, dd, 200).dts(0x89, dts, 200);
    b.writeTo(second);
  }

  StreamSelection both() const {
    StreamSelection selection;
    selection.choose({StreamClass::Audio, 0}, dir / "dd.ac3");
    selection.choose({StreamClass::Audio, 1}, dir / "dts.dts");
    return selection;
  }

  TempDir dir;
  std::string first, second;
  const Bytes dd = pattern(500, 1), dts = pattern(600, 2);
  ScanState state;
  RecordingReport report;
};

TEST_F(CommandTest, ReadThenDemuxBothFilesWithoutAWindow) {
  const RunInput input{first, second};
  ASSERT_TRUE(readEvo(state, input, {}, report).isDone());
  EXPECT_EQ(state.AudioSlots[0].id, 0x80);
  EXPECT_EQ(state.AudioSlots[1].id, 0x89);
  EXPECT_THAT(report.states, ::testing::ElementsAre("Reading FEATURE_1.EVO", "Reading FEATURE_2.EVO", "Ready"));

  report.clearLog();
  const Outcome outcome = demuxStreams(state, input, {}, both(), report);
  ASSERT_TRUE(outcome.isDone()) << outcome.message;
  Bytes twice = dd;
  twice.insert(twice.end(), dd.begin(), dd.end());
  EXPECT_EQ(readFile(dir / "dd.ac3"), twice);
  EXPECT_THAT(report.logText(), Contains("Continue on FEATURE_2.EVO"));
  EXPECT_EQ(report.logText().back(), "");
  // Cancel is offered for each file's scan and withdrawn after it.
  EXPECT_EQ(report.cancellableRuns, 4);
  EXPECT_FALSE(report.cancellableNow);
  ASSERT_FALSE(report.progresses.empty());
  EXPECT_EQ(report.progresses.front().position, 4 * 0x100000);
}

// The Matroska command reads the streams' first time stamps and details
// after its demux: the demux's scans free the slots but leave what Read EVO
// reported, and a feature's first time stamp is its first file's.
TEST_F(CommandTest, ReadEvoReportOutlivesTheDemuxScans) {
  const RunInput input{first, second};
  ASSERT_TRUE(readEvo(state, input, {}, report).isDone());
  const StreamRecord read = state.AudioSlots[0].record;
  EXPECT_EQ(read.firstPts, 100u);
  ASSERT_FALSE(read.details.empty());
  const Outcome outcome = demuxStreams(state, input, {}, both(), report);
  ASSERT_TRUE(outcome.isDone()) << outcome.message;
  for (const std::size_t k : {0, 1}) {
    EXPECT_TRUE(state.AudioSlots[k].record.hasFirstPts) << k;
    EXPECT_EQ(state.AudioSlots[k].record.firstPts, 100u) << k;
  }
  EXPECT_EQ(state.AudioSlots[0].record.details, read.details);
}

TEST_F(CommandTest, CancelAtAProgressPointEndsTheRunAsCancelled) {
  report.onLetInputThrough = [this] { report.cancel = true; };
  const Outcome outcome = demuxStreams(state, {first, second}, {}, both(), report);
  EXPECT_TRUE(outcome.isCancelled());
  EXPECT_EQ(report.progresses.size(), 1u);
  EXPECT_THAT(report.logText(), Not(Contains("Continue on FEATURE_2.EVO")));
  EXPECT_FALSE(state.AudioSlots[0].output.has_value());
}

// The fast check ending the first file's scan is no cancel to the user (the
// run is done), yet it has a cancel's effects: no second file, no counts.
TEST_F(CommandTest, FastCheckStopReadsNoSecondFileAndCountsNothing) {
  PsBuilder b;
  b.packHeader().pes(0xE0, {0x00, 0x00, 0x01, 0x00, 0x11}, {.pts = 3000}).finishPack();
  b.writeTo(first);
  b.writeTo(second);
  std::filesystem::resize_file(first, 301'000'000);  // sparse: zeros past the pack
  const ScanOptions fast;
  const Outcome outcome = readEvo(state, {first, second}, fast, report);
  EXPECT_TRUE(outcome.isDone()) << outcome.message;
  EXPECT_EQ(state.scanStop, ScanStop::FastCheckLimit);
  EXPECT_EQ(state.VideoSlots[0].VideoFrameCounts, 0);
  EXPECT_THAT(report.logText(), Not(Contains("Continue on FEATURE_2.EVO")));
  EXPECT_THAT(report.logText(), Not(Contains(HasSubstr("count in video stream"))));
  EXPECT_EQ(report.logText().back(), "");

  report.clearLog();
  ScanOptions whole;
  whole.fastCheck = false;
  ASSERT_TRUE(readEvo(state, {first, second}, whole, report).isDone());
  EXPECT_EQ(state.scanStop, ScanStop::None);
  EXPECT_THAT(report.logText(), Contains("Continue on FEATURE_2.EVO"));
  EXPECT_THAT(report.logText(), Contains(HasSubstr("2 frames (")));
}

// A failing output stands in for a full disk: every developer runs this.
TEST_F(CommandTest, AWriteFailureIsAFailedOutcomeWithItsText) {
  StreamSelection selection = both();
  selection.choose({StreamClass::Audio, 1}, "/dev/full");
  const Outcome outcome = demuxStreams(state, {first, ""}, {}, selection, report);
  ASSERT_TRUE(outcome.isFailed());
  EXPECT_THAT(outcome.message, HasSubstr("Stream write error"));
  EXPECT_THAT(report.logText(), Not(Contains("Done.")));
  // Every output is closed, and the input with them.
  EXPECT_FALSE(state.AudioSlots[0].output.has_value());
  EXPECT_FALSE(state.AudioSlots[1].output.has_value());
  EXPECT_FALSE(state.InputStream.has_value());
  EXPECT_THROW(outcome.rethrowFailure(), FileError);
}

TEST_F(CommandTest, AnOutputOverAnInputFailsBeforeAnythingIsWritten) {
  StreamSelection selection = both();
  selection.choose({StreamClass::Audio, 1}, second);
  const Bytes before = readFile(second);
  const Outcome outcome = demuxStreams(state, {first, second}, {}, selection, report);
  ASSERT_TRUE(outcome.isFailed());
  EXPECT_THAT(outcome.message, HasSubstr("It is an input file of this command"));
  EXPECT_EQ(readFile(second), before);
}

// The playlist that named the streams is an input too, also behind a link.
TEST_F(CommandTest, NoOutputOverThePlaylist) {
  const std::string playlist = dir / "VPLST000.XPL";
  writeFile(playlist, Bytes{'<', 'x', '>'});
  std::filesystem::create_symlink(playlist, dir / "link.mpa");
  StreamSelection selection;
  selection.choose({StreamClass::Audio, 0}, dir / "link.mpa");
  const Outcome outcome = demuxStreams(state, {first, "", playlist}, {}, selection, report);
  ASSERT_TRUE(outcome.isFailed());
  EXPECT_THAT(outcome.message, HasSubstr("It is an input file of this command"));
  EXPECT_EQ(readFile(playlist), (Bytes{'<', 'x', '>'}));
}

}  // namespace
}  // namespace tarnwick::test
