// H.264 from x264 at several profiles and levels, packed into a program
// stream on stream id 0xE2 and read by the scanner with details: profile,
// level and the access units before the first I unit must agree with what
// ffprobe reports for the same stream. Then the built CLI: `read --json`
// must carry exactly the detail lines that `read` logs for the stream. The
// frame rate read from the sequence's timing (for the MKV) must be ffprobe's.


#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analysers/h264_header.h"
#include "support/builders.h"
#include "support/run_process.h"
#include "support/scan_fixture.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// ffprobe's flat output (key=value, strings quoted) as a map.
std::map<std::string, std::string> flat(const std::string& text) {
  std::map<std::string, std::string> values;
  for (const std::string& line : splitLines(text)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    values[line.substr(0, eq)] = value;
  }
  return values;
}

struct Clip {
  const char* name;
  const char* profile;  // -profile:v
  const char* level;    // -level
  const char* pixFmt;
  const char* size;
  const char* x264;     // x264 parameters besides aud=1
  // The packed stream starts at this access unit of the encoded one, in
  // decode order: x264 always starts with an I unit.
  std::size_t startAt;
  const char* rate = "25";  // the source's frame rate
};

void PrintTo(const Clip& clip, std::ostream* os) { *os << clip.name; }

// What ffprobe calls each profile, and the line the report gives for it.
// Profile 244 (High 4:4:4 Predictive) is not one the report knows.
std::string profileLineFor(const std::string& ffprobeProfile) {
  static const std::map<std::string, std::string> lines = {
      {"Baseline", "   Baseline Profile"},
      {"Constrained Baseline", "   Baseline Profile"},
      {"Main", "   Main Profile"},
      {"Extended", "   Extended Profile"},
      {"High", "   High Profile"},
      {"High 10", "   High 10 Profile"},
      {"High 4:2:2", "   High 4:2:2 Profile"},
      {"High 4:4:4 Predictive", "   Unknown Profile"},
  };
  const auto it = lines.find(ffprobeProfile);
  if (it == lines.end()) {
    ADD_FAILURE() << "no expected line for ffprobe's profile \"" << ffprobeProfile << "\"";
    return "";
  }
  return it->second;
}

struct Frame {
  long pos;  // of the access unit in the raw stream
  std::string pictType;
};

constexpr std::uint64_t kPts = 0x2328;
constexpr std::uint64_t kDts = 0x1F40;
constexpr std::size_t kPiece = 2000;
// PES_packet_length less the flags, the header data length, PTS and DTS.
constexpr std::size_t kMaxFirstPayload = 65535 - 3 - 10;

// A clip encoded, cut, packed, and what the oracle says the report must be.
struct Prepared {
  Bytes programStream;
  std::vector<std::string> expectedDetails;  // the lines after the found line
};

