// The built tarnwick-cli as a user runs it: exit statuses, error texts, the
// files it writes and the JSON report, on inputs made by the builder.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "support/run_process.h"
#include "support/builders.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

ProcessResult cli(std::vector<std::string> args) {
  args.insert(args.begin(), TARNWICK_CLI);
  return runProcess(args);
}

std::set<std::string> filesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

Bytes join(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

// The same payload with `n` MPEG-2 picture start codes spread through it.
Bytes pictures(int n, std::uint8_t seed) {
  Bytes out;
  for (int i = 0; i < n; ++i) out = join(join(out, {0x00, 0x00, 0x01, 0x00}), pattern(200, seed));
  return out;
}

// MPEG-2 video, Dolby Digital 0x80, Dolby Digital Plus 0xC3 and subpicture
// 0x21, each first packet with its own time stamp; a second pack carries
// more video and Dolby Digital without one.
struct Sample {
  static constexpr std::uint64_t kVideoPts = 900000;
  static constexpr std::uint64_t kAc3Pts = kVideoPts + 90 * 120;
  static constexpr std::uint64_t kDdPlusPts = kVideoPts - 4049;  // -44.99 ms
  static constexpr std::uint64_t kSubPts = kVideoPts + 90 * 1000;
  Bytes video1 = pictures(3, 1), video2 = pictures(2, 2);
  Bytes ac3a = pattern(300, 3), ac3b = pattern(500, 4), ddPlus = pattern(400, 5), sub = pattern(64, 6);
  std::size_t size = 0;

  void writeTo(const std::string& path) {
    PsBuilder b;
    PesOptions videoTimes;
    videoTimes.pts = kVideoPts;
    videoTimes.dts = kVideoPts - 3600;
    b.packHeader().systemHeader(3, 1).pes(0xE0, video1, videoTimes).finishPack();
    b.packHeader().ac3(0x80, ac3a, kAc3Pts).ac3(0xC3, ddPlus, kDdPlusPts).finishPack();
    b.packHeader().subpicture(0x21, sub, kSubPts).finishPack();
    b.packHeader().pes(0xE0, video2).ac3(0x80, ac3b).finishPack();
    b.writeTo(path);
    size = b.size();
  }
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    input = dir / "t.vob";
    sample.writeTo(input);
    std::filesystem::create_directory(out);
  }
  TempDir dir;
  Sample sample;
  std::string input;
  std::string out = dir / "out";
};

TEST_F(CliTest, ReadPrintsThePlainLogAndSucceeds) {
  const ProcessResult r = cli({"read", input});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("\nDone.\n"));
  EXPECT_THAT(r.out, HasSubstr("Dolby Digital Plus audio stream 3 found!"));
  // Not a terminal: no tags, no escapes, no progress.
  EXPECT_THAT(r.out, Not(HasSubstr("[b]")));
  EXPECT_THAT(r.out, Not(HasSubstr("\033")));
  EXPECT_THAT(r.err, IsEmpty());
}

// A file that is no program stream: the log says that nothing was found
// rather than ending with "Done." alone.
TEST_F(CliTest, ReadOfAFileWithoutStreamsSaysSo) {
  const std::string png = dir / "picture.png";
  Bytes bytes = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 'I', 'H', 'D', 'R'};
  const Bytes rest = pattern(5000, 3);
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  writeFile(png, bytes);
  const ProcessResult r = cli({"read", png});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("File size: 0 Mbytes.\nNo stream was found.\nDone.\n"));
  EXPECT_THAT(cli({"read", input}).out, Not(HasSubstr("No stream was found.")));
}

