// LPCM to WAV against ffmpeg's own decoding of the same program stream:
// streams from ffmpeg's DVD LPCM encoder (16- and 24-bit, one, two and six
// channels), and 16-, 20- and 24-bit streams of known samples from the
// builder with one to eight channels, cut into packets across their sample
// groups. Our scanner and Demux's writer take the stream out, our converter
// makes the WAV; its samples must equal ffmpeg's decoding of the source
// sample for sample, ffprobe must read it as the same channel layout, and
// mkvmerge must take it as PCM of the stream's rate, channels and bits. A
// Wave64 file of the same samples must read the same.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/lpcm_wav.h"
#include "support/builders.h"
#include "support/run_process.h"
#include "support/scan_fixture.h"

namespace tarnwick::test {
namespace {

bool haveTools() { return onPath("ffmpeg") && onPath("ffprobe") && onPath("mkvmerge") && onPath("python3"); }

std::map<std::string, std::string> keyValues(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (const auto eq = line.find('='); eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  return fields;
}

// ffprobe's view of the first audio stream.
std::map<std::string, std::string> probe(const std::string& path) {
  const ProcessResult r = runProcess({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                      "stream=codec_name,sample_rate,channels,channel_layout,bits_per_raw_sample,"
                                      "bits_per_sample",
                                      "-of", "default=nw=1", path});
  EXPECT_EQ(r.status, 0) << r.err;
  return keyValues(r.out);
}

// ffmpeg's decoding of the first audio stream as little-endian samples of
// the given width (s16le or s24le).
std::string decode(const std::string& path, const char* format) {
  const ProcessResult r = runProcess({"ffmpeg", "-v", "error", "-i", path, "-map", "0:a:0", "-f", format, "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

// mkvmerge -J of a WAV: "codec rate channels bits" of each track, and its errors.
std::string mkvmergeTracks(const std::string& path) {
  const ProcessResult r = runProcess({"mkvmerge", "-J", path});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const ProcessResult j = runProcess({"python3", "-c",
                                      "import json,sys\n"
                                      "d=json.load(sys.stdin)\n"
                                      "for e in d.get('errors',[]): print('error', e)\n"
                                      "for t in d['tracks']:\n"
                                      "  p=t['properties']\n"
                                      "  print(t['codec'], p.get('audio_sampling_frequency'), p.get('audio_channels'),"
                                      " p.get('audio_bits_per_sample'))"},
                                     r.out);
  EXPECT_EQ(j.status, 0) << j.err;
  return j.out;
}

// The index of the first sample where two runs of samples differ, for the
// failure message.
std::string firstDifference(const std::string& ours, const std::string& theirs, std::size_t sampleBytes) {
  if (ours == theirs) return "none";
  const std::size_t n = std::min(ours.size(), theirs.size());
  std::size_t i = 0;
  while (i < n && ours[i] == theirs[i]) ++i;
  return "sample " + std::to_string(i / sampleBytes) + " of " + std::to_string(ours.size() / sampleBytes) + " / " +
         std::to_string(theirs.size() / sampleBytes);
}

class LpcmPeerTest : public ScanFixture {
 protected:
  void SetUp() override {
    if (!haveTools()) GTEST_SKIP() << "ffmpeg, ffprobe, mkvmerge or python3 is missing";
  }

  // Our whole path for the LPCM stream of `source` in audio slot `slot`: the
  // scan writes the stream, the converter the WAV. Returns the format the
  // scan found.
  LpcmFormat toWav(const std::string& source, int slot, const std::string& wav) {
    const std::string stream = openAudio(slot);
    scanFile(source, ScanMode::Extraction);
    state.closeOutputs();
    EXPECT_TRUE(state.AudioSlots[slot].lpcmFormat.has_value());
    EXPECT_FALSE(state.AudioSlots[slot].lpcmFormatChange.has_value());
    const LpcmFormat format = state.AudioSlots[slot].lpcmFormat.value_or(LpcmFormat{});
    const Outcome outcome = convertLpcmToWav(stream, format, wav, window);
    EXPECT_TRUE(outcome.isDone()) << outcome.message;
    return format;
  }

  // The peers' checks of our WAV against the source program stream; with
  // `mkvmerge`, mkvmerge's reading of it as well.
  void expectSameAsSource(const std::string& source, const std::string& wav, const LpcmFormat& format,
                          bool mkvmerge = true) {
    const std::map<std::string, std::string> src = probe(source);
    const std::map<std::string, std::string> ours = probe(wav);
    ASSERT_EQ(src.at("codec_name"), "pcm_dvd");
    EXPECT_EQ(std::to_string(format.sampleRate), src.at("sample_rate"));
    EXPECT_EQ(std::to_string(format.channels), src.at("channels"));
    EXPECT_EQ(std::to_string(format.bitsPerSample), src.at("bits_per_raw_sample"));
    EXPECT_EQ(ours.at("sample_rate"), src.at("sample_rate"));
    EXPECT_EQ(ours.at("channels"), src.at("channels"));
    // A plain PCM WAV (16-bit, one or two channels) has no speaker mask to
    // say a layout with; every other one says ffmpeg's layout of the source.
    if (wavLayoutFor(format, 0).extensible)
      EXPECT_EQ(ours.at("channel_layout"), src.at("channel_layout"));
    else
      EXPECT_EQ(ours.at("channel_layout"), "unknown");

    const bool sixteen = format.bitsPerSample == 16;
    const char* raw = sixteen ? "s16le" : "s24le";
    const std::string theirs = decode(source, raw);
    ASSERT_FALSE(theirs.empty());
    // Our sample data as it lies in the file, and as ffmpeg reads our file.
    const Bytes file = readFile(wav);
    const std::size_t header = wavHeader(wavLayoutFor(format, 0)).size();
    ASSERT_GE(file.size(), header);
    const std::string data(file.begin() + static_cast<std::ptrdiff_t>(header), file.end());
    const std::size_t sampleBytes = sixteen ? 2 : 3;
    EXPECT_EQ(data.size(), theirs.size());
    EXPECT_TRUE(data == theirs) << "first difference: " << firstDifference(data, theirs, sampleBytes);
    EXPECT_TRUE(decode(wav, raw) == theirs) << "first difference: " << firstDifference(decode(wav, raw), theirs, sampleBytes);

    if (mkvmerge) {
      EXPECT_EQ(mkvmergeTracks(wav), "PCM " + src.at("sample_rate") + " " + src.at("channels") + " " +
                                       (sixteen ? "16" : "24") + "\n");
    }
  }
};

struct EncoderCase {
  const char* name;
  const char* layout;  // ffmpeg's channel layout for the encoder
  const char* sampleFormat;
};

void PrintTo(const EncoderCase& c, std::ostream* os) { *os << c.name; }

class LpcmEncoderPeerTest : public LpcmPeerTest, public ::testing::WithParamInterface<EncoderCase> {};

// ffmpeg's DVD LPCM encoder writes the program stream: a tone and noise on
// every channel, so that each channel and every bit of a 24-bit sample
// differs from the next.
TEST_P(LpcmEncoderPeerTest, SamplesEqualFfmpegDecodingOfTheSource) {
  const EncoderCase& c = GetParam();
  const std::string source = dir / "source.vob";
  std::string channels;
  const int count = std::string(c.layout) == "mono" ? 1 : std::string(c.layout) == "stereo" ? 2 : 6;
  for (int k = 0; k < count; ++k)
    channels += (k ? "|" : "") + std::string("0.") + std::to_string(2 + k) + "*sin(" + std::to_string(300 + 110 * k) +
                "*2*PI*t)+0.05*random(" + std::to_string(k) + ")";
  const ProcessResult made = runProcess({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                         "aevalsrc=" + channels + ":c=" + c.layout + ":s=48000:d=0.7", "-c:a",
                                         "pcm_dvd", "-sample_fmt", c.sampleFormat, "-f", "vob", source});
  ASSERT_EQ(made.status, 0) << made.err;

  const std::string wav = dir / "ours.wav";
  const LpcmFormat format = toWav(source, 0, wav);  // ffmpeg's stream is 0xA0
  EXPECT_EQ(format.bitsPerSample, std::string(c.sampleFormat) == "s16" ? 16 : 24);
  expectSameAsSource(source, wav, format);
}

INSTANTIATE_TEST_SUITE_P(Encoder, LpcmEncoderPeerTest,
                         ::testing::Values(EncoderCase{"Mono16", "mono", "s16"}, EncoderCase{"Mono24", "mono", "s32"},
                                           EncoderCase{"Stereo16", "stereo", "s16"},
                                           EncoderCase{"Stereo24", "stereo", "s32"},
                                           EncoderCase{"Six16", "5.1(side)", "s16"},
                                           EncoderCase{"Six24", "5.1(side)", "s32"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Known samples through the builder: 20-bit with one to eight channels, the
// channel counts that ffmpeg's encoder does not make in 16 and 24 bits, in
// packets of 1001 bytes so that groups and sample frames straddle them, on a
// stream id other than the first. mkvmerge reads the 20-bit ones.
TEST_F(LpcmPeerTest, BuilderStreamsOfEveryWidthAndChannelCount) {
  int cases = 0;
  for (const int bits : {16, 20, 24})
    for (int channels = 1; channels <= 8; ++channels) {
      if (bits == 16 && channels != 3 && channels != 8) continue;
      if (bits == 24 && channels != 3 && channels != 5 && channels != 7 && channels != 8) continue;
      SCOPED_TRACE(std::to_string(bits) + "-bit, " + std::to_string(channels) + " channels");
      const bool fast = channels <= 2;
      const auto code = static_cast<std::uint8_t>(((bits - 16) / 4) << 6 | (fast ? 0x10 : 0) | (channels - 1));
      std::vector<std::int32_t> samples(static_cast<std::size_t>(channels) * 4 * 600);
      std::uint32_t x = 7u + static_cast<std::uint32_t>(channels);
      const std::uint32_t mask = bits == 16 ? 0xFFFF00 : bits == 20 ? 0xFFFFF0 : 0xFFFFFF;
      for (std::int32_t& s : samples) {
        x = x * 1664525u + 1013904223u;
        s = static_cast<std::int32_t>((x >> 8) & mask);
      }
      const Bytes payload = lpcmSampleBytes(samples, channels, bits);
      PsBuilder ps;
      std::uint64_t pts = 90000;
      for (std::size_t at = 0; at < payload.size(); at += 1001, pts += 900) {
        const auto end = static_cast<std::ptrdiff_t>(std::min(payload.size(), at + 1001));
        ps.packHeader().lpcm(0xA3, Bytes(payload.begin() + static_cast<std::ptrdiff_t>(at), payload.begin() + end), pts,
                             code, static_cast<std::uint8_t>(at / 1001 % 20));
      }
      const std::string source = dir / ("built" + std::to_string(cases) + ".vob");
      ps.writeTo(source);

      state = ScanState();
      const std::string wav = dir / ("built" + std::to_string(cases) + ".wav");
      const LpcmFormat format = toWav(source, 3, wav);
      EXPECT_EQ(format, lpcmFormatOf(code));
      // Our samples are the ones put in, 16-bit ones as their top 16 bits.
      Bytes expected;
      for (const std::int32_t v : samples) {
        if (bits != 16) expected.push_back(static_cast<std::uint8_t>(v));
        expected.push_back(static_cast<std::uint8_t>(v >> 8));
        expected.push_back(static_cast<std::uint8_t>(v >> 16));
      }
      const Bytes file = readFile(wav);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.end() - static_cast<std::ptrdiff_t>(expected.size())));
      expectSameAsSource(source, wav, format, bits == 20);
      ++cases;
    }
  EXPECT_EQ(cases, 2 + 8 + 4);
}

// Mono 20- and 24-bit samples come in groups of two (5 or 6 bytes), which
// ffmpeg's decoder takes two at a time: a stream that ends one group after
// such a pair still ends in whole samples, and a group cut short at the end
// is no sample at all.
TEST_F(LpcmPeerTest, MonoStreamsEndingBetweenGroupPairs) {
  for (const int bits : {20, 24})
    for (const std::size_t extra : {0u, 1u, 3u}) {
      SCOPED_TRACE(std::to_string(bits) + "-bit mono, " + std::to_string(extra) + " bytes after the last group");
      const auto code = static_cast<std::uint8_t>(((bits - 16) / 4) << 6 | 0x10);
      std::vector<std::int32_t> samples(4 * 300 + 2);
      std::uint32_t x = 99;
      for (std::int32_t& s : samples) {
        x = x * 1664525u + 1013904223u;
        s = static_cast<std::int32_t>((x >> 8) & (bits == 20 ? 0xFFFFF0 : 0xFFFFFF));
      }
      Bytes payload = lpcmSampleBytes(samples, 1, bits);
      payload.resize(payload.size() + extra, 0x77);
      PsBuilder ps;
      std::uint64_t pts = 90000;
      for (std::size_t at = 0; at < payload.size(); at += 1001, pts += 900) {
        const auto end = static_cast<std::ptrdiff_t>(std::min(payload.size(), at + 1001));
        ps.packHeader().lpcm(0xA0, Bytes(payload.begin() + static_cast<std::ptrdiff_t>(at), payload.begin() + end), pts,
                             code);
      }
      const std::string source = dir / "mono.vob";
      ps.writeTo(source);
      state = ScanState();
      window.clearLog();
      const std::string wav = dir / "mono.wav";
      const LpcmFormat format = toWav(source, 0, wav);
      const Bytes file = readFile(wav);
      const std::size_t header = wavHeader(wavLayoutFor(format, 0)).size();
      const std::string ours(file.begin() + static_cast<std::ptrdiff_t>(header), file.end());
      const std::string theirs = decode(source, "s24le");
      // All the samples put in, the last pair's worth too; ffmpeg's are the
      // same but for that last group.
      Bytes expected;
      for (const std::int32_t v : samples)
        expected.insert(expected.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                         static_cast<std::uint8_t>(v >> 16)});
      EXPECT_TRUE(ours == std::string(expected.begin(), expected.end()))
          << "first difference: " << firstDifference(ours, std::string(expected.begin(), expected.end()), 3);
      EXPECT_EQ(theirs.size(), ours.size() - 2 * 3);
      EXPECT_TRUE(ours.starts_with(theirs)) << "first difference: " << firstDifference(ours, theirs, 3);
      if (extra == 0)
        EXPECT_TRUE(window.logText().empty());
      else
        EXPECT_EQ(window.logText(),
                  std::vector<std::string>{"The last " + std::to_string(extra) + (extra == 1 ? " byte of audio0 does" : " bytes of audio0 do") +
                                           " not make a whole group of samples and " + (extra == 1 ? "is" : "are") +
                                           " left out."});
    }
}

// A Wave64 file made of the same samples reads as the WAV does: the header
// writer's other layout, without a file past 4 GiB.
TEST_F(LpcmPeerTest, Wave64OfTheSameSamplesReadsTheSame) {
  const std::string source = dir / "source.vob";
  const ProcessResult made =
      runProcess({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                  "aevalsrc=0.3*sin(440*2*PI*t)+0.01*random(0)|0.2*sin(660*2*PI*t):c=stereo:s=96000:d=0.3", "-c:a",
                  "pcm_dvd", "-sample_fmt", "s32", "-f", "vob", source});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string wav = dir / "ours.wav";
  const LpcmFormat format = toWav(source, 0, wav);
  ASSERT_EQ(format.sampleRate, 96000);

  const Bytes riff = readFile(wav);
  WavLayout layout = wavLayoutFor(format, riff.size() - wavHeader(wavLayoutFor(format, 0)).size());
  ASSERT_EQ(layout.container, WavContainer::Riff);
  const Bytes data(riff.begin() + static_cast<std::ptrdiff_t>(riff.size() - layout.dataBytes), riff.end());
  layout.container = WavContainer::Wave64;
  Bytes w64 = wavHeader(layout);
  w64.insert(w64.end(), data.begin(), data.end());
  w64.resize(w64.size() + wavTrailerBytes(layout), 0);
  const std::string path = dir / "ours.w64";
  writeFile(path, w64);

  EXPECT_EQ(probe(path), probe(wav));
  EXPECT_TRUE(decode(path, "s24le") == decode(source, "s24le"));
  EXPECT_EQ(mkvmergeTracks(path), "PCM 96000 2 24\n");
}

}  // namespace
}  // namespace tarnwick::test