// Encodes the clip, starts it at clip.startAt, and packs it: the first PES
// payload holds the access units up to and including the first I unit, so
// that the one run the analyser sees holds the count and one parameter set;
// the rest follows in smaller packets.
void prepare(const Clip& clip, const TempDir& dir, Prepared& prepared) {
  const std::string encoded = dir / "encoded.h264", packedEs = dir / "packed.h264";
  ProcessResult r = runProcess({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                         std::string("testsrc=size=") + clip.size + ":rate=" + clip.rate, "-t", "1", "-c:v", "libx264",
                         "-profile:v", clip.profile, "-level", clip.level, "-x264-params",
                         std::string("aud=1") + (*clip.x264 != '\0' ? ":" : "") + clip.x264, "-pix_fmt",
                         clip.pixFmt, "-f", "h264", encoded});
  ASSERT_EQ(r.status, 0) << r.err;
  const Bytes full = readFile(encoded);

  // ffprobe lists frames in display order; ordered by their position in the
  // stream they are in decode order, the order the delimiters come in.
  r = runProcess({"ffprobe", "-v", "error", "-select_streams", "v", "-show_entries", "frame=pkt_pos,pict_type", "-of", "flat",
           encoded});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto frameFields = flat(r.out);
  std::vector<Frame> frames;
  for (int k = 0; frameFields.count("frames.frame." + std::to_string(k) + ".pkt_pos") != 0; ++k) {
    const std::string key = "frames.frame." + std::to_string(k);
    frames.push_back({std::stol(frameFields.at(key + ".pkt_pos")), frameFields.at(key + ".pict_type")});
  }
  std::sort(frames.begin(), frames.end(), [](const Frame& a, const Frame& b) { return a.pos < b.pos; });
  ASSERT_GT(frames.size(), clip.startAt + 1);
  std::size_t firstI = clip.startAt;
  while (firstI < frames.size() && frames[firstI].pictType != "I") ++firstI;
  ASSERT_LT(firstI, frames.size()) << "no I frame after the start";

  const auto cut = static_cast<std::size_t>(frames[clip.startAt].pos);
  const std::size_t firstEnd = firstI + 1 < frames.size() ? static_cast<std::size_t>(frames[firstI + 1].pos) : full.size();
  ASSERT_LE(firstEnd - cut, kMaxFirstPayload) << "clip too large for one PES packet";
  const Bytes es(full.begin() + static_cast<std::ptrdiff_t>(cut), full.end());
  ASSERT_GE(es.size(), 5u);
  ASSERT_EQ(Bytes(es.begin(), es.begin() + 5), (Bytes{0x00, 0x00, 0x00, 0x01, 0x09})) << "cut off a delimiter";
  writeFile(packedEs, es);

  r = runProcess({"ffprobe", "-v", "error", "-show_entries", "stream=profile,level,r_frame_rate", "-of", "flat", packedEs});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto stream = flat(r.out);
  ASSERT_EQ(stream.count("streams.stream.0.profile"), 1u) << r.out;
  ASSERT_EQ(stream.count("streams.stream.0.level"), 1u) << r.out;
  std::string level = stream.at("streams.stream.0.level");
  if (std::string(clip.level) == "1b") {
    // ffprobe shows only level_idc; x264 writes 1b as level_idc 11 with
    // constraint_set3_flag in these profiles.
    ASSERT_EQ(level, "11");
    level = "1b";
  }

  const std::size_t firstLength = firstEnd - cut;
  EXPECT_EQ(H264FrameRate(es.data(), 0, static_cast<std::int32_t>(firstLength)),
            stream.at("streams.stream.0.r_frame_rate"));

  PsBuilder ps;
  ps.packHeader().pes(0xE2, Bytes(es.begin(), es.begin() + static_cast<std::ptrdiff_t>(firstLength)),
                      {.pts = kPts, .dts = kDts});
  for (std::size_t at = firstLength; at < es.size(); at += kPiece) {
    const std::size_t n = std::min(kPiece, es.size() - at);
    ps.packHeader().pes(0xE2, Bytes(es.begin() + static_cast<std::ptrdiff_t>(at),
                                    es.begin() + static_cast<std::ptrdiff_t>(at + n)));
  }
  prepared.programStream = ps.bytes();
  prepared.expectedDetails = {"   First PTS = 00002328", "   Stream id = E2",
                              "   " + std::to_string(firstI - clip.startAt) + " frames before first I-frame",
                              profileLineFor(stream.at("streams.stream.0.profile")), "   Level = " + level};
}

bool haveTools() { return onPath("ffmpeg") && onPath("ffprobe"); }

class H264PeerTest : public ScanFixture, public ::testing::WithParamInterface<Clip> {};

TEST_P(H264PeerTest, ReportAgreesWithFfprobe) {
  if (!haveTools()) GTEST_SKIP() << "ffmpeg or ffprobe is not on PATH";
  Prepared prepared;
  ASSERT_NO_FATAL_FAILURE(prepare(GetParam(), dir, prepared));
  scan(prepared.programStream);
  std::vector<std::string> expected = {"H.264 video stream 0 found!"};
  expected.insert(expected.end(), prepared.expectedDetails.begin(), prepared.expectedDetails.end());
  EXPECT_EQ(log(), expected);
}

