// The DTS core header lines and the extension sync words.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysers/dts_header.h"
#include "support/lines_sink.h"

namespace tarnwick {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using test::LinesSink;

// The fields of a core frame header in bit-stream order.
struct Core {
  std::uint32_t FTYPE = 1, SHORT = 31, CPF = 0, NBLKS = 15, FSIZE = 2012, AMODE = 9, SFREQ = 13, RATE = 24;
  std::uint32_t flags = 0;  // FixedBit, DYNF, TIMEF, AUXF, HDCD
  std::uint32_t EXT_AUDIO_ID = 0, EXT_AUDIO = 0, ASPF = 0, LFF = 1, HFLAG = 0, HCRC = 0, FILTS = 0, VERNUM = 7;
  std::uint32_t CHIST = 0, PCMR = 6;
};

class BitWriter {
 public:
  void put(int n, std::uint32_t value) {
    for (int k = n - 1; k >= 0; --k) {
      if (used_ % 8 == 0) bytes.push_back(0);
      bytes.back() |= static_cast<std::uint8_t>(((value >> k) & 1u) << (7 - used_ % 8));
      ++used_;
    }
  }
  Bytes bytes;

 private:
  int used_ = 0;
};

// Sync word and header, padded with zero bytes to a whole number of bytes.
Bytes coreFrame(const Core& c) {
  BitWriter w;
  w.put(32, 0x7FFE8001);
  w.put(1, c.FTYPE);
  w.put(5, c.SHORT);
  w.put(1, c.CPF);
  w.put(7, c.NBLKS);
  w.put(14, c.FSIZE);
  w.put(6, c.AMODE);
  w.put(4, c.SFREQ);
  w.put(5, c.RATE);
  w.put(5, c.flags);
  w.put(3, c.EXT_AUDIO_ID);
  w.put(1, c.EXT_AUDIO);
  w.put(1, c.ASPF);
  w.put(2, c.LFF);
  w.put(1, c.HFLAG);
  if (c.CPF == 1) w.put(16, c.HCRC);
  w.put(1, c.FILTS);
  w.put(4, c.VERNUM);
  w.put(2, c.CHIST);
  w.put(3, c.PCMR);
  return w.bytes;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The run is the rest of the bytes from position unless a length is given;
// every byte of the vector is valid.
Lines report(const Bytes& bytes, std::int32_t position = 0, std::optional<std::int32_t> length = {}) {
  LinesSink sink;
  ReportDtsHeader(bytes.data(), bytes.size(), position,
                  length.value_or(static_cast<std::int32_t>(bytes.size()) - position), sink);
  return sink.lines;
}

const Lines kWorkedExample = {
    "   PCM core samples = 32",
    "   PCM sample blocks = 16",
    "   Primary frame byte size = 2012",
    "   Audio channel arrangement = C + L + R + SL + SR",
    "   Core audio sampling frequency = 48 kHz",
    "   Transmission bitrate = 1536 kbit/s",
    "   LFE present = present (IF:128)",
    "   Encoder software rev. = 7, Current",
    "   Source PCM resolution = 24 bits",
};

TEST(DtsHeaderTest, WorkedExample) {
  // The bytes as the standard lays them out, written down by hand.
  const Bytes bytes = {0x7F, 0xFE, 0x80, 0x01, 0xFC, 0x3C, 0x7D, 0xC2, 0x77, 0x00, 0x02, 0x39, 0x80, 0x00, 0x00};
  EXPECT_EQ(report(bytes), kWorkedExample);
  EXPECT_EQ(coreFrame(Core{}), Bytes(bytes.begin(), bytes.begin() + 13));
}

TEST(DtsHeaderTest, OptionalLinesAndTableTexts) {
  Core crc;
  crc.CPF = 1;
  crc.HCRC = 0x0A5F;
  Lines withCrc = kWorkedExample;
  withCrc.insert(withCrc.begin() + 7, "   Header CRC = 0A5F");
  EXPECT_EQ(report(concat({coreFrame(crc), {0, 0}})), withCrc);

  Core ext;
  ext.EXT_AUDIO = 1;
  ext.EXT_AUDIO_ID = 2;
  ext.flags = 0x1F;  // the five one-bit fields between RATE and EXT_AUDIO_ID
  Lines withExt = kWorkedExample;
  withExt.insert(withExt.begin() + 6, "   Extension audio = Frequency extension");
  EXPECT_EQ(report(concat({coreFrame(ext), {0, 0}})), withExt);

  Core odd;
  odd.SHORT = 5;
  odd.NBLKS = 7;
  odd.FSIZE = 95;
  odd.AMODE = 63;
  odd.SFREQ = 8;
  odd.RATE = 22;
  odd.LFF = 3;
  odd.VERNUM = 8;
  odd.PCMR = 4;
  EXPECT_THAT(report(concat({coreFrame(odd), {0, 0}})),
              ElementsAre("   PCM core samples = 6", "   PCM sample blocks = 8", "   Primary frame byte size = 95",
                          "   Audio channel arrangement = User defined", "   Core audio sampling frequency = 44,1 kHz",
                          "   Transmission bitrate = 1411,2 kbit/s", "   LFE present = invalid",
                          "   Encoder software rev. = 8, Future rev. (incompatible", "   Source PCM resolution = "));
}

TEST(DtsHeaderTest, EveryFrameAndExtensionSyncInTheRun) {
  const Bytes channelExtension = {0x5A, 0x5A, 0x5A, 0x5A};
  const Bytes x96 = {0x1D, 0x95, 0xF2, 0x62};
  Core second;
  second.AMODE = 2;
  const Bytes bytes =
      concat({{0x00, 0x7F}, coreFrame(Core{}), {0x11, 0x22, 0x33}, channelExtension, x96, coreFrame(second), {0, 0}});
  Lines expected = kWorkedExample;
  expected.push_back("   Channel extension found");
  expected.push_back("   96 kHz extensiond found");
  expected.insert(expected.end(), kWorkedExample.begin(), kWorkedExample.end());
  expected[expected.size() - 6] = "   Audio channel arrangement = L + R (stereo)";
  EXPECT_EQ(report(bytes), expected);
}

TEST(DtsHeaderTest, HeaderBytesAreNotSearchedAgain) {
  // CPF 1 and these fields make header bytes 6 to 9 read 5A 5A 5A 5A:
  // EXT_AUDIO_ID 2, EXT_AUDIO 1, ASPF 1, LFF 1, HFLAG 0 | HCRC 5A5A |
  // FILTS 0, VERNUM 11, CHIST 1, first bit of PCMR 2.
  Core c;
  c.EXT_AUDIO_ID = 2;
  c.EXT_AUDIO = 1;
  c.ASPF = 1;
  c.CPF = 1;
  c.HCRC = 0x5A5A;
  c.VERNUM = 11;
  c.CHIST = 1;
  c.PCMR = 2;
  const Bytes frame = coreFrame(c);
  ASSERT_EQ(Bytes(frame.begin() + 10, frame.begin() + 14), Bytes({0x5A, 0x5A, 0x5A, 0x5A}));
  // The search goes on behind the header, and finds a sync word there.
  const Lines lines = report(concat({frame, {0, 0, 0, 0, 0x5A, 0x5A, 0x5A, 0x5A, 0}}));
  EXPECT_THAT(lines,
              ElementsAre("   PCM core samples = 32", "   PCM sample blocks = 16", "   Primary frame byte size = 2012",
                          "   Audio channel arrangement = C + L + R + SL + SR",
                          "   Core audio sampling frequency = 48 kHz", "   Transmission bitrate = 1536 kbit/s",
                          "   Extension audio = Frequency extension", "   LFE present = present (IF:128)",
                          "   Header CRC = 5A5A", "   Encoder software rev. = 11, Future rev. (incompatible",
                          "   Source PCM resolution = 20 bits", "   Channel extension found"));
}

TEST(DtsHeaderTest, RunLimits) {
  const Bytes frame = concat({{0x00, 0x00}, coreFrame(Core{}), {0, 0}});
  // The run's last byte is never examined: a sync word ending on it is not
  // found, one byte more and the header is read from the buffer behind the run.
  EXPECT_THAT(report(frame, 0, 6), IsEmpty());
  EXPECT_EQ(report(frame, 0, 7), kWorkedExample);
  // A run starting inside the sync word does not see it.
  EXPECT_THAT(report(frame, 3), IsEmpty());
  for (std::int32_t length = -3; length <= 1; ++length) EXPECT_THAT(report(frame, 2, length), IsEmpty());
}

TEST(DtsHeaderTest, HeaderCutAtTheValidBytesReportsTheWholeFieldsAndStops) {
  Core c;
  c.CPF = 1;
  c.HCRC = 0xBEEF;
  c.EXT_AUDIO = 1;
  const Bytes frame = concat({coreFrame(c), {0x5A, 0x5A, 0x5A, 0x5A}});
  // Bits after the sync word at which each logged field ends.
  const struct {
    int endBit;
    const char* line;
  } fields[] = {
      {6, "   PCM core samples = 32"},
      {14, "   PCM sample blocks = 16"},
      {28, "   Primary frame byte size = 2012"},
      {34, "   Audio channel arrangement = C + L + R + SL + SR"},
      {38, "   Core audio sampling frequency = 48 kHz"},
      {43, "   Transmission bitrate = 1536 kbit/s"},
      {52, "   Extension audio = Channel extension"},
      {55, "   LFE present = present (IF:128)"},
      {72, "   Header CRC = BEEF"},
      {77, "   Encoder software rev. = 7, Current"},
      {82, "   Source PCM resolution = 24 bits"},
  };
  for (std::size_t valid = 4; valid <= frame.size(); ++valid) {
    // Exactly the valid bytes on the heap, so that a read past them is a
    // fault the address sanitizer reports.
    auto bytes = std::make_unique<std::uint8_t[]>(valid);
    std::copy(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(valid), bytes.get());
    LinesSink sink;
    ReportDtsHeader(bytes.get(), valid, 0, static_cast<std::int32_t>(valid), sink);

    Lines expected;
    // The run's last byte is not examined, so the sync word needs one after it.
    if (valid > 4) {
      const int validBits = static_cast<int>(valid - 4) * 8;
      for (const auto& f : fields)
        if (f.endBit <= validBits)
          expected.push_back(f.line);
        else
          break;
    }
    EXPECT_EQ(sink.lines, expected) << valid << " valid bytes";
  }
}

}  // namespace
}  // namespace tarnwick