TEST_F(CliTest, HelpAndVersionSucceed) {
  const ProcessResult help = cli({"demux", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("--streams"));
  const ProcessResult version = cli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_THAT(version.out, HasSubstr(TARNWICK_VERSION));
}

TEST_F(CliTest, BadUsageExitsTwoAndWritesNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"demux"},
      {"demux", "-o", out, "--bogus", input},
      {"demux", "-o", out, "--streams", "video0,audio3", input},   // not a box name
      {"demux", "-o", out, "--streams", "", input},
      {"demux", "-o", out, "--streams", "video0,audio01", input},  // no stream in that box
      {"demux", "-o", out, "--audio-ext", "abcdef", input},
      {"read", "--json", "--sub-ext", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9x", input},
      {"demux", "--json", input},  // a report of the read only
      {"demux", "-o", out, "--chapters", dir / "c.txt", input},  // chapters come from a playlist
      {"demux", "-o", out, "--langs", "en", input},                // so do languages
      {"demux", "-o", out, input, dir / "./t.vob"},                  // one input twice
      {"demux", "-o", out, "--xpl", input, input, dir / "u.vob"},    // one playlist, two inputs
      {"mkv", input, dir / "u.vob"},                                 // two inputs, no folder of their own
      {"mkv", "-o", out, "--xpl", input, "--chapters", dir / "c.txt", input, dir / "u.vob"},  // one file, two titles
      {"demux", "-o", out, "--xpl", input, "--langs", "xx", input},
      {"demux", "-o", out, "--xpl", input, "--langs", "en", "--streams", "video0", input},
      {"xpl"},
  };
  for (const auto& args : cases) {
    const ProcessResult r = cli(args);
    const std::string shown = ::testing::PrintToString(args);
    EXPECT_EQ(r.status, 2) << shown << "\n" << r.err;
    EXPECT_THAT(r.err, Not(IsEmpty())) << shown;
    EXPECT_THAT(r.out, Not(HasSubstr("{"))) << shown;
  }
  EXPECT_THAT(filesIn(out), IsEmpty());
  EXPECT_THAT(cli({"demux", "-o", out, "--streams", "video0,audio01", input}).err, HasSubstr("audio01"));
}

TEST_F(CliTest, PlaylistFailuresExitOneWithTheirText) {
  const std::string xpl = dir / "VPLST000.XPL";
  const std::string evo = dir / "FEATURE_9.EVO";  // Read XPL does not open it
  std::ofstream(xpl) << "<Playlist>\n<AudioAttributeItem index=\"x1\" codec=\"DD+\"/>\n</Playlist>\n";
  ProcessResult r = cli({"xpl", xpl, evo});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "'x1' is not a valid integer value\n");
  EXPECT_THAT(r.out, HasSubstr("Filesize: "));

  // A playlist that names no title of the EVO: the listing, but no chapters.
  std::ofstream(xpl) << "<Playlist>\n<Title displayName=\"Other\">\n</Title>\n</Playlist>\n";
  r = cli({"xpl", "--chapters", dir / "c.txt", xpl, evo});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, HasSubstr("  <Title displayName=\"Other\">\n"));
  EXPECT_THAT(r.err, HasSubstr("no line of the playlist names FEATURE_9."));
  EXPECT_FALSE(std::filesystem::exists(dir / "c.txt"));
  r = cli({"demux", "-o", out, "--xpl", xpl, input});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("the playlist lists no track of this EVO"));
  EXPECT_THAT(filesIn(out), IsEmpty());

  // Never over an input. A byte that is not UTF-8 is shown as U+FFFD.
  std::ofstream(xpl) << "<Playlist>\n<AudioAttributeItem index=\"1\" codec=\"DD\"/>\n<Title displayName=\"T\">\n"
                        "<Clip src=\"FEATURE_9.MAP\"/>\n<Audio streamNumber=\"2\" mediaAttr=\"1\" description=\"Caf\xE9\"/>\n"
                        "<Chapter titleTimeBegin=\"00:00:01:00\" displayName=\"One\"/>\n</Title>\n</Playlist>\n";
  r = cli({"xpl", "--chapters", xpl, xpl, evo});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("It is an input file of this command"));
  EXPECT_THAT(r.out, HasSubstr("DD.stream.01.Caf\xEF\xBF\xBD found!\n"));
  EXPECT_THAT(readFile(xpl), Not(IsEmpty()));
  r = cli({"xpl", "--chapters", "/dev/full", xpl, evo});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("Stream write error"));

  // Chapters whose starts are all malformed: no file, not an empty one.
  std::ofstream(xpl) << "<Playlist>\n<Title displayName=\"T\">\n<Clip src=\"FEATURE_9.MAP\"/>\n"
                        "<Chapter titleTimeBegin=\"00:01:00\" displayName=\"One\"/>\n</Title>\n</Playlist>\n";
  r = cli({"xpl", "--chapters", dir / "c.txt", xpl, evo});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "c.txt"));

  // A chapter past the title's end is left out, and said; a control byte of
  // the playlist (DEL, C1's CSI) never reaches the terminal raw.
  std::ofstream(xpl) << "<Playlist>\n<Title displayName=\"T\x7F\xC2\x9B\" titleDuration=\"00:00:02:00\">\n"
                        "<Clip src=\"FEATURE_9.MAP\"/>\n<Chapter titleTimeBegin=\"00:00:01:00\" displayName=\"One\"/>\n"
                        "<Chapter titleTimeBegin=\"99:59:59:59\" displayName=\"Far\"/>\n</Title>\n</Playlist>\n";
  r = cli({"xpl", "--chapters", dir / "c.txt", xpl, evo});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "1 chapters left out: they start after the title's end.\n");
  EXPECT_EQ(readFile(dir / "c.txt").size(), std::string("CHAPTER01=00:00:01.000\nCHAPTER01NAME=One\n").size());
  EXPECT_THAT(r.out, HasSubstr("Name: T\xEF\xBF\xBD\xEF\xBF\xBD\n"));
  EXPECT_THAT(r.out, Not(HasSubstr("\x7F")));
  EXPECT_THAT(r.out, Not(HasSubstr("\xC2\x9B")));

  // A program stream given as the playlist is not listed as its bytes.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"xpl", input}, std::vector<std::string>{"demux", "-o", out, "--xpl", input, input}}) {
    r = cli(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_THAT(r.err, HasSubstr(std::filesystem::path(input).filename().string() + " is not an HD DVD playlist.\n"));
    EXPECT_THAT(r.out, Not(HasSubstr("\x01"))) << args[0];
    EXPECT_THAT(filesIn(out), IsEmpty());
  }
}

