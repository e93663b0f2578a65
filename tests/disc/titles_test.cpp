// The titles of a disc: the sample disc's playlist read title by title with
// its files on the disc, the main-feature rule on a playlist made to trip
// it, and the discs without a playlist (EVO files, a DVD's title sets).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "disc/disc.h"
#include "disc/titles.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

void writeFile(const fs::path& path, std::size_t bytes, const std::string& text = {}) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << (text.empty() ? std::string(bytes, 'x') : text);
}

// "1 eng English": a track as one comparable line.
std::vector<std::string> lines(const std::vector<TitleTrack>& tracks) {
  std::vector<std::string> out;
  for (const TitleTrack& t : tracks) out.push_back(std::to_string(t.streamNumber) + " " + t.language + " " + t.description);
  return out;
}

// "HVDVD_TS/EXTRA.EVO 2267136", "... missing".
std::vector<std::string> lines(const std::vector<TitleClip>& clips) {
  std::vector<std::string> out;
  for (const TitleClip& c : clips) out.push_back(c.path + " " + (c.exists ? std::to_string(c.bytes) : "missing"));
  return out;
}

std::vector<int> mainNumbers(const std::vector<Title>& titles) {
  std::vector<int> out;
  for (const Title& t : titles)
    if (t.main) out.push_back(t.number);
  return out;
}

TEST(SampleDiscTitles, EachTitleWithItsFilesTracksChaptersAndTheMainFeature) {
  for (const char* tool : {"ffmpeg", "ffprobe"})
    if (!onPath(tool)) GTEST_SKIP() << tool << " is not on PATH";
  TempDir dir;
  const ProcessResult made = runProcess({TARNWICK_MKDISC, dir / "DISC", "--seconds", "1"});
  ASSERT_EQ(made.status, 0) << made.err;
  const fs::path evos = dir.path() / "DISC" / "HVDVD_TS";
  const auto size = [&](const char* name) { return std::to_string(fs::file_size(evos / name)); };

  std::vector<Title> titles = discTitles(*openDisc(dir / "DISC"));
  ASSERT_EQ(titles.size(), 3u);
  const Title &feature = titles[0], &extra = titles[1], &trailer = titles[2];
  EXPECT_EQ(feature.number, 1);
  EXPECT_EQ(feature.name, "The Sample Feature");
  EXPECT_EQ(feature.durationMs, 2000);
  EXPECT_THAT(lines(feature.clips), ElementsAre("HVDVD_TS/FEATURE_1.EVO " + size("FEATURE_1.EVO"),
                                                "HVDVD_TS/FEATURE_2.EVO " + size("FEATURE_2.EVO")));
  // Languages as the TrackNavigationList maps them ("jp" is Japanese),
  // descriptions decoded; the second file's repeated tracks listed once.
  EXPECT_THAT(lines(feature.audio),
              ElementsAre("1 eng English", "2 eng English Director's Commentary", "3 fre Fran\xC3\xA7" "ais"));
  EXPECT_THAT(lines(feature.subtitles), ElementsAre("1 eng English", "2 jpn \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"));
  EXPECT_EQ(feature.chapters, 3);

  EXPECT_EQ(extra.number, 2);
  EXPECT_EQ(extra.name, "Making Of");
  EXPECT_EQ(extra.durationMs, 1000);
  EXPECT_THAT(lines(extra.clips), ElementsAre("HVDVD_TS/EXTRA.EVO " + size("EXTRA.EVO")));
  EXPECT_THAT(lines(extra.audio), ElementsAre("1 eng English"));
  EXPECT_THAT(lines(extra.subtitles), ElementsAre("1 ger Deutsch"));
  EXPECT_EQ(extra.chapters, 1);

  EXPECT_EQ(trailer.number, 3);
  EXPECT_EQ(trailer.name, "Trailer");
  EXPECT_EQ(trailer.durationMs, 1500);
  EXPECT_THAT(lines(trailer.clips), ElementsAre("HVDVD_TS/TRAILER.EVO " + size("TRAILER.EVO")));
  EXPECT_TRUE(trailer.subtitles.empty());
  EXPECT_EQ(mainNumbers(titles), std::vector<int>{1});

  // With a file of the feature gone, the feature cannot be played: the
  // longest title that can is the trailer.
  fs::remove(evos / "FEATURE_2.EVO");
  titles = discTitles(*openDisc(dir / "DISC"));
  ASSERT_EQ(titles.size(), 3u);
  EXPECT_THAT(lines(titles[0].clips), ElementsAre("HVDVD_TS/FEATURE_1.EVO " + size("FEATURE_1.EVO"),
                                                  "HVDVD_TS/FEATURE_2.EVO missing"));
  EXPECT_EQ(mainNumbers(titles), std::vector<int>{3});
}

// Each title trips one way of getting the main feature wrong.
constexpr const char* kRulePlaylist = R"(<?xml version="1.0" encoding="UTF-8"?>
<Playlist displayName="Rules">
  <TitleSet timeBase="60fps">
    <Title id="a" titleNumber="5" displayName="Longest, its file missing" titleDuration="02:00:00:00">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/GONE.MAP"/>
    </Title>
    <Title id="b" titleNumber="4" displayName="Longer, but plays no file" titleDuration="03:00:00:00">
    </Title>
    <Title id="c" titleNumber="7" displayName="Longer, its file outside the disc" titleDuration="02:30:00:00">
      <PrimaryAudioVideoClip src="file:///dvddisc/../OUTSIDE.MAP"/>
    </Title>
    <Title id="d" titleNumber="3" displayName="Tied, higher number first" titleDuration="01:00:00:00">
      <PrimaryAudioVideoClip src="file:///dvddisc/hvdvd_ts/tied_b.map"/>
    </Title>
    <Title id="e" titleNumber="2" displayName="Tied, lower number &amp; main" titleDuration="01:00:00:00">
      <PrimaryAudioVideoClip src="TIED_A.MAP"/>
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/TIED_A2.MAP"/>
    </Title>
  </TitleSet>
  <TitleSet timeBase="50fps">
    <Title id="f" displayName="No number, 50 frames a second" titleDuration="00:00:01:25">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/TIED_B.MAP"/>
    </Title>
  </TitleSet>
