// Rebuild checked by readers that do not share its code: the sample disc and
// a file of real encodes (Dolby Digital, DTS, LPCM, Dolby TrueHD, Dolby
// Digital Plus, MPEG-2 video, subpictures) are rebuilt with some streams
// unticked by tarnwick-cli, then
//   - Read EVO of the result lists exactly the kept streams, with new ids;
//   - Demux of the result gives each kept stream's bytes as Demux of the
//     source does;
//   - ffprobe and mkvmerge see the kept streams and none of the dropped ones.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "support/builders.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::multiset<std::string>;

ProcessResult cli(std::vector<std::string> args) {
  args.insert(args.begin(), TARNWICK_CLI);
  return runProcess(args);
}

Lines splitLines(const std::string& text) {
  Lines out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.insert(line);
  return out;
}

// Our own Read EVO, through its JSON report: "box kind id" per stream.
Lines readEvo(const std::string& path) {
  const ProcessResult r = cli({"read", "--json", "--no-continue", "--no-details", "--no-count-frames", path});
  EXPECT_EQ(r.status, 0) << r.err;
  const ProcessResult j = runProcess(
      {"python3", "-c",
       "import json,sys\n"
       "for s in json.load(sys.stdin)['streams']: print('%s %s %02X' % (s['box'], s['kind'], s['streamId']))"},
      r.out);
  EXPECT_EQ(j.status, 0) << j.err;
  return splitLines(j.out);
}

