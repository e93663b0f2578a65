// Demux against an independent program: ffmpeg makes a VOB from MPEG-2 video
// and AC-3 audio, then copies each stream out of it; tarnwick-cli must write
// the same bytes.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_process.h"
#include "support/builders.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

struct Clip {
  const char* name;
  int seconds;
  const char* videoRate;
  int audioStreams;
  bool outputFolder;  // -o, or beside the input
  std::uintmax_t minimumSize;
};

void PrintTo(const Clip& clip, std::ostream* os) { *os << clip.name; }

class CliPeerTest : public ::testing::TestWithParam<Clip> {};

ProcessResult ffmpeg(std::vector<std::string> args) {
  args.insert(args.begin(), {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"});
  return runProcess(args);
}

TEST_P(CliPeerTest, DemuxMatchesFfmpegStreamCopy) {
  if (!onPath("ffmpeg")) GTEST_SKIP() << "ffmpeg is not on PATH";
  const Clip& clip = GetParam();
  TempDir dir;
  const std::string vob = dir / "t.vob";

  std::vector<std::string> make = {"-f", "lavfi", "-i", "testsrc=size=352x288:rate=25"};
  for (int k = 0; k < clip.audioStreams; ++k)
    make.insert(make.end(), {"-f", "lavfi", "-i", "sine=frequency=" + std::to_string(440 * (k + 1)) + ":sample_rate=48000"});
  for (int k = 0; k <= clip.audioStreams; ++k) make.insert(make.end(), {"-map", std::to_string(k)});
  // Constant rate: the still test picture would otherwise shrink to a fraction of it.
  make.insert(make.end(), {"-t", std::to_string(clip.seconds), "-c:v", "mpeg2video", "-b:v", clip.videoRate, "-minrate",
                           clip.videoRate, "-maxrate", clip.videoRate, "-bufsize", "1835k", "-c:a", "ac3", "-b:a",
                           "192k", "-f", "vob", vob});
  ProcessResult made = ffmpeg(make);
  ASSERT_EQ(made.status, 0) << made.err;

  // The oracle's copies, picked by stream id so that no ordering is assumed.
  std::vector<std::string> copy = {"-i", vob, "-map", "0:v", "-c", "copy", "-f", "mpeg2video", dir / "v.m2v"};
  for (int k = 0; k < clip.audioStreams; ++k)
    copy.insert(copy.end(), {"-map", "0:i:" + std::to_string(0x80 + k), "-c", "copy", "-f", "ac3",
                             dir / ("a" + std::to_string(k) + ".ac3")});
  made = ffmpeg(copy);
  ASSERT_EQ(made.status, 0) << made.err;

  const std::string out = clip.outputFolder ? dir / "out" : dir.path().string();
  std::vector<std::string> demux = {TARNWICK_CLI, "demux", vob};
  if (clip.outputFolder) {
    std::filesystem::create_directory(out);
    demux.insert(demux.begin() + 2, {"-o", out});
  }
  const ProcessResult r = runProcess(demux);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GE(std::filesystem::file_size(vob), clip.minimumSize);

  const Bytes video = readFile(out + "/t.MPEG-2.stream.0.mpv");
  const Bytes expectedVideo = readFile(dir / "v.m2v");
  ASSERT_FALSE(expectedVideo.empty());
  EXPECT_TRUE(video == expectedVideo) << "video: " << video.size() << " bytes, ffmpeg " << expectedVideo.size();
  for (int k = 0; k < clip.audioStreams; ++k) {
    const std::string name = "/t.DD.stream.0" + std::to_string(k) + ".mpa";
    const Bytes audio = readFile(out + name);
    const Bytes expectedAudio = readFile(dir / ("a" + std::to_string(k) + ".ac3"));
    ASSERT_FALSE(expectedAudio.empty()) << k;
    EXPECT_TRUE(audio == expectedAudio) << name << ": " << audio.size() << " bytes, ffmpeg " << expectedAudio.size();
  }
  EXPECT_FALSE(std::filesystem::exists(out + "/t.DD.stream.0" + std::to_string(clip.audioStreams) + ".mpa"));
}

INSTANTIATE_TEST_SUITE_P(
    Clips, CliPeerTest,
    ::testing::Values(Clip{"ShortBesideTheInput", 3, "1M", 1, false, 0x40000},
                      // Over 4 MiB: many read chunks and a progress step.
                      Clip{"LongerWithTwoAudioStreams", 8, "5M", 2, true, 0x400000}),
    [](const ::testing::TestParamInfo<Clip>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwick::test
