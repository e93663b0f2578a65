// The scanner in extraction mode with the writer: which bytes reach which
// output, subpicture records, and write failures.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "engine/writer.h"
#include "support/scan_fixture.h"

namespace tarnwick::test {
namespace {

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes record(std::uint32_t time) {
  Bytes header(10);
  makeSubpictureRecordHeader(time, header.data());
  return header;
}

class WriterTest : public ScanFixture {};

TEST_F(WriterTest, SubstreamHeadersAreNotWritten) {
  const Bytes dd = pattern(300, 1), dts = pattern(301, 2), lpcm = pattern(302, 3), mlp = pattern(303, 4),
              ddp = pattern(304, 5);
  PsBuilder b;
  b.ac3(0x80, dd, 100).dts(0x89, dts, 100).lpcm(0xA2, lpcm, 100).trueHd(0xB3, mlp, 100).ac3(0xC4, ddp, 100);
  const std::string a0 = openAudio(0), a1 = openAudio(1), a2 = openAudio(2), a3 = openAudio(3), a4 = openAudio(4);
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(readFile(a0), dd);
  EXPECT_EQ(readFile(a1), dts);
  EXPECT_EQ(readFile(a2), lpcm);
  EXPECT_EQ(readFile(a3), mlp);
  EXPECT_EQ(readFile(a4), ddp);
  EXPECT_THAT(log(), ::testing::IsEmpty());
}

TEST_F(WriterTest, VideoPayloadSplitOverChunksIsWrittenWhole) {
  const Bytes first = pattern(5000, 1), second = pattern(3000, 9), vc1 = pattern(700, 3);
  PsBuilder b;
  b.padTo(0x40000 - 1000).pes(0xE0, first, {.pts = 10, .dts = 5}).pes(0xE0, second).vc1(vc1, 20, 10, 0x56);
  const std::string v0 = openVideo(0), v1 = openVideo(1);
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(readFile(v0), concat({first, second}));
  EXPECT_EQ(readFile(v1), vc1);
}

TEST_F(WriterTest, OnlySelectedStreamsAreWritten) {
  PsBuilder b;
  b.ac3(0x80, pattern(50, 1), 100).ac3(0x81, pattern(50, 2), 100).subpicture(0x20, pattern(40, 3), 500)
      .subpicture(0x21, pattern(40, 4), 600);
  const std::string a1 = openAudio(1), s1 = openSubpicture(1);
  state.EarliestPts = 100;
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(readFile(a1), pattern(50, 2));
  EXPECT_EQ(readFile(s1), concat({record(500), pattern(40, 4)}));
}

TEST_F(WriterTest, SubpictureRecordsFollowTheirOwnTimeStamps) {
  // A unit in two packets (PTS on the first), a video packet with a PTS in
  // between, then a second unit. Times are rebased on EarliestPts.
  const Bytes unit1a = pattern(100, 1), unit1b = pattern(60, 2), unit2 = pattern(80, 3);
  PsBuilder b;
  b.subpicture(0x20, unit1a, 90000 + 180000)
      .pes(0xE0, pattern(30), {.pts = 90000 + 185000})
      .subpicture(0x20, unit1b)
      .subpicture(0x20, unit2, 90000 + 360000);
  const std::string s0 = openSubpicture(0);
  state.EarliestPts = 90000;
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  const Bytes out = readFile(s0);
  EXPECT_EQ(out, concat({record(180000), unit1a, unit1b, record(360000), unit2}));
  // 180000 ticks = 0x0002BF20, little-endian after "SP"
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), (Bytes{'S', 'P', 0x20, 0xBF, 0x02, 0x00, 0, 0, 0, 0}));
}

TEST_F(WriterTest, SubpictureRecordTimesWithoutReadEvo) {
  PsBuilder b;
  b.subpicture(0x20, pattern(10), 1000).subpicture(0x20, pattern(10), 90000);
  const std::string s0 = openSubpicture(0);
  state.EarliestPts = 0xFFFFFFFF;  // a Read EVO without details: every time is PTS + 1
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(readFile(s0), concat({record(1001), pattern(10), record(90001), pattern(10)}));
}

TEST_F(WriterTest, SubpictureAtTheEarliestTimeStillStartsARecord) {
  PsBuilder b;
  b.subpicture(0x20, pattern(10, 1), 5000).subpicture(0x20, pattern(10, 2), 8000);
  const std::string s0 = openSubpicture(0);
  state.EarliestPts = 5000;
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(readFile(s0), concat({record(0), pattern(10, 1), record(3000), pattern(10, 2)}));
}

