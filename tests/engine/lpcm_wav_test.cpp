// LPCM headers in the scanner and the WAV made from Demux's LPCM output:
// the format a stream's first header gives and the packet that changes it,
// the WAV and Wave64 headers, the sample regrouping, and a conversion that
// is cancelled, fills the disk or meets a format it cannot convert.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/demux_run.h"
#include "engine/lpcm_wav.h"
#include "support/builders.h"
#include "support/recording_report.h"
#include "support/scan_fixture.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr std::uint8_t k48k16Stereo = 0x01;
constexpr std::uint8_t k96k24Six = 0x95;  // quantisation 2, frequency 1, channels − 1 = 5
// From a PES packet's start to its LPCM format byte: start code and length
// (6), flags and header length (3), PTS (5), substream id and the three
// bytes after it (4), emphasis/mute/frame number (1).
constexpr std::size_t kFormatByteOffset = 19;

std::uint64_t le(const std::vector<std::uint8_t>& b, std::size_t at, int width) {
  std::uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
  return v;
}

// Samples of every bit width: a few known extremes, then a walk that sets
// each bit somewhere, as 24-bit values (a 16- or 20-bit sample in the top
// bits).
std::vector<std::int32_t> testSamples(std::size_t n, int bits) {
  std::vector<std::int32_t> s(n);
  std::uint32_t x = 0x12345u;
  const std::int32_t mask = bits == 16 ? 0xFFFF00 : bits == 20 ? 0xFFFFF0 : 0xFFFFFF;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<std::int32_t>((x >> 4) & static_cast<std::uint32_t>(mask));
  }
  const std::int32_t extremes[] = {0x7FFFFF, 0x800000, 0x000001, 0xFFFFFF, 0};
  for (std::size_t i = 0; i < n && i < 5; ++i) s[i] = extremes[i] & mask;
  return s;
}

Bytes littleEndian(const std::vector<std::int32_t>& samples, int bits) {
  Bytes out;
  for (const std::int32_t v : samples) {
    if (bits != 16) out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
  }
  return out;
}

class LpcmScanTest : public ScanFixture {};

// Packets of one stream:        format byte
//   A2 48 kHz 16-bit 2 ch        frame 0
//   A2 same, other frame number  frame 1   (no change)
//   A2 96 kHz 24-bit 6 ch        frame 2   (the change, its byte past the first chunk)
//   A2 48 kHz 16-bit 2 ch again            (a later change is not the first)
TEST_F(LpcmScanTest, FirstHeaderGivesTheFormatAndTheFirstOtherHeaderIsTheChange) {
  PsBuilder b;
  b.packHeader().lpcm(0xA2, pattern(400), 90000, k48k16Stereo, 0);
  b.packHeader().lpcm(0xA2, pattern(400), 93000, k48k16Stereo, 1);
  b.padTo(kPackBufferSize - 10);
  const std::size_t changed = b.size();
  b.lpcm(0xA2, pattern(400), 96000, k96k24Six, 2);
  b.packHeader().lpcm(0xA2, pattern(400), 99000, k48k16Stereo, 3);
  scan(b.bytes(), ScanMode::Extraction);

  ASSERT_TRUE(state.AudioSlots[2].lpcmFormat.has_value());
  EXPECT_EQ(lpcmFormatText(*state.AudioSlots[2].lpcmFormat), "48 kHz 16-bit 2 channels");
  ASSERT_TRUE(state.AudioSlots[2].lpcmFormatChange.has_value());
  const LpcmFormatChange& change = *state.AudioSlots[2].lpcmFormatChange;
  EXPECT_EQ(change.position, static_cast<std::int64_t>(changed + kFormatByteOffset));
  EXPECT_EQ(change.file, dir / "input.evo");
  EXPECT_EQ(change.after, lpcmFormatOf(k96k24Six));
  EXPECT_EQ(lpcmFormatChangeMessage(2, change),
            "LPCM audio stream 2 changes its format at byte " + std::to_string(changed + kFormatByteOffset) +
                " of input.evo, from 48 kHz 16-bit 2 channels to 96 kHz 24-bit 6 channels; one WAV file cannot hold "
                "both.");
}