TEST_F(CliTest, ExtensionsOfFiveCharactersAreAccepted) {
  // Five characters, ten bytes: the limit counts characters as the window does.
  const std::string subExt = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
  const ProcessResult r = cli({"demux", "-o", out, "--video-ext", "m2v", "--audio-ext", "abcde", "--sub-ext",
                               subExt, "--streams", "video0,audio03,sub01", input});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(filesIn(out), (std::set<std::string>{"t.MPEG-2.stream.0.m2v", "t.DD+.stream.03.abcde",
                                                   "t.Subpicture.01." + subExt}));
}

TEST_F(CliTest, MissingInputIsAFileError) {
  const ProcessResult r = cli({"demux", "-o", out, dir / "absent.vob"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("Cannot open file \"" + dir / "absent.vob" + "\""));
  EXPECT_THAT(filesIn(out), IsEmpty());
  EXPECT_EQ(cli({"read", "--json", dir / "absent.vob"}).status, 1);
}

TEST_F(CliTest, DemuxOfAFileWithoutStreamsFails) {
  writeFile(dir / "empty.vob", {});
  const ProcessResult r = cli({"demux", "-o", out, dir / "empty.vob"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("no stream"));
  EXPECT_THAT(filesIn(out), IsEmpty());
}

TEST_F(CliTest, MissingOutputFolderNamesTheFirstOutput) {
  const ProcessResult r = cli({"demux", "-o", dir / "nowhere", input});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("Cannot create file \"" + dir / "nowhere" + "/t.MPEG-2.stream.0.mpv\""));
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
}

TEST_F(CliTest, DemuxWritesOnlyTheChosenStreams) {
  const ProcessResult r = cli({"demux", "-o", out, "--streams", "audio00,video0", input});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(filesIn(out), (std::set<std::string>{"t.MPEG-2.stream.0.mpv", "t.DD.stream.00.mpa"}));
  EXPECT_EQ(readFile(out + "/t.MPEG-2.stream.0.mpv"), join(sample.video1, sample.video2));
  EXPECT_EQ(readFile(out + "/t.DD.stream.00.mpa"), join(sample.ac3a, sample.ac3b));
}

// --langs keeps video and the tracks the playlist gives in those languages;
// a language the title lacks is a warning, or a failure when no audio stays.
TEST_F(CliTest, LanguagesChooseThePlaylistsTracks) {
  const std::string xpl = dir / "VPLST000.XPL";
  std::ofstream(xpl) << "<Playlist>\n<VideoAttributeItem index=\"1\" codec=\"MPEG-2\"/>\n"
                        "<AudioAttributeItem index=\"1\" codec=\"DD\"/>\n"
                        "<SubpictureAttributeItem index=\"1\" codec=\"Sub\"/>\n<Title displayName=\"T\">\n"
                        "<PrimaryAudioVideoClip src=\"t.MAP\">\n<Video track=\"1\" mediaAttr=\"1\"/>\n"
                        "<Audio track=\"1\" streamNumber=\"1\" mediaAttr=\"1\" description=\"A\"/>\n"
                        "<Audio track=\"2\" streamNumber=\"4\" mediaAttr=\"1\" description=\"B\"/>\n"
                        "<Subtitle track=\"1\" streamNumber=\"2\" mediaAttr=\"1\" description=\"C\"/>\n"
                        "</PrimaryAudioVideoClip>\n<TrackNavigationList>\n<AudioTrack track=\"1\" langcode=\"en:00\"/>\n"
                        "<AudioTrack track=\"2\" langcode=\"jp:00\"/>\n<SubtitleTrack track=\"1\" langcode=\"de:00\"/>\n"
                        "</TrackNavigationList>\n</Title>\n</Playlist>\n";
  ProcessResult r = cli({"demux", "-o", out, "--xpl", xpl, "--langs", "jpn,fr", "--sub-langs", "deu", input});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Warning: no audio track in fr (the title's are in eng, jpn).\n");
  EXPECT_EQ(filesIn(out), (std::set<std::string>{"t.MPEG-2.stream.0.mpv", "t.DD.stream.03.B.mpa", "t.Sub.stream.01.C.sup"}));
  EXPECT_EQ(readFile(out + "/t.DD.stream.03.B.mpa"), sample.ddPlus);

  std::filesystem::remove_all(out);
  std::filesystem::create_directory(out);
  r = cli({"demux", "-o", out, "--xpl", xpl, "--audio-langs", "de", input});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "No audio track in de: the title's audio tracks are in eng, jpn.\n");
  EXPECT_THAT(filesIn(out), IsEmpty());
}

// An encrypted disc's packets say their payload is scrambled: the read stops
// with one line rather than listing noise; a few such headers in a damaged
// file do not stop it.
TEST_F(CliTest, ScrambledPacketsStopTheReadWithOneLine) {
  const auto file = [&](const int count) {
    int scrambled = count;
    PsBuilder b;
    for (int n = 0; n < 40; ++n) b.packHeader().pes(0xE0, Bytes(100, 0x11)).ac3(0x80, Bytes(100, 0x22)).finishPack();
    Bytes bytes = b.bytes();
    for (std::size_t at = 0; at + 6 < bytes.size() && scrambled > 0; ++at)
      if (bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1 && (bytes[at + 3] == 0xE0 || bytes[at + 3] == 0xBD)) {
        bytes[at + 6] |= 0x10;  // PES_scrambling_control 01
        --scrambled;
      }
    const std::string path = dir / ("s" + std::to_string(count) + ".evo");
    writeFile(path, bytes);
    return path;
  };
  const std::string encrypted = file(80);
  ProcessResult r = cli({"demux", "-o", out, encrypted});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, encrypted + " is encrypted; Tarnwick reads decrypted discs only.\n");
  EXPECT_THAT(filesIn(out), IsEmpty());
  r = cli({"read", file(15)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("MPEG-2 video stream 0 found!"));
}

// Several inputs: each in turn into a folder named after it (a disc's EVO
// after its disc); one that fails is reported and the others go on.
TEST_F(CliTest, SeveralInputsEachInAFolderOfItsOwn) {
  const std::string disc = dir / "Disc Two/HVDVD_TS/FEATURE_1.EVO";
  std::filesystem::create_directories(dir / "Disc Two/HVDVD_TS");
  sample.writeTo(disc);
  const std::string missing = dir / "missing.vob";
  const ProcessResult r = cli({"demux", "-o", out, "--streams", "audio00", input, missing, disc});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(filesIn(out), (std::set<std::string>{"t", "Disc Two"}));
  EXPECT_EQ(readFile(out + "/t/t.DD.stream.00.mpa"), join(sample.ac3a, sample.ac3b));
  EXPECT_EQ(readFile(out + "/Disc Two/FEATURE_1.DD.stream.00.mpa"), join(sample.ac3a, sample.ac3b));
  EXPECT_THAT(r.out, HasSubstr("disc 3 of 3: " + disc + "\n"));
  EXPECT_THAT(r.out, HasSubstr("\n" + input + ": done\n" + missing + ": failed: Cannot open file \"" + missing +
                               "\". No such file or directory\n" + disc + ": done\n"));
  EXPECT_THAT(r.err, HasSubstr("Cannot open file \"" + missing + "\""));
}

TEST_F(CliTest, DemuxWithoutAListWritesEveryStreamBesideTheInput) {
  ASSERT_EQ(cli({"demux", input}).status, 0);
  EXPECT_EQ(filesIn(dir.path().string()),
            (std::set<std::string>{"t.vob", "out", "t.MPEG-2.stream.0.mpv", "t.DD.stream.00.mpa",
                                   "t.DD+.stream.03.mpa", "t.Subpicture.01.sup"}));
  EXPECT_EQ(readFile(dir / "t.DD+.stream.03.mpa"), sample.ddPlus);
}

TEST_F(CliTest, NoContinueStopsAtTheFirstFile) {
  sample.writeTo(dir / "F_1.EVO");
  sample.writeTo(dir / "F_2.EVO");
  const std::vector<std::string> base = {"demux", "-o", out, "--streams", "audio00", dir / "F_1.EVO"};
  const ProcessResult both = cli(base);
  ASSERT_EQ(both.status, 0) << both.err;
  EXPECT_THAT(both.out, HasSubstr("Continue on F_2.EVO"));
  EXPECT_EQ(readFile(out + "/F_1_F_2.DD.stream.00.mpa"), join(join(sample.ac3a, sample.ac3b), join(sample.ac3a, sample.ac3b)));

  std::vector<std::string> first = base;
  first.insert(first.begin() + 1, "--no-continue");
  const ProcessResult one = cli(first);
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_THAT(one.out, Not(HasSubstr("Continue on")));
  EXPECT_EQ(readFile(out + "/F_1.DD.stream.00.mpa"), join(sample.ac3a, sample.ac3b));
}

// The report through Python's strict JSON reader, flattened to
// "streams[1].delayMs" -> "120"; strings come back unescaped.
std::map<std::string, std::string> parseJson(const std::string& json) {
  static const char* kFlatten = R"(
import json, sys
out = sys.stdout.buffer
def walk(p, v):
    if isinstance(v, dict):
        for k, x in v.items(): walk(p + "." + k if p else k, x)
    elif isinstance(v, list):
        out.write((p + ".length\0" + str(len(v)) + "\0").encode())
        for i, x in enumerate(v): walk(p + "[" + str(i) + "]", x)
    else:
        out.write((p + "\0" + (v if isinstance(v, str) else json.dumps(v)) + "\0").encode())
walk("", json.loads(sys.stdin.buffer.read().decode("utf-8")))
)";
  const ProcessResult r = runProcess({"python3", "-c", kFlatten}, json);
  EXPECT_EQ(r.status, 0) << "not valid JSON: " << r.err << "\n" << json;
  std::map<std::string, std::string> fields;
  for (std::size_t at = 0; at < r.out.size();) {
    const std::size_t keyEnd = r.out.find('\0', at);
    const std::size_t valueEnd = r.out.find('\0', keyEnd + 1);
    fields[r.out.substr(at, keyEnd - at)] = r.out.substr(keyEnd + 1, valueEnd - keyEnd - 1);
    at = valueEnd + 1;
  }
  return fields;
}