// ffprobe: "codec id" per stream, the id as ffprobe writes it (0xfd55 for
// VC-1 on stream_id_extension 55, 0x88 for substream 88 of private stream 1).
Lines ffprobe(const std::string& path) {
  const ProcessResult r =
      runProcess({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,id", "-of", "csv=p=0", path});
  EXPECT_EQ(r.status, 0) << r.err;
  // A video stream's line ends in a field of side data, empty here.
  Lines out;
  for (std::string line : splitLines(r.out)) {
    while (!line.empty() && line.back() == ',') line.pop_back();
    std::replace(line.begin(), line.end(), ',', ' ');
    out.insert(line);
  }
  return out;
}

// mkvmerge -J: "codec stream_id sub_stream_id" per track, and its errors.
Lines mkvmerge(const std::string& path) {
  const ProcessResult r = runProcess({"mkvmerge", "-J", path});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const ProcessResult j = runProcess(
      {"python3", "-c",
       "import json,sys\n"
       "d=json.load(sys.stdin)\n"
       "for e in d.get('errors',[]): print('error', e)\n"
       "for t in d['tracks']:\n"
       "  p=t['properties']; print('%s %s %02X %02X' % (t['type'], t['codec'], p['stream_id'], p.get('sub_stream_id',0)))"},
      r.out);
  EXPECT_EQ(j.status, 0) << j.err;
  return splitLines(j.out);
}

bool haveTools() {
  return onPath("ffmpeg") && onPath("ffprobe") && onPath("mkvmerge") && onPath("python3");
}

// Demux with the given extra arguments into `folder`; the files it wrote.
std::set<std::string> demux(std::vector<std::string> args, const std::string& folder) {
  fs::create_directories(folder);
  args.insert(args.begin(), {"demux", "--no-details", "-o", folder});
  const ProcessResult r = cli(args);
  EXPECT_EQ(r.status, 0) << r.err;
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// Each pair: a source demux output and the rebuilt file's output of the same stream.
void expectSameStreams(const std::string& sourceFolder, const std::string& rebuiltFolder,
                       const std::vector<std::pair<std::string, std::string>>& pairs) {
  for (const auto& [source, rebuilt] : pairs) {
    const Bytes a = readFile(sourceFolder + "/" + source), b = readFile(rebuiltFolder + "/" + rebuilt);
    EXPECT_FALSE(a.empty()) << source;
    EXPECT_TRUE(a == b) << source << " (" << a.size() << " bytes) and " << rebuilt << " (" << b.size() << " bytes)";
  }
}

TEST(RebuildPeerTest, SampleDisc) {
  if (!haveTools()) GTEST_SKIP() << "needs ffmpeg, ffprobe, mkvmerge and python3 on PATH";
  TempDir dir;
  const ProcessResult made = runProcess({TARNWICK_MKDISC, dir / "DISC"});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string evo = (dir.path() / "DISC" / "HVDVD_TS" / "FEATURE_1.EVO").string();
  fs::create_directories(dir / "out");

  // Dolby Digital Plus C0 (audio00) and subpicture 20 (sub00) unticked.
  const std::vector<std::string> kept = {"--streams", "video0,audio01,audio02,sub01"};
  std::vector<std::string> args = {"rebuild", "-o", dir / "out"};
  args.insert(args.end(), kept.begin(), kept.end());
  args.push_back(evo);
  const ProcessResult r = cli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string rebuilt = dir / "out/FEATURE_1_FEATURE_2.rebuilt.EVO";
  ASSERT_TRUE(fs::exists(rebuilt));
  // DTS 89 and LPCM A2 are the first and second kept audio streams; 21 the first subpicture.
  EXPECT_EQ(readEvo(rebuilt), (Lines{"video0 H.264.stream E2", "audio00 DTSHD.stream 88", "audio01 LPCM.stream A1",
                                     "sub00 Subpicture 20"}));

  std::vector<std::string> sourceArgs = kept;
  sourceArgs.push_back(evo);
  demux(sourceArgs, dir / "source");
  EXPECT_EQ(demux({"--no-continue", rebuilt}, dir / "rebuilt"),
            (std::set<std::string>{"FEATURE_1_FEATURE_2.rebuilt.H.264.stream.0.mpv",
                                   "FEATURE_1_FEATURE_2.rebuilt.DTSHD.stream.00.mpa",
                                   "FEATURE_1_FEATURE_2.rebuilt.LPCM.stream.01.mpa",
                                   "FEATURE_1_FEATURE_2.rebuilt.Subpicture.00.sup"}));
  expectSameStreams(dir / "source", dir / "rebuilt",
                    {{"FEATURE_1_FEATURE_2.H.264.stream.0.mpv", "FEATURE_1_FEATURE_2.rebuilt.H.264.stream.0.mpv"},
                     {"FEATURE_1_FEATURE_2.DTSHD.stream.01.mpa", "FEATURE_1_FEATURE_2.rebuilt.DTSHD.stream.00.mpa"},
                     {"FEATURE_1_FEATURE_2.LPCM.stream.02.mpa", "FEATURE_1_FEATURE_2.rebuilt.LPCM.stream.01.mpa"},
                     {"FEATURE_1_FEATURE_2.Subpicture.01.sup", "FEATURE_1_FEATURE_2.rebuilt.Subpicture.00.sup"}});

  EXPECT_EQ(ffprobe(evo), (Lines{"dvd_nav_packet 0x1bf", "h264 0x1e2", "eac3 0xc0", "dts 0x89", "pcm_dvd 0xa2",
                                 "dvd_subtitle 0x20", "dvd_subtitle 0x21"}));
  EXPECT_EQ(ffprobe(rebuilt),
            (Lines{"dvd_nav_packet 0x1bf", "h264 0x1e2", "dts 0x88", "pcm_dvd 0xa1", "dvd_subtitle 0x20"}));
  // mkvmerge lists no subpicture streams of a program stream, the source's
  // included; it sees the audio and video tracks.
  EXPECT_EQ(mkvmerge(evo), (Lines{"video AVC/H.264/MPEG-4p10 E2 00", "audio E-AC-3 BD C0", "audio DTS BD 89", "audio PCM BD A2"}));
  EXPECT_EQ(mkvmerge(rebuilt), (Lines{"video AVC/H.264/MPEG-4p10 E2 00", "audio DTS BD 88", "audio PCM BD A1"}));
}

// Encodes one second of a tone (or of a test picture) with ffmpeg; the raw stream.
Bytes encode(const TempDir& dir, const std::string& name, const std::vector<std::string>& how) {
  std::vector<std::string> args = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
  args.insert(args.end(), how.begin(), how.end());
  args.push_back(dir / name);
  const ProcessResult r = runProcess(args);
  EXPECT_EQ(r.status, 0) << name << ": " << r.err;
  return readFile(dir / name);
}

std::vector<std::string> tone(int hz, const std::vector<std::string>& codec) {
  std::vector<std::string> args = {"-f", "lavfi", "-i", "sine=frequency=" + std::to_string(hz) + ":sample_rate=48000",
                                   "-t", "1", "-ac", "2"};
  args.insert(args.end(), codec.begin(), codec.end());
  return args;
}

TEST(RebuildPeerTest, EveryAudioKindWithSubpictures) {
  if (!haveTools()) GTEST_SKIP() << "needs ffmpeg, ffprobe, mkvmerge and python3 on PATH";
  TempDir dir;
  struct Stream {
    std::uint8_t id;  // substream id, or E0 for the video
    Bytes raw;
  };
  // A subpicture unit: its size, the offset of its (empty) control sequence.
  Bytes spu = {0x00, 0x20, 0x00, 0x1C};
  const Bytes lines = pattern(24, 9);
  spu.insert(spu.end(), lines.begin(), lines.end());
  spu.insert(spu.end(), {0x00, 0x00, 0x00, 0x1C});
  std::vector<Stream> streams = {
      {0xE0, encode(dir, "v.m2v", {"-f", "lavfi", "-i", "testsrc=size=352x288:rate=25", "-t", "1", "-c:v",
                                   "mpeg2video", "-f", "mpeg2video"})},
      {0x80, encode(dir, "a.ac3", tone(440, {"-c:a", "ac3", "-b:a", "192k", "-f", "ac3"}))},
      {0x89, encode(dir, "a.dts", tone(550, {"-c:a", "dca", "-strict", "-2", "-b:a", "768k", "-f", "dts"}))},
      {0xA2, encode(dir, "a.pcm", tone(660, {"-c:a", "pcm_s16be", "-f", "s16be"}))},
      {0xB3, encode(dir, "a.thd", tone(770, {"-c:a", "truehd", "-strict", "-2", "-f", "truehd"}))},
      {0xC4, encode(dir, "a.eac3", tone(880, {"-c:a", "eac3", "-b:a", "192k", "-f", "eac3"}))},
      {0x20, spu},
      {0x21, spu},
  };
  for (const Stream& s : streams) ASSERT_GT(s.raw.size(), 30u) << std::hex << int(s.id);

  // One packet per pack, the streams taking turns; a navigation pack first.
  PsBuilder b;
  b.packHeader().systemHeader(5, 1, {0xBD, 0xE0}).privateStream2(pattern(980)).finishPack();
  std::vector<std::size_t> at(streams.size(), 0);
  for (bool more = true; more;) {
    more = false;
    for (std::size_t k = 0; k < streams.size(); ++k) {
      const Stream& s = streams[k];
      if (at[k] >= s.raw.size()) continue;
      const std::size_t n = std::min<std::size_t>(s.id == 0xE0 ? 2000 : 1900, s.raw.size() - at[k]);
      const Bytes slice(s.raw.begin() + static_cast<std::ptrdiff_t>(at[k]),
                        s.raw.begin() + static_cast<std::ptrdiff_t>(at[k] + n));
      const std::uint64_t pts = 90000 + 3600 * (at[k] / 2000);
      b.packHeader();
      if (s.id == 0xE0)
        b.pes(0xE0, slice, {.pts = pts});
      else if (s.id == 0x80 || s.id == 0xC4)
        b.ac3(s.id, slice, pts);
      else if (s.id == 0x89)
        b.dts(s.id, slice, pts);
      else if (s.id == 0xA2)
        b.lpcm(s.id, slice, pts);
      else if (s.id == 0xB3)
        b.trueHd(s.id, slice, pts);
      else
        b.subpicture(s.id, slice, pts);
      b.finishPack();
      at[k] += n;
      more = true;
    }
  }
  const std::string evo = dir / "MIX.EVO";
  b.writeTo(evo);
  fs::create_directories(dir / "out");

  // Dolby Digital 80 (audio00), LPCM A2 (audio02) and subpicture 20 unticked.
  const std::vector<std::string> kept = {"--streams", "video0,audio01,audio03,audio04,sub01"};
  std::vector<std::string> args = {"rebuild", "-o", dir / "out"};
  args.insert(args.end(), kept.begin(), kept.end());
  args.push_back(evo);
  const ProcessResult r = cli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string rebuilt = dir / "out/MIX.rebuilt.EVO";

  EXPECT_EQ(readEvo(evo), (Lines{"video0 MPEG-2.stream E0", "audio00 DD.stream 80", "audio01 DTSHD.stream 89",
                                 "audio02 LPCM.stream A2", "audio03 MLP.stream B3", "audio04 DD+.stream C4",
                                 "sub00 Subpicture 20", "sub01 Subpicture 21"}));
  EXPECT_EQ(readEvo(rebuilt), (Lines{"video0 MPEG-2.stream E0", "audio00 DTSHD.stream 88", "audio01 MLP.stream B1",
                                     "audio02 DD+.stream C2", "sub00 Subpicture 20"}));

  std::vector<std::string> sourceArgs = kept;
  sourceArgs.push_back(evo);
  demux(sourceArgs, dir / "source");
  EXPECT_EQ(demux({rebuilt}, dir / "rebuilt"),
            (std::set<std::string>{"MIX.rebuilt.MPEG-2.stream.0.mpv", "MIX.rebuilt.DTSHD.stream.00.mpa",
                                   "MIX.rebuilt.MLP.stream.01.mpa", "MIX.rebuilt.DD+.stream.02.mpa",
                                   "MIX.rebuilt.Subpicture.00.sup"}));
  expectSameStreams(dir / "source", dir / "rebuilt",
                    {{"MIX.MPEG-2.stream.0.mpv", "MIX.rebuilt.MPEG-2.stream.0.mpv"},
                     {"MIX.DTSHD.stream.01.mpa", "MIX.rebuilt.DTSHD.stream.00.mpa"},
                     {"MIX.MLP.stream.03.mpa", "MIX.rebuilt.MLP.stream.01.mpa"},
                     {"MIX.DD+.stream.04.mpa", "MIX.rebuilt.DD+.stream.02.mpa"},
                     {"MIX.Subpicture.01.sup", "MIX.rebuilt.Subpicture.00.sup"}});
  // The audio comes out as it was encoded.
  EXPECT_TRUE(readFile(dir / "rebuilt/MIX.rebuilt.MLP.stream.01.mpa") == streams[4].raw);
  EXPECT_TRUE(readFile(dir / "rebuilt/MIX.rebuilt.DD+.stream.02.mpa") == streams[5].raw);

  EXPECT_EQ(ffprobe(evo), (Lines{"mpeg2video 0x1e0", "ac3 0x80", "dts 0x89", "pcm_dvd 0xa2", "truehd 0xb3",
                                 "eac3 0xc4", "dvd_subtitle 0x20", "dvd_subtitle 0x21"}));
  EXPECT_EQ(ffprobe(rebuilt), (Lines{"mpeg2video 0x1e0", "dts 0x88", "truehd 0xb1", "eac3 0xc2", "dvd_subtitle 0x20"}));
  EXPECT_EQ(mkvmerge(evo), (Lines{"video MPEG-1/2 E0 00", "audio AC-3 BD 80", "audio DTS BD 89", "audio PCM BD A2",
                                  "audio TrueHD BD B3", "audio E-AC-3 BD C4"}));
  EXPECT_EQ(mkvmerge(rebuilt), (Lines{"video MPEG-1/2 E0 00", "audio DTS BD 88", "audio TrueHD BD B1",
                                      "audio E-AC-3 BD C2"}));
}

// A program stream from ffmpeg's VOB muxer, which writes a pack holding a
// system header and then a Dolby Digital packet. That packet is decided like
// any other: left out with its stream, renumbered with it.
TEST(RebuildPeerTest, MuxerThatPutsAPacketAfterTheSystemHeader) {
  if (!haveTools()) GTEST_SKIP() << "needs ffmpeg, ffprobe, mkvmerge and python3 on PATH";
  TempDir dir;
  const std::string evo = dir / "VOB.EVO";
  const ProcessResult made = runProcess(
      {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
       "testsrc=size=352x288:rate=25", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-f", "lavfi",
       "-i", "sine=frequency=660:sample_rate=48000", "-t", "2", "-map", "0", "-map", "1", "-map", "2", "-c:v",
       "mpeg2video", "-c:a", "ac3", "-b:a", "192k", "-f", "vob", evo});
  ASSERT_EQ(made.status, 0) << made.err;
  // The layout this test is about: some pack carries a system header and
  // then an audio packet.
  const Bytes source = readFile(evo);
  bool audioAfterSystemHeader = false;
  for (std::size_t at = 0; at + 2048 <= source.size(); at += 2048) {
    const std::uint8_t* p = source.data() + at + 14 + (source[at + 13] & 7);
    if (p[3] == 0xBB && p[6 + (p[4] << 8 | p[5]) + 3] == 0xBD) audioAfterSystemHeader = true;
  }
  ASSERT_TRUE(audioAfterSystemHeader);
  EXPECT_EQ(ffprobe(evo), (Lines{"mpeg2video 0x1e0", "ac3 0x80", "ac3 0x81"}));
  demux({"--streams", "video0,audio01", evo}, dir / "source");

  // The video alone: no audio is left in the rebuilt file.
  fs::create_directories(dir / "video");
  ProcessResult r = cli({"rebuild", "-o", dir / "video", "--streams", "video0", evo});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string rebuilt = dir / "video/VOB.rebuilt.EVO";
  EXPECT_EQ(readEvo(rebuilt), (Lines{"video0 MPEG-2.stream E0"}));
  EXPECT_EQ(demux({rebuilt}, dir / "video-demux"), (std::set<std::string>{"VOB.rebuilt.MPEG-2.stream.0.mpv"}));
  expectSameStreams(dir / "source", dir / "video-demux",
                    {{"VOB.MPEG-2.stream.0.mpv", "VOB.rebuilt.MPEG-2.stream.0.mpv"}});
  EXPECT_EQ(ffprobe(rebuilt), (Lines{"mpeg2video 0x1e0"}));
  EXPECT_EQ(mkvmerge(rebuilt), (Lines{"video MPEG-1/2 E0 00"}));

  // The second audio stream alone becomes 80, in every packet.
  fs::create_directories(dir / "audio");
  r = cli({"rebuild", "-o", dir / "audio", "--streams", "audio01", evo});
  ASSERT_EQ(r.status, 0) << r.err;
  rebuilt = dir / "audio/VOB.rebuilt.EVO";
  EXPECT_EQ(readEvo(rebuilt), (Lines{"audio00 DD.stream 80"}));
  EXPECT_EQ(demux({rebuilt}, dir / "audio-demux"), (std::set<std::string>{"VOB.rebuilt.DD.stream.00.mpa"}));
  expectSameStreams(dir / "source", dir / "audio-demux", {{"VOB.DD.stream.01.mpa", "VOB.rebuilt.DD.stream.00.mpa"}});
  EXPECT_EQ(ffprobe(rebuilt), (Lines{"ac3 0x80"}));
  EXPECT_EQ(mkvmerge(rebuilt), (Lines{"audio AC-3 BD 80"}));
}

}  // namespace
}  // namespace tarnwick::test