TEST_F(LpcmScanTest, EachStreamKeepsItsOwnFormatAndALeftOutStreamNone) {
  PsBuilder b;
  b.packHeader().ac3(0xC3, pattern(200), 90000);  // owns slot 3 before A3 comes
  b.packHeader().lpcm(0xA0, pattern(300), 90000, 0x41 /* 20-bit, 48 kHz, 2 ch */);
  b.packHeader().lpcm(0xA1, pattern(300), 90000, 0x95);
  b.packHeader().lpcm(0xA3, pattern(300), 90000, 0x07);
  b.packHeader().lpcm(0xA1, pattern(300), 93000, 0x95);
  scan(b.bytes());

  ASSERT_TRUE(state.AudioSlots[0].lpcmFormat && state.AudioSlots[1].lpcmFormat);
  EXPECT_EQ(lpcmFormatText(*state.AudioSlots[0].lpcmFormat), "48 kHz 20-bit 2 channels");
  EXPECT_EQ(lpcmFormatText(*state.AudioSlots[1].lpcmFormat), "96 kHz 24-bit 6 channels");
  EXPECT_FALSE(state.AudioSlots[3].lpcmFormat);
  for (int k = 0; k < kAudioOutputs; ++k) EXPECT_FALSE(state.AudioSlots[k].lpcmFormatChange) << k;
}

// A packet whose PES_packet_length ends inside the LPCM header gives no
// format; the next whole header does.
TEST_F(LpcmScanTest, HeaderCutShortGivesNoFormat) {
  PsBuilder b;
  PesOptions shortPacket;
  shortPacket.pts = 90000;
  shortPacket.packetLength = 3 + 5 + 4 + 1;  // up to the byte before the format byte
  b.packHeader().privateStream1(0xA5, {0x01, 0x00, 0x01, 0x00, 0x95, 0x80}, pattern(50), shortPacket);
  b.packHeader().lpcm(0xA5, pattern(300), 93000, k48k16Stereo);
  scan(b.bytes());
  ASSERT_TRUE(state.AudioSlots[5].lpcmFormat);
  EXPECT_EQ(*state.AudioSlots[5].lpcmFormat, lpcmFormatOf(k48k16Stereo));
  EXPECT_FALSE(state.AudioSlots[5].lpcmFormatChange);
}

// Read EVO over a split feature: the second file's other format is a change
// that names the second file; the next run starts afresh.
TEST_F(LpcmScanTest, ChangeIntoTheSecondFileOfAFeatureAndAFreshRunForgetsIt) {
  PsBuilder first, second, plain;
  first.packHeader().lpcm(0xA0, pattern(300), 90000, k48k16Stereo);
  second.packHeader().lpcm(0xA0, pattern(300), 93000, 0x11 /* 96 kHz 16-bit 2 ch */);
  plain.packHeader().lpcm(0xA0, pattern(300), 93000, k48k16Stereo);
  const RunInput input{dir / "FEATURE_1.EVO", dir / "FEATURE_2.EVO", ""};
  first.writeTo(input.path);
  second.writeTo(input.secondPath);
  plain.writeTo(dir / "OTHER.EVO");

  ASSERT_TRUE(readEvo(state, input, options, window).isDone());
  ASSERT_TRUE(state.AudioSlots[0].lpcmFormatChange);
  EXPECT_EQ(state.AudioSlots[0].lpcmFormatChange->file, input.secondPath);
  EXPECT_EQ(state.AudioSlots[0].lpcmFormatChange->position, static_cast<std::int64_t>(14 + kFormatByteOffset));

  ASSERT_TRUE(readEvo(state, RunInput{dir / "OTHER.EVO", "", ""}, options, window).isDone());
  EXPECT_TRUE(state.AudioSlots[0].lpcmFormat);
  EXPECT_FALSE(state.AudioSlots[0].lpcmFormatChange);
}