TEST_F(CliTest, JsonReportCarriesStreamsTimesAndCounts) {
  // Quotes, a backslash, a tab and a non-ASCII letter must survive escaping.
  const std::string odd = dir / "q\"b\\s\tt \xC3\xA9.vob";
  std::filesystem::copy_file(input, odd);
  const ProcessResult r = cli({"read", "--json", odd});
  ASSERT_EQ(r.status, 0) << r.err;
  auto f = parseJson(r.out);
  EXPECT_EQ(f["file"], odd);
  EXPECT_EQ(f["size"], std::to_string(sample.size));
  EXPECT_EQ(f["secondFile"], "null");
  EXPECT_EQ(f["frameCounts[0]"], "5");
  EXPECT_EQ(f["frameCounts[1]"], "0");
  ASSERT_EQ(f["streams.length"], "4");

  struct Expected {
    const char* box;
    const char* caption;
    const char* kind;
    int id;
    std::uint64_t pts;
    const char* delay;
  };
  const Expected expected[] = {
      {"video0", "MPEG-2.stream.0", "MPEG-2.stream", 0xE0, Sample::kVideoPts, "0"},
      {"audio00", "DD.stream.00", "DD.stream", 0x80, Sample::kAc3Pts, "120"},
      {"audio03", "DD+.stream.03", "DD+.stream", 0xC3, Sample::kDdPlusPts, "-44"},  // toward zero
      {"sub01", "Subpicture.01", "Subpicture", 0x21, Sample::kSubPts, "1000"},
  };
  const ProcessResult log = cli({"read", input});
  for (int i = 0; i < 4; ++i) {
    const std::string s = "streams[" + std::to_string(i) + "].";
    EXPECT_EQ(f[s + "box"], expected[i].box);
    EXPECT_EQ(f[s + "caption"], expected[i].caption);
    EXPECT_EQ(f[s + "kind"], expected[i].kind);
    EXPECT_EQ(f[s + "streamId"], std::to_string(expected[i].id));
    EXPECT_EQ(f[s + "firstPts"], std::to_string(expected[i].pts));
    EXPECT_EQ(f[s + "delayMs"], expected[i].delay);
    // The detail lines are the ones the log shows under the stream.
    ASSERT_NE(f[s + "details.length"], "0") << s;
    for (int k = 0; k < std::stoi(f[s + "details.length"]); ++k)
      EXPECT_THAT(log.out, HasSubstr("\n" + f[s + "details[" + std::to_string(k) + "]"] + "\n"));
  }
}

