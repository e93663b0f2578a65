// Dolby Digital (Plus) and DTS streams from ffmpeg's encoders, carried on
// private-stream-1 substreams: the header lines of a detailed scan must
// agree with what ffprobe reports for the same raw stream.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "playlist/track_names.h"
#include "support/scan_fixture.h"

namespace tarnwick::test {
namespace {

// Runs a shell command and returns its standard output.
std::string capture(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    pclose(pipe);
  }
  return out;
}

bool haveTools() { return std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") == 0; }

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// ffprobe's view of the first stream of a raw audio file: key=value pairs.
std::map<std::string, std::string> probe(const std::string& path) {
  std::istringstream text(
      capture("ffprobe -v error -select_streams a:0 -show_entries "
              "stream=sample_rate,bit_rate,channels,channel_layout -of default=nw=1 " +
              quoted(path)));
  std::map<std::string, std::string> fields;
  for (std::string line; std::getline(text, line);)
    if (const auto eq = line.find('='); eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  return fields;
}

struct Clip {
  const char* name;
  const char* codec;   // ffmpeg encoder
  const char* format;  // raw output format
  int sampleRate;
  int channels;
  const char* bitRate;
  std::uint8_t substreamId;
};

void PrintTo(const Clip& clip, std::ostream* os) { *os << clip.name; }

// The raw stream cut into PES packets of one substream, 2000 bytes of payload each.
Bytes programStream(const Bytes& raw, std::uint8_t substreamId) {
  PsBuilder ps;
  std::uint64_t pts = 90000;
  for (std::size_t at = 0; at < raw.size(); at += 2000) {
    const Bytes slice(raw.begin() + static_cast<std::ptrdiff_t>(at),
                      raw.begin() + static_cast<std::ptrdiff_t>(std::min(raw.size(), at + 2000)));
    ps.packHeader();
    if (substreamId >= 0x88 && substreamId <= 0x8F)
      ps.dts(substreamId, slice, pts);
    else
      ps.ac3(substreamId, slice, pts);
    pts += 3000;
  }
  return ps.bytes();
}

// The detail lines that follow the stream id line of the given substream.
std::vector<std::string> detailLines(const std::vector<std::string>& log, std::uint8_t substreamId) {
  char idLine[32];
  std::snprintf(idLine, sizeof idLine, "   Stream id = %02X", substreamId);
  std::vector<std::string> out;
  auto it = std::find(log.begin(), log.end(), idLine);
  if (it == log.end()) return out;
  for (++it; it != log.end() && it->rfind("   ", 0) == 0 && it->rfind("   First PTS", 0) != 0; ++it) {
    std::string line = *it;
    for (const char* tag : {"[b]", "[/b]"})
      for (auto at = line.find(tag); at != std::string::npos; at = line.find(tag))
        line.erase(at, std::string(tag).size());
    out.push_back(line);
  }
  return out;
}

// The text between `key` and `until` in the first line that holds key.
std::string field(const std::vector<std::string>& lines, const std::string& key, const std::string& until = ",") {
  for (const std::string& line : lines)
    if (const auto at = line.find(key); at != std::string::npos) {
      const auto from = at + key.size();
      const auto end = line.find(until, from);
      return line.substr(from, end == std::string::npos ? std::string::npos : end - from);
    }
  return "<missing " + key + ">";
}

// A real number as the reports write it, with "." or "," as the separator.
double number(std::string text) {
  std::replace(text.begin(), text.end(), ',', '.');
  return std::strtod(text.c_str(), nullptr);
}

bool layoutHasLfe(const std::string& layout) { return layout.find(".1") != std::string::npos; }

// The name a Matroska track gets without a playlist, from ffprobe's channels:
// "DD+ 5.1" for six channels with an LFE among them.
std::string expectedName(const std::string& kind, const std::map<std::string, std::string>& oracle) {
  const bool lfe = layoutHasLfe(oracle.at("channel_layout"));
  return kind + " " + std::to_string(std::stoi(oracle.at("channels")) - (lfe ? 1 : 0)) + (lfe ? ".1" : ".0");
}

class AudioPeerTest : public ScanFixture, public ::testing::WithParamInterface<Clip> {
 protected:
  // Encodes half a second of a tone; returns the raw stream's path.
  std::string encode(const Clip& clip) {
    const std::string path = dir / (std::string("clip.") + clip.format);
    const std::string source = "sine=frequency=440:sample_rate=" + std::to_string(clip.sampleRate);
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i " + source +
                                " -t 0.5 -ac " + std::to_string(clip.channels) + " -c:a " + clip.codec +
                                " -strict -2 -b:a " + clip.bitRate + " -f " + clip.format + " " + quoted(path);
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return path;
  }

  // Encodes the clip, asks ffprobe about the raw stream, packs it into a
  // program stream and scans it with details.
  void encodeAndScan(const Clip& clip) {
    const std::string path = encode(clip);
    raw = readFile(path);
    ASSERT_GT(raw.size(), 2000u);
    oracle = probe(path);
    ASSERT_EQ(oracle["sample_rate"], std::to_string(clip.sampleRate));
    scan(programStream(raw, clip.substreamId));
    lines = detailLines(log(), clip.substreamId);
  }

  Bytes raw;
  std::map<std::string, std::string> oracle;
  std::vector<std::string> lines;
};

class DolbyPeerTest : public AudioPeerTest {};
class DtsPeerTest : public AudioPeerTest {};
class PlainDolbyPeerTest : public AudioPeerTest {};

TEST_P(DolbyPeerTest, HeaderAgreesWithFfprobe) {
  if (!haveTools()) GTEST_SKIP() << "ffmpeg or ffprobe is not on PATH";
  const Clip& clip = GetParam();
  ASSERT_NO_FATAL_FAILURE(encodeAndScan(clip));
  const bool plus = std::string(clip.codec) == "eac3";
  ASSERT_EQ(lines.size(), plus ? 4u : 3u) << ::testing::PrintToString(log());

  const std::string streamLine = "   Stream " + std::to_string(clip.substreamId & 0x0F) + " is Dolby Digital";
  EXPECT_EQ(lines[0], plus ? streamLine + " Plus" : streamLine);
  EXPECT_EQ(std::stol(field(lines, "bitrate = ", " kbit/s")), std::stol(oracle["bit_rate"]) / 1000);
  EXPECT_EQ(number(field(lines, "sampling rate = ", " kHz")) * 1000, std::stod(oracle["sample_rate"]));

  // "3/2" is three front and two rear channels; "1+1" two independent ones.
  const std::string mode = field(lines, "mode = ");
  const int fullChannels = mode == "1+1" ? 2 : (mode.at(0) - '0') + (mode.at(2) - '0');
  const int bsid = std::stoi(field(lines, "bsid = "));
  if (plus) {
    const int lfeon = std::stoi(field(lines, "LFE present = "));
    EXPECT_EQ(fullChannels + lfeon, std::stoi(oracle["channels"])) << mode;
    EXPECT_EQ(lfeon == 1, layoutHasLfe(oracle["channel_layout"]));
    EXPECT_EQ(bsid, 16);
    // The frame size must land on the next sync word of the raw stream.
    const auto frameSize = std::stoul(field(lines, "frame size = "));
    ASSERT_LT(frameSize + 1, raw.size());
    EXPECT_EQ(raw[frameSize], 0x0B);
    EXPECT_EQ(raw[frameSize + 1], 0x77);
  } else {
    // The LFE channel is not part of acmod.
    EXPECT_EQ(fullChannels + (layoutHasLfe(oracle["channel_layout"]) ? 1 : 0), std::stoi(oracle["channels"])) << mode;
    EXPECT_LE(bsid, 8);
  }
  const StreamSlot slot{StreamClass::Audio, clip.substreamId & 0x0F};
  EXPECT_EQ(streamKindName(slot, state), expectedName("DD+", oracle));
}

// A Dolby Digital substream shows no header lines, but its header still
// gives the track name its channels. Quad (2/2) and 5.1 (3/2) put lfeon at
// different places of the header.
TEST_P(PlainDolbyPeerTest, NamedByItsChannels) {
  if (!haveTools()) GTEST_SKIP() << "ffmpeg or ffprobe is not on PATH";
  const Clip& clip = GetParam();
  ASSERT_NO_FATAL_FAILURE(encodeAndScan(clip));
  EXPECT_TRUE(lines.empty()) << ::testing::PrintToString(lines);
  EXPECT_EQ(streamKindName({StreamClass::Audio, clip.substreamId & 0x07}, state), expectedName("DD", oracle));
}

// Plain AC-3 frames on a Dolby Digital Plus substream are analysed too.
INSTANTIATE_TEST_SUITE_P(Encoders, DolbyPeerTest,
                         ::testing::Values(Clip{"eac3_48k_stereo_192k", "eac3", "eac3", 48000, 2, "192k", 0xC0},
                                           Clip{"eac3_48k_5_1_448k", "eac3", "eac3", 48000, 6, "448k", 0xC5},
                                           Clip{"eac3_44k1_stereo_128k", "eac3", "eac3", 44100, 2, "128k", 0xCF},
                                           Clip{"eac3_32k_mono_96k", "eac3", "eac3", 32000, 1, "96k", 0xC1},
                                           Clip{"ac3_48k_5_1_384k", "ac3", "ac3", 48000, 6, "384k", 0xC0},
                                           Clip{"ac3_44k1_stereo_192k", "ac3", "ac3", 44100, 2, "192k", 0xC2}),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Encoders, PlainDolbyPeerTest,
                         ::testing::Values(Clip{"ac3_48k_5_1_448k", "ac3", "ac3", 48000, 6, "448k", 0x80},
                                           Clip{"ac3_48k_quad_384k", "ac3", "ac3", 48000, 4, "384k", 0x83}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(DtsPeerTest, HeaderAgreesWithFfprobe) {
  if (!haveTools()) GTEST_SKIP() << "ffmpeg or ffprobe is not on PATH";
  const Clip& clip = GetParam();
  ASSERT_NO_FATAL_FAILURE(encodeAndScan(clip));
  ASSERT_GE(lines.size(), 9u) << ::testing::PrintToString(log());

  EXPECT_EQ(number(field(lines, "Core audio sampling frequency = ", " kHz")) * 1000, std::stod(oracle["sample_rate"]));
  EXPECT_EQ(number(field(lines, "Transmission bitrate = ", " kbit/s")) * 1000, std::stod(oracle["bit_rate"]));

  // "C + L + R + SL + SR" names five channels; a bracketed remark may follow.
  std::string arrangement = field(lines, "Audio channel arrangement = ", " (");
  const int named = 1 + static_cast<int>(std::count(arrangement.begin(), arrangement.end(), '+'));
  const bool lfe = field(lines, "LFE present = ").rfind("present", 0) == 0;
  EXPECT_EQ(named + (lfe ? 1 : 0), std::stoi(oracle["channels"])) << arrangement;
  EXPECT_EQ(lfe, layoutHasLfe(oracle["channel_layout"]));

  // FSIZE is one less than the frame's size: the next frame's sync word is there.
  const auto fsize = std::stoul(field(lines, "Primary frame byte size = "));
  ASSERT_LT(fsize + 4, raw.size());
  EXPECT_EQ(
      Bytes(raw.begin() + static_cast<std::ptrdiff_t>(fsize) + 1, raw.begin() + static_cast<std::ptrdiff_t>(fsize) + 5),
      Bytes({0x7F, 0xFE, 0x80, 0x01}));
  EXPECT_EQ(streamKindName({StreamClass::Audio, clip.substreamId & 0x07}, state), expectedName("DTS-HD", oracle));
}

INSTANTIATE_TEST_SUITE_P(Encoders, DtsPeerTest,
                         ::testing::Values(Clip{"dts_48k_stereo_1411k2", "dca", "dts", 48000, 2, "1411.2k", 0x88},
                                           Clip{"dts_44k1_5_1_768k", "dca", "dts", 44100, 6, "768k", 0x89},
                                           Clip{"dts_32k_mono_256k", "dca", "dts", 32000, 1, "256k", 0x8F}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwick::test