TEST_F(WriterTest, SubpictureSplitOverChunksKeepsOneRecord) {
  const Bytes unit = pattern(4000, 6);
  PsBuilder b;
  b.padTo(0x40000 - 100).subpicture(0x22, unit, 7000);
  const std::string s2 = openSubpicture(2);
  state.EarliestPts = 0;
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(readFile(s2), concat({record(7000), unit}));
}

TEST_F(WriterTest, MpegAudioIsNeverWrittenIntoAnotherStream) {
  PsBuilder b;
  b.ac3(0x80, pattern(50, 1), 100).pes(0xC0, pattern(70, 2), {.pts = 100}).ac3(0x80, pattern(50, 3));
  const std::string a0 = openAudio(0);
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(readFile(a0), concat({pattern(50, 1), pattern(50, 3)}));
}

// Substream ids of no known kind own no slot: TrueHD B8 after TrueHD B2,
// and LPCM A8 after LPCM A1, never reach Dolby Digital Plus C8's output.
TEST_F(WriterTest, SubstreamsOfNoKnownKindReachNoOutput) {
  PsBuilder b;
  b.ac3(0xC8, pattern(20, 1), 100).trueHd(0xB2, pattern(20, 2), 100).trueHd(0xB8, pattern(20, 3), 100);
  b.lpcm(0xA1, pattern(20, 4), 100).lpcm(0xA8, pattern(20, 5)).ac3(0xC8, pattern(20, 6));
  const std::string a8 = openAudio(8), a2 = openAudio(2), a1 = openAudio(1);
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(readFile(a8), concat({pattern(20, 1), pattern(20, 6)}));
  EXPECT_EQ(readFile(a2), pattern(20, 2));
  EXPECT_EQ(readFile(a1), pattern(20, 4));
}

// Dolby Digital 0x80 owns slot 0 first: DTS 0x88 and subpicture 0x60,
// which share slots with earlier streams, reach no output.
TEST_F(WriterTest, StreamsSharingASlotStayApart) {
  PsBuilder b;
  b.ac3(0x80, pattern(20, 1), 100).dts(0x88, pattern(20, 2), 100).ac3(0x80, pattern(20, 3));
  b.subpicture(0x20, pattern(20, 4), 100).subpicture(0x60, pattern(20, 5), 200);
  const std::string a0 = openAudio(0), s0 = openSubpicture(0);
  state.EarliestPts = 100;
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(readFile(a0), concat({pattern(20, 1), pattern(20, 3)}));
  EXPECT_EQ(readFile(s0), concat({record(0), pattern(20, 4)}));
}

// A subpicture before the time the outputs measure from: 0, not 13 hours.
TEST_F(WriterTest, SubpictureBeforeTheStartIsWrittenAtZero) {
  PsBuilder b;
  b.subpicture(0x20, pattern(10, 1), 50).subpicture(0x20, pattern(10, 2), 40).subpicture(0x20, pattern(10, 3), 150);
  const std::string s0 = openSubpicture(0);
  state.EarliestPts = 100;
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(readFile(s0), concat({record(0), pattern(10, 1), record(0), pattern(10, 2), record(50), pattern(10, 3)}));
  EXPECT_THAT(log(), ::testing::ElementsAre("Subpicture stream 0: time stamp 00000032 lies before 00000064, the start of the "
                                 "outputs; written as 0."));
}

TEST_F(WriterTest, FramesCountedOnlyForSelectedVideo) {
  const Bytes pictures = {0x00, 0x00, 0x01, 0x00, 0x55, 0x00, 0x00, 0x01, 0x00, 0x66};
  PsBuilder b;
  b.pes(0xE0, pictures, {.pts = 1}).pes(0xE1, pictures, {.pts = 1});
  openVideo(1);
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(state.VideoSlots[0].VideoFrameCounts, 0);
  EXPECT_EQ(state.VideoSlots[1].VideoFrameCounts, 2);
}

TEST_F(WriterTest, WriteFailureSurfacesWhenTheOutputCloses) {
  // /dev/full refuses every write with "No space left on device".
  PsBuilder b;
  b.ac3(0x80, pattern(3000), 100);
  state.AudioSlots[0].output.emplace("/dev/full");
  scan(b.bytes(), ScanMode::Extraction);
  try {
    state.closeOutputs();
    FAIL() << "a full disk went unreported";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(), ::testing::StartsWith("Stream write error \"/dev/full\""));
  }
  EXPECT_FALSE(state.AudioSlots[0].output.has_value());
}