TEST(LpcmFormat, HeaderByteFields) {
  struct Row {
    std::uint8_t code;
    const char* text;
    bool convertible;
  };
  const Row rows[] = {
      {0x01, "48 kHz 16-bit 2 channels", true},    {0x00, "48 kHz 16-bit 1 channel", true},
      {0x47, "48 kHz 20-bit 8 channels", true},    {0x95, "96 kHz 24-bit 6 channels", true},
      {0x0D, "48 kHz 16-bit 6 channels", true},    // the reserved bit set
      {0xC1, "48 kHz reserved word length 2 channels", false},
      {0x21, "frequency code 2 16-bit 2 channels", false},
      {0x31, "frequency code 3 16-bit 2 channels", false},
  };
  for (const Row& row : rows) {
    const LpcmFormat f = lpcmFormatOf(row.code);
    EXPECT_EQ(lpcmFormatText(f), row.text);
    EXPECT_EQ(lpcmFormatProblem(f).empty(), row.convertible) << row.text;
  }
}

TEST(WavHeader, FormatTagMaskAndBitsFollowTheFormat) {
  struct Row {
    std::uint8_t code;
    bool extensible;
    int containerBits, validBits;
    std::uint32_t mask;
  };
  const Row rows[] = {{0x01, false, 16, 16, 0},   {0x00, false, 16, 16, 0},     {0x41, true, 24, 20, 0x3},
                      {0x81, true, 24, 24, 0x3},  {0x05, true, 16, 16, 0x3F},   {0x02, true, 16, 16, 0xB},
                      {0x07, true, 16, 16, 0x63F}, {0x80, true, 24, 24, 0x4}};
  for (const Row& row : rows) {
    const WavLayout l = wavLayoutFor(lpcmFormatOf(row.code), 1200);
    EXPECT_EQ(l.container, WavContainer::Riff);
    EXPECT_EQ(l.extensible, row.extensible) << int(row.code);
    EXPECT_EQ(l.containerBits, row.containerBits) << int(row.code);
    EXPECT_EQ(l.validBits, row.validBits) << int(row.code);
    EXPECT_EQ(l.channelMask, row.mask) << int(row.code);
  }
}