const Clip kClips[] = {
    {"baseline_3_0", "baseline", "3.0", "yuv420p", "176x144", "", 0},
    {"baseline_1b", "baseline", "1b", "yuv420p", "128x96", "", 0},
    // Cut into a group of pictures: P and B units come before the next I unit.
    {"main_4_0_from_a_p_unit", "main", "4.0", "yuv420p", "320x240", "keyint=12:min-keyint=12:scenecut=0:bframes=2", 1,
     "30000/1001"},
    // Scaling lists in the sequence parameter set, before its timing.
    {"high_4_1_from_a_b_unit", "high", "4.1", "yuv420p", "352x288",
     "keyint=10:min-keyint=10:scenecut=0:bframes=3:cqm=jvt", 3, "24000/1001"},
    {"high10_3_1", "high10", "3.1", "yuv420p10le", "320x240", "", 0, "50"},
    {"high422_3_2", "high422", "3.2", "yuv422p", "320x240", "", 0},
    {"high444_3_1", "high444", "3.1", "yuv444p", "320x240", "", 0},
};

INSTANTIATE_TEST_SUITE_P(X264, H264PeerTest, ::testing::ValuesIn(kClips),
                         [](const ::testing::TestParamInfo<Clip>& info) { return std::string(info.param.name); });

// The CLI beside this test program: BUILD/tests/<this> and BUILD/src/app/cli.
std::filesystem::path cliPath() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return self.parent_path().parent_path() / "src" / "app" / "cli" / "tarnwick-cli";
}

// Reads the report with python's own JSON parser: for each stream with id
// 0xE2, a line "stream" and then its detail lines.
constexpr const char* kDetailsOfE2 =
    "import json, sys\n"
    "report = json.load(open(sys.argv[1], encoding='utf-8'))\n"
    "for s in report['streams']:\n"
    "    if s['streamId'] == 0xE2:\n"
    "        print('stream')\n"
    "        for line in s['details']:\n"
    "            print(line)\n";

TEST(H264CliReport, JsonDetailsAreTheLoggedDetailLines) {
  if (!haveTools()) GTEST_SKIP() << "ffmpeg or ffprobe is not on PATH";
  if (!onPath("python3")) GTEST_SKIP() << "python3 is not on PATH";
  const std::filesystem::path cli = cliPath();
  if (cli.empty() || !std::filesystem::exists(cli)) GTEST_SKIP() << "tarnwick-cli is not built at " << cli;

  TempDir dir;
  Prepared prepared;
  const Clip clip = {"main_from_a_b_unit", "main", "3.1", "yuv420p", "320x240",
                     "keyint=8:min-keyint=8:scenecut=0:bframes=2", 2};
  ASSERT_NO_FATAL_FAILURE(prepare(clip, dir, prepared));
  const std::string evo = dir / "H264.EVO";
  writeFile(evo, prepared.programStream);

  const ProcessResult read = runProcess({cli.string(), "read", evo});
  ASSERT_EQ(read.status, 0) << read.err;
  const std::vector<std::string> log = splitLines(read.out);
  const auto found = std::find(log.begin(), log.end(), "H.264 video stream 0 found!");
  ASSERT_NE(found, log.end()) << read.out;
  std::vector<std::string> logged;
  for (auto it = found + 1; it != log.end() && it->starts_with("   "); ++it) logged.push_back(*it);
  EXPECT_EQ(logged, prepared.expectedDetails) << read.out;

  const ProcessResult json = runProcess({cli.string(), "read", "--json", evo});
  ASSERT_EQ(json.status, 0) << json.err;
  const std::string jsonPath = dir / "report.json";
  std::ofstream(jsonPath, std::ios::binary) << json.out;
  const ProcessResult parsed = runProcess({"python3", "-c", kDetailsOfE2, jsonPath});
  ASSERT_EQ(parsed.status, 0) << parsed.err << json.out;
  std::vector<std::string> expected = {"stream"};
  expected.insert(expected.end(), logged.begin(), logged.end());
  EXPECT_EQ(splitLines(parsed.out), expected) << json.out;
}

}  // namespace
}  // namespace tarnwick::test