</Playlist>
)";

TEST(PlaylistTitles, TheMainFeatureIsTheLongestTitleWhoseFilesAreAllOnTheDiscTiesToTheLowerNumber) {
  TempDir dir;
  const fs::path disc = dir.path() / "DISC";
  writeFile(disc / "ADV_OBJ" / "VPLST000.XPL", 0, kRulePlaylist);
  writeFile(disc / "HVDVD_TS" / "TIED_B.EVO", 700);
  writeFile(disc / "HVDVD_TS" / "TIED_A.EVO", 300);
  writeFile(disc / "HVDVD_TS" / "TIED_A2.EVO", 200);
  writeFile(dir.path() / "OUTSIDE.EVO", 900);  // beside the disc, not on it
  fs::create_directories(disc / "HVDVD_TS" / "GONE.EVO");  // a folder is no file to play

  const std::vector<Title> titles = discTitles(*openDisc(disc.string()));
  ASSERT_EQ(titles.size(), 6u);
  std::vector<std::string> seen;
  for (const Title& t : titles) {
    std::string line = std::to_string(t.number) + " " + t.name + " " +
                       (t.durationMs ? std::to_string(*t.durationMs) : "-") + (t.main ? " main" : "");
    for (const std::string& clip : lines(t.clips)) line += " | " + clip;
    seen.push_back(line);
  }
  EXPECT_THAT(seen, ElementsAre("5 Longest, its file missing 7200000 | HVDVD_TS/GONE.EVO missing",
                                "4 Longer, but plays no file 10800000",
                                "7 Longer, its file outside the disc 9000000 | HVDVD_TS/OUTSIDE.EVO missing",
                                "3 Tied, higher number first 3600000 | hvdvd_ts/TIED_B.EVO 700",
                                "2 Tied, lower number & main 3600000 main | HVDVD_TS/TIED_A.EVO 300 | "
                                "HVDVD_TS/TIED_A2.EVO 200",
                                "6 No number, 50 frames a second 1500 | HVDVD_TS/TIED_B.EVO 700"));
}

TEST(PlaylistTitles, APlaylistThatIsNoneIsADiscErrorNamingTheDisc) {
  TempDir dir;
  writeFile(dir.path() / "DISC" / "ADV_OBJ" / "VPLST000.XPL", 4096);
  try {
    discTitles(*openDisc(dir / "DISC"));
    FAIL() << "no error";
  } catch (const DiscError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot read the titles of \"" + dir / "DISC" + "\". ADV_OBJ/VPLST000.XPL is not an HD DVD playlist.");
  }
}

TEST(DiscWithoutPlaylist, EachEvoFileIsATitleTheLargestTheMainFeature) {
  TempDir dir;
  const fs::path evos = dir.path() / "DISC" / "HVDVD_TS";
  writeFile(evos / "B.EVO", 300);
  writeFile(evos / "a.evo", 500);
  writeFile(evos / "C.EVO.txt", 900);
  fs::create_directories(evos / "D.EVO");
  const std::vector<Title> titles = discTitles(*openDisc(dir / "DISC"));
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[0].number, 1);
  EXPECT_EQ(titles[0].name, "a");
  EXPECT_THAT(lines(titles[0].clips), ElementsAre("HVDVD_TS/a.evo 500"));
  EXPECT_EQ(titles[1].number, 2);
  EXPECT_EQ(titles[1].name, "B");
  EXPECT_THAT(lines(titles[1].clips), ElementsAre("HVDVD_TS/B.EVO 300"));
  EXPECT_FALSE(titles[0].durationMs);
  EXPECT_EQ(mainNumbers(titles), std::vector<int>{1});
}

TEST(DiscWithoutPlaylist, ADvdTitleSetIsItsPartsJoinedInOrderWithoutTheMenu) {
  TempDir dir;
  const fs::path vts = dir.path() / "DISC" / "VIDEO_TS";
  writeFile(vts / "VIDEO_TS.VOB", 5000);
  writeFile(vts / "VTS_01_0.VOB", 4000);
  writeFile(vts / "VTS_01_2.VOB", 50);
  writeFile(vts / "VTS_01_1.VOB", 100);
  writeFile(vts / "VTS_02_0.VOB", 4000);
  writeFile(vts / "vts_02_1.vob", 120);
  writeFile(vts / "VTS_02_1.IFO", 9000);
  // Set 1 has the more bytes only with both its parts counted.
  const std::vector<Title> titles = discTitles(*openDisc(dir / "DISC"));
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[0].name, "VTS_01");
  EXPECT_THAT(lines(titles[0].clips), ElementsAre("VIDEO_TS/VTS_01_1.VOB 100", "VIDEO_TS/VTS_01_2.VOB 50"));
  EXPECT_EQ(titles[1].name, "VTS_02");
  EXPECT_EQ(titles[1].number, 2);
  EXPECT_THAT(lines(titles[1].clips), ElementsAre("VIDEO_TS/vts_02_1.vob 120"));
  EXPECT_TRUE(titles[0].dvd && titles[1].dvd);
  EXPECT_EQ(mainNumbers(titles), std::vector<int>{1});
}

}  // namespace
}  // namespace tarnwick::test
