// The bytes of an audio stream file outside whole frames, as the mkv run
// logs them, against what mkvmerge keeps of the same file: ffmpeg's AC-3,
// E-AC-3 and DTS cut inside a frame at both ends, and DTS-HD made of
// ffmpeg's DTS cores each followed by an extension substream.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "matroska/frame_ends.h"
#include "support/builders.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

bool haveTools() { return onPath("ffmpeg") && onPath("mkvmerge") && onPath("mkvextract"); }

// An extension substream of `size` bytes with a 32-byte header and no assets.
Bytes extension(std::size_t size) {
  const std::uint64_t bits = (std::uint64_t{31} << 29) | (static_cast<std::uint64_t>(size - 1) << 13);
  Bytes out = {0x64, 0x58, 0x20, 0x25};
  for (int shift = 40; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(bits >> shift));
  out.resize(size, 0);
  return out;
}

struct Cut {
  const char* name;
  AudioKind kind;
  std::vector<std::string> encoder;  // ffmpeg's output options
  std::size_t extensionSize;         // after every core frame; 0: none
  std::size_t cutHead, cutTail;      // bytes taken off each end
};

void PrintTo(const Cut& cut, std::ostream* os) { *os << cut.name; }

class MkvFrameEndsPeer : public ::testing::TestWithParam<Cut> {};

TEST_P(MkvFrameEndsPeer, LoggedBytesAreWhatMkvmergeLeavesOut) {
  if (!haveTools()) GTEST_SKIP() << "ffmpeg, mkvmerge or mkvextract is missing";
  const Cut& c = GetParam();
  TempDir dir;
  std::vector<std::string> ffmpeg = {"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:r=48000",
                                     "-t", "1", "-ac", "2"};
  ffmpeg.insert(ffmpeg.end(), c.encoder.begin(), c.encoder.end());
  ffmpeg.push_back(dir / "encoded");
  ASSERT_EQ(runProcess(ffmpeg).status, 0);
  Bytes whole = readFile(dir / "encoded");
  if (c.extensionSize > 0) {
    // Every core here is 1024 bytes (768 kbit/s at 48 kHz).
    ASSERT_EQ(whole.size() % 1024, 0u);
    Bytes hd;
    for (std::size_t at = 0; at < whole.size(); at += 1024) {
      hd.insert(hd.end(), whole.begin() + static_cast<std::ptrdiff_t>(at),
                whole.begin() + static_cast<std::ptrdiff_t>(at + 1024));
      const Bytes e = extension(c.extensionSize);
      hd.insert(hd.end(), e.begin(), e.end());
    }
    whole = hd;
  }
  const Bytes file(whole.begin() + static_cast<std::ptrdiff_t>(c.cutHead),
                   whole.end() - static_cast<std::ptrdiff_t>(c.cutTail));
  const std::string path = dir / "stream.mpa";  // as Demux names it
  writeFile(path, file);

  const std::optional<FrameEnds> ends = audioFrameEnds(path, c.kind);
  ASSERT_TRUE(ends.has_value());
  EXPECT_GT(ends->leading, 0);
  EXPECT_GT(ends->trailing, 0);
  // (mkvmerge warns of the bytes it skips before the first frame: status 1.)
  const int muxed = runProcess({"mkvmerge", "-q", "-o", dir / "out.mkv", path}).status;
  ASSERT_TRUE(muxed == 0 || muxed == 1) << muxed;
  ASSERT_EQ(runProcess({"mkvextract", "-q", dir / "out.mkv", "tracks", "0:" + dir / "back"}).status, 0);
  const Bytes back = readFile(dir / "back");
  const Bytes kept(file.begin() + ends->leading, file.end() - ends->trailing);
  EXPECT_EQ(back.size(), kept.size()) << "leading " << ends->leading << ", trailing " << ends->trailing;
  EXPECT_TRUE(back == kept);
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, MkvFrameEndsPeer,
    ::testing::Values(
        Cut{"EAc3CutInsideFrames", AudioKind::DolbyDigitalPlus, {"-c:a", "eac3", "-b:a", "192k", "-f", "eac3"}, 0, 100,
            300},
        // 44.1 kHz: the odd size codes are a word longer than the even ones.
        Cut{"Ac3At44kHzCutInsideFrames",
            AudioKind::DolbyDigital,
            {"-ar", "44100", "-c:a", "ac3", "-b:a", "640k", "-f", "ac3"},
            0,
            1000,
            2000},
        Cut{"DtsCutInsideFrames", AudioKind::Dts, {"-c:a", "dca", "-b:a", "768k", "-strict", "-2", "-f", "dts"}, 0, 300,
            100},
        // The last extension is cut: its core goes with it.
        Cut{"DtsHdCutInsideTheExtension",
            AudioKind::Dts,
            {"-c:a", "dca", "-b:a", "768k", "-strict", "-2", "-f", "dts"},
            2000,
            1500,
            1500},
        // Too little of the last extension to read its size: only that goes.
        Cut{"DtsHdCutInsideTheExtensionHeader",
            AudioKind::Dts,
            {"-c:a", "dca", "-b:a", "768k", "-strict", "-2", "-f", "dts"},
            2000,
            700,
            1994}),
    [](const ::testing::TestParamInfo<Cut>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwick::test