TEST_F(CliTest, JsonFollowsTheDetailAndCountBoxes) {
  const ProcessResult r = cli({"read", "--json", "--no-details", "--no-count-frames", input});
  ASSERT_EQ(r.status, 0) << r.err;
  auto f = parseJson(r.out);
  EXPECT_EQ(f["frameCounts[0]"], "0");
  ASSERT_EQ(f["streams.length"], "4");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(f["streams[" + std::to_string(i) + "].details.length"], "0");
  // The first time stamps are kept without details.
  EXPECT_EQ(f["streams[1].firstPts"], std::to_string(Sample::kAc3Pts));
}

TEST_F(CliTest, JsonWithoutVideoHasNoDelays) {
  PsBuilder b;
  b.packHeader().ac3(0x81, pattern(100), 5000).finishPack();
  b.writeTo(dir / "audio.vob");
  const ProcessResult r = cli({"read", "--json", dir / "audio.vob"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto f = parseJson(r.out);
  ASSERT_EQ(f["streams.length"], "1");
  EXPECT_EQ(f["streams[0].box"], "audio01");
  EXPECT_EQ(f["streams[0].firstPts"], "5000");
  EXPECT_EQ(f["streams[0].delayMs"], "null");
}

// The time line starts at the first video stream's time stamp, also when
// the only video stream sits in slot 1.
TEST_F(CliTest, JsonDelaysFromAVideoStreamInSlotOne) {
  for (const bool vc1 : {false, true}) {
    PsBuilder b;
    b.packHeader();
    if (vc1)
      b.vc1(pattern(100), 90000, {}, 0x56);
    else
      b.pes(0xE1, pattern(100), {.pts = 90000, .dts = 86400});
    b.ac3(0x82, pattern(100), 90000 + 90 * 250).finishPack();
    const std::string file = dir / (vc1 ? "slot1.evo" : "slot1.vob");
    b.writeTo(file);
    const ProcessResult r = cli({"read", "--json", file});
    ASSERT_EQ(r.status, 0) << r.err;
    auto f = parseJson(r.out);
    ASSERT_EQ(f["streams.length"], "2") << file;
    EXPECT_EQ(f["streams[0].box"], "video1") << file;
    EXPECT_EQ(f["streams[0].delayMs"], "0") << file;
    EXPECT_EQ(f["streams[1].delayMs"], "250") << file;
  }
}

TEST_F(CliTest, RebuildKeepsTheNamedStreams) {
  // One packet per pack, as on a disc: the first packet decides a pack.
  const std::string evo = dir / "t.EVO";
  PsBuilder b;
  b.packHeader().systemHeader(2, 1).pes(0xE0, pictures(2, 1), {.pts = 9000}).finishPack();
  b.packHeader().ac3(0x80, pattern(300, 2), 9000).finishPack();
  b.packHeader().ac3(0xC3, pattern(300, 3), 9000).finishPack();
  b.packHeader().subpicture(0x21, pattern(64, 4), 9000).finishPack();
  b.writeTo(evo);
  const ProcessResult r = cli({"rebuild", "-o", out, "--streams", "video0,audio03", evo});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("\nOpening file t.EVO\nFile size: 0 Mbytes.\nCreating " + out +
                               "/t.rebuilt.EVO\nDolby Digital Plus stream C3 is written as C0.\nDone.\n"));
  EXPECT_EQ(filesIn(out), (std::set<std::string>{"t.rebuilt.EVO"}));
  // Dolby Digital 80 and the subpicture are gone; Dolby Digital Plus C3, the
  // only audio stream kept, is now C0.
  const ProcessResult read = cli({"read", "--no-details", out + "/t.rebuilt.EVO"});
  EXPECT_THAT(read.out, HasSubstr("\nMPEG-2 video stream 0 found!\nDolby Digital Plus audio stream 0 found!\nDone.\n"));
}

// DTS 8D and LPCM A5 meet in audio slot 5, subpicture 20 and 60 in slot 0;
// VC-1 57 no box holds. The later ones are listed as left out, and the
// output of slot 5 holds DTS 8D only.
TEST_F(CliTest, StreamsSharingASlotAreLeftOutAndListed) {
  const std::string evo = dir / "t.EVO";
  PsBuilder b;
  b.packHeader().dts(0x8D, pattern(300, 1), 9000).finishPack();
  b.packHeader().lpcm(0xA5, pattern(300, 2), 9000).finishPack();
  b.packHeader().subpicture(0x20, pattern(64, 3), 9000).finishPack();
  b.packHeader().subpicture(0x60, pattern(64, 4), 9000).finishPack();
  b.packHeader().vc1(pattern(300, 5), 9000, {}, 0x57).finishPack();
  b.packHeader().dts(0x8D, pattern(300, 6)).finishPack();
  b.packHeader().lpcm(0xA5, pattern(300, 7)).finishPack();
  b.writeTo(evo);
  const ProcessResult read = cli({"read", "--json", evo});
  ASSERT_EQ(read.status, 0) << read.err;
  auto f = parseJson(read.out);
  ASSERT_EQ(f["leftOut.length"], "3");
  const std::vector<std::vector<std::string>> leftOut = {
      {"audio", "165", "5", "141"}, {"subpicture", "96", "0", "32"}, {"video", "87", "null", "null"}};
  for (std::size_t i = 0; i < leftOut.size(); ++i) {
    const std::string s = "leftOut[" + std::to_string(i) + "].";
    EXPECT_EQ((std::vector<std::string>{f[s + "kind"], f[s + "streamId"], f[s + "slot"], f[s + "sharesWith"]}),
              leftOut[i]);
  }
  EXPECT_THAT(cli({"read", "--no-details", evo}).out,
              HasSubstr("\nDTS HD (DTS) audio stream 5 found!\nStream A5 shares audio slot 5 with stream 8D and is left "
                        "out.\nSubpicture stream 0 found!\nStream 60 shares subpicture slot 0 with stream 20 and is "
                        "left out.\nStream 57 is a video stream that no box holds and is left out.\nDone.\n"));

  const ProcessResult demux = cli({"demux", "-o", out, "--streams", "audio05", evo});
  ASSERT_EQ(demux.status, 0) << demux.err;
  EXPECT_EQ(filesIn(out), (std::set<std::string>{"t.DTSHD.stream.05.mpa"}));
  EXPECT_EQ(readFile(out + "/t.DTSHD.stream.05.mpa"), join(pattern(300, 1), pattern(300, 6)));
}

// MPEG-2 video E0 and H.264 E2 meet in video slot 0: the output holds E0
// only, E2 is listed as left out.
TEST_F(CliTest, TwoVideoStreamsInOneSlot) {
  const std::string evo = dir / "t.EVO";
  const Bytes e0a = pictures(2, 1), e2a = pattern(400, 2), e0b = pictures(1, 3), e2b = pattern(400, 4);
  PsBuilder b;
  b.packHeader().pes(0xE0, e0a, {.pts = 9000}).finishPack();
  b.packHeader().pes(0xE2, e2a, {.pts = 9000}).finishPack();
  b.packHeader().pes(0xE0, e0b).finishPack();
  b.packHeader().pes(0xE2, e2b).finishPack();
  b.writeTo(evo);
  const ProcessResult read = cli({"read", "--json", evo});
  ASSERT_EQ(read.status, 0) << read.err;
  auto f = parseJson(read.out);
  ASSERT_EQ(f["leftOut.length"], "1");
  EXPECT_EQ((std::vector<std::string>{f["leftOut[0].kind"], f["leftOut[0].streamId"], f["leftOut[0].slot"],
                                      f["leftOut[0].sharesWith"]}),
            (std::vector<std::string>{"video", "226", "0", "224"}));

  const ProcessResult demux = cli({"demux", "-o", out, evo});
  ASSERT_EQ(demux.status, 0) << demux.err;
  EXPECT_THAT(demux.out, HasSubstr("Stream E2 shares video slot 0 with stream E0 and is left out."));
  EXPECT_EQ(filesIn(out), (std::set<std::string>{"t.MPEG-2.stream.0.mpv"}));
  EXPECT_EQ(readFile(out + "/t.MPEG-2.stream.0.mpv"), join(e0a, e0b));
}

// The playlist is an input of the command: the rebuilt file may not replace
// it, under its own name or through a link.
TEST_F(CliTest, RebuildNeverWritesOverThePlaylist) {
  const std::string evo = dir / "t.EVO";
  PsBuilder b;
  b.packHeader().ac3(0x80, pattern(300, 1), 9000).finishPack();
  b.writeTo(evo);
  const std::string text = "<Playlist>\n<AudioAttributeItem index=\"1\" codec=\"DD\"/>\n<Title displayName=\"T\">\n"
                           "<Clip src=\"t.MAP\"/>\n<Audio streamNumber=\"1\" mediaAttr=\"1\"/>\n</Title>\n</Playlist>\n";
  const Bytes xplBytes(text.begin(), text.end());
  const std::string playlist = out + "/t.rebuilt.EVO";
  writeFile(playlist, xplBytes);
  const std::string elsewhere = dir / "VPLST000.XPL";
  writeFile(elsewhere, xplBytes);
  const std::string link = dir / "links";
  std::filesystem::create_directory(link);
  std::filesystem::create_symlink(elsewhere, link + "/t.rebuilt.EVO");
  for (const auto& [folder, xpl] : {std::pair{out, playlist}, std::pair{link, elsewhere}}) {
    const ProcessResult r = cli({"rebuild", "-o", folder, "--xpl", xpl, evo});
    EXPECT_EQ(r.status, 1) << xpl;
    EXPECT_THAT(r.err, HasSubstr("Cannot create file \"" + folder + "/t.rebuilt.EVO\". It is an input file of this command"));
    EXPECT_EQ(readFile(xpl), xplBytes) << xpl;
  }
}

TEST_F(CliTest, RebuildTakesAnEvoWithStreams) {
  const ProcessResult vob = cli({"rebuild", "-o", out, input});
  EXPECT_EQ(vob.status, 2);
  EXPECT_THAT(vob.err, HasSubstr(".EVO"));
  writeFile(dir / "empty.evo", {});
  const ProcessResult empty = cli({"rebuild", "-o", out, dir / "empty.evo"});
  EXPECT_EQ(empty.status, 1);
  EXPECT_THAT(empty.err, HasSubstr("Nothing to rebuild"));
  EXPECT_THAT(filesIn(out), IsEmpty());
  const ProcessResult help = cli({"rebuild", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("--no-continue"));
}

}  // namespace
}  // namespace tarnwick::test