TEST(OutputFileTest, LargeAndSmallWritesKeepTheirOrder) {
  TempDir dir;
  const std::string path = dir / "out";
  Bytes expected;
  {
    OutputFile out(path);
    for (int i = 0; i < 300; ++i) {
      const Bytes piece = pattern(i % 7 == 0 ? OutputFile::kBufferSize + 17 : 2011, static_cast<std::uint8_t>(i));
      out.write(piece.data(), piece.size());
      expected.insert(expected.end(), piece.begin(), piece.end());
    }
    out.close();
  }
  EXPECT_EQ(readFile(path), expected);
}

// Big enough for several hand-overs to the background writer.
Bytes manyBuffers(std::uint8_t seed) { return pattern(OutputFile::kBufferSize * 5 + 12345, seed); }

TEST(OutputFileTest, NothingIsLostWhenTheFileIsMovedOrDestroyedUnclosed) {
  TempDir dir;
  const Bytes first = manyBuffers(1), second = manyBuffers(2);
  {
    OutputFile out(dir / "dropped");
    out.write(first.data(), first.size());
  }
  EXPECT_EQ(readFile(dir / "dropped"), first);

  OutputFile moved(dir / "moved");
  moved.write(first.data(), first.size());
  OutputFile target(std::move(moved));
  target.write(second.data(), second.size());
  OutputFile other(dir / "other");
  other.write(second.data(), 1000);
  other = std::move(target);  // "other" is finished as it stands
  other.close();
  EXPECT_EQ(readFile(dir / "moved"), concat({first, second}));
  EXPECT_EQ(readFile(dir / "other"), Bytes(second.begin(), second.begin() + 1000));
}

TEST(OutputFileTest, FlushLeavesEverythingInTheFile) {
  TempDir dir;
  const Bytes data = manyBuffers(3);
  OutputFile out(dir / "out");
  out.write(data.data(), data.size());
  out.flush();
  EXPECT_EQ(readFile(dir / "out"), data);
  out.close();
}

TEST(OutputFileTest, KernelCopiesKeepTheirPlaceAmongBufferedWrites) {
  TempDir dir;
  const Bytes source = manyBuffers(3);
  writeFile(dir / "in", source);
  const Bytes head = pattern(1000, 1), tail = manyBuffers(2);
  const std::size_t from = 4096, count = source.size() - 3 * 4096;
  Bytes expected = head;
  expected.insert(expected.end(), source.begin() + from, source.begin() + static_cast<std::ptrdiff_t>(from + count));
  expected.insert(expected.end(), tail.begin(), tail.end());
  const auto after = static_cast<std::ptrdiff_t>(from + count);
  expected.insert(expected.end(), source.begin() + after, source.begin() + after + 4096);
  expected.insert(expected.end(), source.begin(), source.begin() + 4096);
  // Once before the background writer starts, once while it holds buffers;
  // the input is closed while the copies may still be queued. A copy that
  // continues the one before joins it; one that continues it after buffered
  // bytes must come after them. The second
  // output is a pipe, which the kernel will not copy into: the writer reads
  // the bytes back from the input instead.
  for (const bool pipe : {false, true}) {
    SCOPED_TRACE(pipe ? "pipe" : "file");
    const std::string path = dir / (pipe ? "fifo" : "out");
    Bytes received;
    std::thread reader;
    if (pipe) {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      reader = std::thread([&] { received = readFile(path); });
    }
    OutputFile out(path);
    {
      InputFile in(dir / "in");
      const std::size_t part = count / 3;
      out.write(head.data(), head.size());
      out.writeCopyOf(source.data() + from, part, in, static_cast<std::int64_t>(from));
      out.writeCopyOf(source.data() + from + part, count - part, in, static_cast<std::int64_t>(from + part));
      out.write(tail.data(), tail.size());
      out.writeCopyOf(source.data() + after, 4096, in, after);
      out.writeCopyOf(source.data(), 4096, in, 0);
    }
    out.close();
    if (pipe) reader.join();
    EXPECT_TRUE((pipe ? received : readFile(path)) == expected);
  }
  // A copy past the input's end (it shrank after its packs were read) is an
  // error that names the input, not a short output; into the pipe, the
  // read-back finds it.
  for (const bool pipe : {false, true}) {
    SCOPED_TRACE(pipe ? "pipe" : "file");
    const std::string path = dir / (pipe ? "short-fifo" : "short");
    std::thread reader;
    if (pipe) {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      reader = std::thread([&] { readFile(path); });
    }
    InputFile in(dir / "in");
    OutputFile out(path);
    out.writeCopyOf(source.data(), source.size(), in, 4096);
    try {
      out.close();
      ADD_FAILURE() << "a copy past the end passed";
    } catch (const FileError& e) {
      EXPECT_EQ(e.what(), "Cannot read file \"" + std::string(dir / "in") + "\". It ended after " +
                              std::to_string(source.size()) + " bytes, while they were being copied");
    }
    if (pipe) reader.join();
  }
  InputFile in(dir / "in");

  // Where the kernel will not copy (a device), the bytes in hand are written.
  OutputFile full("/dev/full");
  EXPECT_THROW(
      {
        full.writeCopyOf(source.data(), source.size(), in, 0);
        full.close();
      },
      FileError);
}