TEST(WavHeader, ExtensibleRiffFields) {
  const WavLayout l = wavLayoutFor(lpcmFormatOf(k96k24Six), 180);
  const std::vector<std::uint8_t> h = wavHeader(l);
  ASSERT_EQ(h.size(), 68u);
  EXPECT_EQ(std::string(h.begin(), h.begin() + 4), "RIFF");
  EXPECT_EQ(le(h, 4, 4), 4u + 48 + 8 + 180);
  EXPECT_EQ(std::string(h.begin() + 8, h.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(le(h, 16, 4), 40u);
  EXPECT_EQ(le(h, 20, 2), 0xFFFEu);
  EXPECT_EQ(le(h, 22, 2), 6u);
  EXPECT_EQ(le(h, 24, 4), 96000u);
  EXPECT_EQ(le(h, 28, 4), 96000u * 18);
  EXPECT_EQ(le(h, 32, 2), 18u);
  EXPECT_EQ(le(h, 34, 2), 24u);
  EXPECT_EQ(le(h, 36, 2), 22u);
  EXPECT_EQ(le(h, 38, 2), 24u);
  EXPECT_EQ(le(h, 40, 4), 0x3Fu);
  EXPECT_EQ(le(h, 44, 4), 1u);  // KSDATAFORMAT_SUBTYPE_PCM
  EXPECT_EQ(std::string(h.begin() + 60, h.begin() + 64), "data");
  EXPECT_EQ(le(h, 64, 4), 180u);
}

// The container is chosen from the size alone: RIFF up to the last size its
// 32-bit field can state, Wave64 past it, with 64-bit sizes and 8-byte chunk
// ends.
TEST(WavHeader, Wave64PastTheRiffLimit) {
  const LpcmFormat stereo = lpcmFormatOf(k48k16Stereo);
  const std::uint64_t limit = riffDataLimit(false);
  EXPECT_EQ(limit, 0xFFFFFFFFull - 36 - 1);
  const WavLayout atLimit = wavLayoutFor(stereo, limit);
  EXPECT_EQ(atLimit.container, WavContainer::Riff);
  EXPECT_EQ(le(wavHeader(atLimit), 4, 4), 0xFFFFFFFEu);
  EXPECT_EQ(riffDataLimit(true), 0xFFFFFFFFull - 60 - 1);
  EXPECT_EQ(wavLayoutFor(lpcmFormatOf(k96k24Six), riffDataLimit(true) + 1).container, WavContainer::Wave64);

  const std::uint64_t data = 6000000004;  // 5.6 GiB, not a multiple of 8
  const WavLayout big = wavLayoutFor(stereo, data);
  ASSERT_EQ(big.container, WavContainer::Wave64);
  const std::vector<std::uint8_t> h = wavHeader(big);
  ASSERT_EQ(h.size(), 24u + 16 + 24 + 16 + 24);
  EXPECT_EQ(std::string(h.begin(), h.begin() + 4), "riff");
  EXPECT_EQ(le(h, 16, 8), h.size() + data + 4);  // the whole file, data padded to 8 bytes
  EXPECT_EQ(wavTrailerBytes(big), 4u);
  EXPECT_EQ(std::string(h.begin() + 24, h.begin() + 28), "wave");
  EXPECT_EQ(std::string(h.begin() + 40, h.begin() + 44), "fmt ");
  EXPECT_EQ(le(h, 56, 8), 40u);
  EXPECT_EQ(le(h, 64, 2), 1u);  // plain PCM
  EXPECT_EQ(le(h, 66, 2), 2u);
  EXPECT_EQ(std::string(h.begin() + 80, h.begin() + 84), "data");
  EXPECT_EQ(le(h, 96, 8), 24u + data);
}

class LpcmWavTest : public ::testing::Test {
 protected:
  std::string lpcm(const Bytes& bytes) {
    const std::string path = dir / "stream.mpa";
    writeFile(path, bytes);
    return path;
  }
  Bytes wavData(const LpcmFormat& format) {
    const Bytes wav = readFile(wav_);
    const std::size_t header = wavHeader(wavLayoutFor(format, 0)).size();
    return wav.size() < header ? Bytes{} : Bytes(wav.begin() + static_cast<std::ptrdiff_t>(header), wav.end());
  }
  TempDir dir;
  std::string wav_ = dir / "stream.wav";
  RecordingReport report;
};

// Many small cases: every width with one to eight channels, the stream's
// groups regrouped into plain little-endian samples.
TEST_F(LpcmWavTest, SamplesOfEveryWidthAndChannelCount) {
  for (const int bits : {16, 20, 24})
    for (int channels = 1; channels <= 8; ++channels) {
      const auto code = static_cast<std::uint8_t>(((bits - 16) / 4) << 6 | (channels - 1));
      const LpcmFormat format = lpcmFormatOf(code);
      const std::vector<std::int32_t> samples = testSamples(static_cast<std::size_t>(channels) * 4 * 50, bits);
      ASSERT_TRUE(convertLpcmToWav(lpcm(lpcmSampleBytes(samples, channels, bits)), format, wav_, report).isDone());
      EXPECT_EQ(wavData(format), littleEndian(samples, bits)) << bits << "-bit, " << channels << " channels";
    }
  EXPECT_TRUE(report.lines().empty());
}

// Whole groups are samples, whatever comes after them: 24-bit stereo groups
// are 12 bytes, mono ones two samples (6 bytes, 5 in 20 bits), so a mono
// stream of 4n + 2 samples keeps them all.
TEST_F(LpcmWavTest, ALastGroupCutShortIsLeftOutWithALine) {
  struct Row {
    std::uint8_t code;
    int channels, bits;
    std::size_t samples, extra;
    const char* line;
  };
  for (const Row& row : {
           Row{0x81, 2, 24, 40, 7,
               "The last 7 bytes of stream.mpa do not make a whole group of samples and are left out."},
           Row{0x80, 1, 24, 42, 1, "The last 1 byte of stream.mpa does not make a whole group of samples and is left out."},
           Row{0x40, 1, 20, 42, 4,
               "The last 4 bytes of stream.mpa do not make a whole group of samples and are left out."},
           Row{0x40, 1, 20, 42, 0, nullptr},
       }) {
    SCOPED_TRACE(std::to_string(row.bits) + "-bit, " + std::to_string(row.channels) + " channels");
    const LpcmFormat format = lpcmFormatOf(row.code);
    const std::vector<std::int32_t> samples = testSamples(row.samples, row.bits);
    Bytes bytes = lpcmSampleBytes(samples, row.channels, row.bits);
    bytes.resize(bytes.size() + row.extra, 0x55);
    report.clearLog();
    ASSERT_TRUE(convertLpcmToWav(lpcm(bytes), format, wav_, report).isDone());
    EXPECT_EQ(wavData(format), littleEndian(samples, row.bits));
    EXPECT_EQ(report.logText(), row.line ? std::vector<std::string>{row.line} : std::vector<std::string>{});
  }
}

TEST_F(LpcmWavTest, CancelLeavesNoFile) {
  const std::string in = lpcm(pattern(5 * 0x100000));
  report.cancel = true;
  const Outcome outcome = convertLpcmToWav(in, lpcmFormatOf(k48k16Stereo), wav_, report);
  EXPECT_TRUE(outcome.isCancelled());
  EXPECT_FALSE(fs::exists(wav_));
  ASSERT_EQ(report.progresses.size(), 1u);
  EXPECT_EQ(report.progresses[0].task, "Converting stream.mpa");
  EXPECT_EQ(report.progresses[0].size, 5 * 0x100000);
  EXPECT_EQ(report.cancellableRuns, 1);
  EXPECT_FALSE(report.cancellableNow);
}

TEST_F(LpcmWavTest, ProgressToTheEnd) {
  const std::string in = lpcm(pattern(3 * 0x100000 + 4));
  ASSERT_TRUE(convertLpcmToWav(in, lpcmFormatOf(k48k16Stereo), wav_, report).isDone());
  ASSERT_FALSE(report.progresses.empty());
  EXPECT_EQ(report.progresses.back().position, 3 * 0x100000 + 4);
  EXPECT_EQ(fs::file_size(wav_), 44u + 3 * 0x100000 + 4);
}

TEST_F(LpcmWavTest, FormatItCannotConvertAndItsOwnInputAreRefused) {
  const std::string in = lpcm(pattern(4000));
  const Outcome reserved = convertLpcmToWav(in, lpcmFormatOf(0x21), wav_, report);
  ASSERT_TRUE(reserved.isFailed());
  EXPECT_EQ(reserved.message,
            "The LPCM header gives a sampling frequency that discs do not use (frequency code 2 16-bit 2 channels); "
            "the stream is not converted.");
  EXPECT_FALSE(fs::exists(wav_));

  const Outcome self = convertLpcmToWav(in, lpcmFormatOf(k48k16Stereo), in, report);
  ASSERT_TRUE(self.isFailed());
  EXPECT_THAT(self.message, HasSubstr("It is an input file of this command"));
  EXPECT_EQ(readFile(in), pattern(4000));

  const Outcome missing = convertLpcmToWav(dir / "none.mpa", lpcmFormatOf(k48k16Stereo), wav_, report);
  ASSERT_TRUE(missing.isFailed());
  EXPECT_THAT(missing.message, HasSubstr("Cannot open file"));
  EXPECT_FALSE(fs::exists(wav_));
}

// A disk that fills up during the conversion: the write error is the
// outcome, and the partial WAV is gone. Needs the right to mount a tmpfs.
TEST_F(LpcmWavTest, DiskFullFailsAndRemovesThePartialFile) {
  const fs::path disk = dir.path() / "disk";
  fs::create_directories(disk);
  if (::mount("tarnwick-test", disk.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
  const std::string in = lpcm(pattern(4 * 0x100000));
  const std::string out = (disk / "stream.wav").string();
  const Outcome outcome = convertLpcmToWav(in, lpcmFormatOf(0x41), out, report);
  const bool left = fs::exists(out);
  ::umount2(disk.c_str(), MNT_DETACH);
  ASSERT_TRUE(outcome.isFailed());
  EXPECT_THAT(outcome.message, HasSubstr("Stream write error"));
  EXPECT_FALSE(left);
}

}  // namespace
}  // namespace tarnwick::test
