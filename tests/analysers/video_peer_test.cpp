// MPEG-2 and VC-1 sequence header reports on real streams, checked against
// what ffprobe reads from the same streams. ffmpeg encodes the MPEG-2 video
// and muxes it as a VOB; the VC-1 stream comes from the sample-disc
// generator, whose raw elementary stream ffprobe reads on its own.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "support/scan_fixture.h"

namespace tarnwick::test {
namespace {

struct Output {
  int status = -1;
  std::string text;
};

std::string quoted(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a program through the shell and collects what it prints.
Output run(const std::vector<std::string>& args) {
  std::string command;
  for (const auto& arg : args) command += quoted(arg) + " ";
  command += "2>&1";
  Output out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.text.append(chunk, n);
  const int status = pclose(pipe);
  out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

bool onPath(const std::string& program) { return run({"sh", "-c", "command -v " + program}).status == 0; }

// ffprobe's view of the first video stream: key=value per entry.
std::map<std::string, std::string> probe(const std::string& path, const std::vector<std::string>& format = {}) {
  std::vector<std::string> args = {"ffprobe", "-v", "error"};
  args.insert(args.end(), format.begin(), format.end());
  args.insert(args.end(), {"-select_streams", "v:0", "-show_entries",
                           "stream=codec_name,profile,level,width,height,r_frame_rate,sample_aspect_ratio,"
                           "display_aspect_ratio,field_order,pix_fmt:stream_side_data=max_bitrate",
                           "-of", "default=noprint_wrappers=1", path});
  const Output out = run(args);
  std::map<std::string, std::string> entries;
  EXPECT_EQ(out.status, 0) << out.text;
  std::istringstream lines(out.text);
  for (std::string line; std::getline(lines, line);)
    if (const auto eq = line.find('='); eq != std::string::npos) entries[line.substr(0, eq)] = line.substr(eq + 1);
  return entries;
}

double rational(const std::string& text) {
  const auto slash = text.find('/');
  if (slash == std::string::npos) return std::stod(text);
  return std::stod(text.substr(0, slash)) / std::stod(text.substr(slash + 1));
}

// The text after `prefix` in the one log line that starts with it.
std::optional<std::string> after(const std::vector<std::string>& log, const std::string& prefix) {
  std::optional<std::string> found;
  for (const auto& line : log) {
    if (line.rfind(prefix, 0) != 0) continue;
    EXPECT_FALSE(found) << "two lines start with \"" << prefix << "\"";
    found = line.substr(prefix.size());
  }
  return found;
}

struct Mpeg2Clip {
  const char* name;
  const char* size;
  const char* rate;
  const char* aspect;
  const char* bitRate;  // constant rate; nullptr lets the encoder vary it
  bool interlaced;
};

void PrintTo(const Mpeg2Clip& clip, std::ostream* os) { *os << clip.name; }

class Mpeg2PeerTest : public ScanFixture, public ::testing::WithParamInterface<Mpeg2Clip> {};

TEST_P(Mpeg2PeerTest, HeaderMatchesFfprobe) {
  if (!onPath("ffmpeg") || !onPath("ffprobe")) GTEST_SKIP() << "ffmpeg or ffprobe is not on PATH";
  const Mpeg2Clip& clip = GetParam();
  const std::string vob = dir / "clip.vob";
  std::vector<std::string> make = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi",
                                   "-i", std::string("testsrc=size=") + clip.size + ":rate=" + clip.rate, "-t", "0.4",
                                   "-c:v", "mpeg2video", "-aspect", clip.aspect};
  if (clip.bitRate != nullptr)
    make.insert(make.end(), {"-b:v", clip.bitRate, "-minrate", clip.bitRate, "-maxrate", clip.bitRate, "-bufsize",
                             "1835k"});
  if (clip.interlaced) make.insert(make.end(), {"-flags", "+ildct+ilme", "-top", "1"});
  make.insert(make.end(), {"-f", "vob", vob});
  const Output made = run(make);
  ASSERT_EQ(made.status, 0) << made.text;

  scanFile(vob);
  const auto lines = log();
  auto oracle = probe(vob);
  ASSERT_EQ(oracle["codec_name"], "mpeg2video");

  EXPECT_EQ(after(lines, "   Sequence Header found"), "");
  EXPECT_EQ(after(lines, "   size = "), oracle["width"] + "x" + oracle["height"]);

  // The report rounds the rate to its table's text (29.97 for 30000/1001).
  const auto rate = after(lines, "   Frame rate = ");
  ASSERT_TRUE(rate);
  EXPECT_NEAR(std::stod(*rate), rational(oracle["r_frame_rate"]), 0.005) << *rate << " vs " << oracle["r_frame_rate"];

  // ffprobe gives the display ratio for the 4:3 and 16:9 codes and a 1:1
  // sample ratio for square samples.
  const auto aspect = after(lines, "   Aspect ratio = ");
  ASSERT_TRUE(aspect);
  if (*aspect == "square samples")
    EXPECT_EQ(oracle["sample_aspect_ratio"], "1:1");
  else
    EXPECT_EQ(*aspect, oracle["display_aspect_ratio"]);

  // ffprobe's decoder passes the header's rate on as the coded picture
  // buffer's maximum; a varying rate, announced as bit_rate_value 0x3FFFF,
  // it passes on as 0.
  const auto bitRate = after(lines, "  Sequence header bitrate = ");
  ASSERT_TRUE(bitRate);
  if (clip.bitRate != nullptr) {
    EXPECT_EQ(*bitRate, oracle["max_bitrate"] + " bps");
  } else {
    EXPECT_EQ(oracle["max_bitrate"], "0");
    EXPECT_EQ(*bitRate, std::to_string(0x3FFFF * 400) + " bps");
  }

  const auto progressive = after(lines, "   Progressive Sequence = ");
  ASSERT_TRUE(progressive);
  EXPECT_EQ(*progressive, oracle["field_order"] == "progressive" ? "1" : "0") << oracle["field_order"];
}

INSTANTIATE_TEST_SUITE_P(
    Clips, Mpeg2PeerTest,
    ::testing::Values(Mpeg2Clip{"pal_16_9", "720x576", "25", "16:9", "6000k", false},
                      Mpeg2Clip{"hd_film", "1920x1080", "24000/1001", "16:9", nullptr, false},
                      Mpeg2Clip{"sif_ntsc", "352x240", "30000/1001", "4:3", "1500k", false},
                      Mpeg2Clip{"ntsc_interlaced", "720x480", "30000/1001", "4:3", "8000k", true},
                      Mpeg2Clip{"hd_720p", "1280x720", "60000/1001", "16:9", "12000k", false}),
    [](const ::testing::TestParamInfo<Mpeg2Clip>& info) { return std::string(info.param.name); });

// The sample-disc generator sits beside the test programs in the build tree.
std::string mkdiscPath() {
  if (const char* path = std::getenv("TARNWICK_MKDISC")) return path;
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return (self.parent_path().parent_path() / "tools" / "tarnwick-mkdisc").string();
}

class Vc1PeerTest : public ScanFixture {};

TEST_F(Vc1PeerTest, SampleDiscHeaderMatchesFfprobe) {
  if (!onPath("ffmpeg") || !onPath("ffprobe")) GTEST_SKIP() << "ffmpeg or ffprobe is not on PATH";
  const std::string mkdisc = mkdiscPath();
  ASSERT_TRUE(std::filesystem::exists(mkdisc)) << "build tarnwick-mkdisc or set TARNWICK_MKDISC: " << mkdisc;
  // A feature made to a size has the synthesised VC-1 (the sample's own is H.264).
  const Output made = run({mkdisc, dir / "disc", "--size", "2M", "--seconds", "1", "--es", dir / "es"});
  ASSERT_EQ(made.status, 0) << made.text;

  scanFile(dir / "disc/HVDVD_TS/FEATURE_1.EVO");
  const auto lines = log();
  // ffprobe reads the raw elementary stream, not our program stream.
  auto oracle = probe(dir / "es/video_fd55.vc1", {"-f", "vc1"});
  ASSERT_EQ(oracle["codec_name"], "vc1");

  EXPECT_EQ(after(lines, "   Sequence Header found"), "");
  EXPECT_EQ(after(lines, "   0 frames before first I-frame"), "");
  EXPECT_EQ(after(lines, "   " + oracle["profile"] + " Profile"), "");
  EXPECT_EQ(after(lines, "   Level = "), oracle["level"]);
  EXPECT_EQ(after(lines, "   Chroma Format = "), oracle["pix_fmt"] == "yuv420p" ? "4:2:0" : "Reserved");
  EXPECT_EQ(after(lines, "   Size = "), oracle["width"] + "x" + oracle["height"]);
  EXPECT_TRUE(after(lines, "   Pulldown = "));
  EXPECT_EQ(after(lines, "   Interlace = "), oracle["field_order"] == "progressive" ? "0" : "1")
      << oracle["field_order"];
  // "23.976023976024 (24000/1001)": the rate and the fraction it comes from.
  const auto rate = after(lines, "   Frame Rate = ");
  ASSERT_TRUE(rate);
  const auto open = rate->find(" (");
  ASSERT_NE(open, std::string::npos) << *rate;
  EXPECT_EQ(rate->substr(open), " (" + oracle["r_frame_rate"] + ")");
  EXPECT_NEAR(std::stod(rate->substr(0, open)), rational(oracle["r_frame_rate"]), 1e-9) << *rate;
  // The aspect text begins with the sample aspect ratio; the display size
  // has the display aspect ratio.
  const auto aspect = after(lines, "   Aspect ratio = ");
  ASSERT_TRUE(aspect);
  EXPECT_EQ(aspect->substr(0, aspect->find(' ')), oracle["sample_aspect_ratio"]);
  const auto displayWidth = after(lines, "   Display Horizontal size = ");
  const auto displayHeight = after(lines, "   Display Vertical size = ");
  ASSERT_TRUE(displayWidth && displayHeight);
  const int w = std::stoi(*displayWidth), h = std::stoi(*displayHeight), g = std::gcd(w, h);
  EXPECT_EQ(std::to_string(w / g) + ":" + std::to_string(h / g), oracle["display_aspect_ratio"]);
}

}  // namespace
}  // namespace tarnwick::test