TEST(OutputFileTest, ABackgroundWriteErrorReachesWriteAndClose) {
  OutputFile out("/dev/full");
  const Bytes data = manyBuffers(4);
  std::string writeError, closeError;
  try {
    for (int i = 0; i < 4; ++i) out.write(data.data(), data.size());
  } catch (const FileError& e) {
    writeError = e.what();
  }
  try {
    out.close();
  } catch (const FileError& e) {
    closeError = e.what();
  }
  // The file is incomplete, so closing it says so too, with the first error.
  EXPECT_EQ(closeError, "Stream write error \"/dev/full\". No space left on device");
  if (!writeError.empty()) {
    EXPECT_EQ(writeError, closeError);
  }
  EXPECT_NO_THROW(out.close());
}

TEST(OutputFileTest, ErrorsNameThePathAndReason) {
  try {
    OutputFile out("/nonexistent-folder/x.mpv");
    FAIL();
  } catch (const FileError& error) {
    EXPECT_STREQ(error.what(), "Cannot create file \"/nonexistent-folder/x.mpv\". No such file or directory");
  }
  try {
    InputFile in("/nonexistent-folder/x.evo");
    FAIL();
  } catch (const FileError& error) {
    EXPECT_STREQ(error.what(), "Cannot open file \"/nonexistent-folder/x.evo\". No such file or directory");
  }
}

// Every buffer the file layer hands to read and write starts on a page: the
// chunk buffer, the output buffers and their spares, the read-back buffer.
std::atomic<int> ioCalls{0};
std::atomic<int> misalignedCalls{0};

class IoAlignmentTest : public ScanFixture {
 protected:
  void SetUp() override {
    ioCalls = 0;
    misalignedCalls = 0;
    setIoBufferObserver([](const void* buffer, std::size_t) {
      ++ioCalls;
      if (!isIoAligned(buffer)) ++misalignedCalls;
    });
  }
  void TearDown() override { setIoBufferObserver(nullptr); }
};

TEST_F(IoAlignmentTest, ReadsAndWritesUsePageAlignedBuffers) {
  // Several chunks of video and enough of it for the output to hand over
  // more buffers than the writer keeps in flight, so spares come back.
  PsBuilder b;
  Bytes video;
  for (std::uint8_t i = 0; i < 40; ++i) {
    const Bytes part = pattern(60000, i);
    b.pes(0xE0, part, {.pts = 1000u + i});
    video.insert(video.end(), part.begin(), part.end());
  }
  const std::string v0 = openVideo(0);
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  ASSERT_EQ(readFile(v0), video);
  const int scanCalls = ioCalls;
  EXPECT_GE(scanCalls, static_cast<int>(b.bytes().size() / kPackBufferSize + video.size() / OutputFile::kBufferSize));

  // A copy into a pipe, which the kernel refuses: the bytes are read back.
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Bytes received;
  std::thread reader([&] { received = readFile(fifo); });
  {
    OutputFile out(fifo);
    InputFile in(dir / "input.evo");
    out.writeCopyOf(b.bytes().data(), b.bytes().size(), in, 0);
    out.close();
  }
  reader.join();
  EXPECT_TRUE(received == b.bytes());
  EXPECT_GT(ioCalls, scanCalls);
  EXPECT_EQ(misalignedCalls, 0) << "of " << ioCalls << " reads and writes";
}

}  // namespace
}  // namespace tarnwick::test
