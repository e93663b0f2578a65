// Read XPL on the window model: the listing as the byte scan cuts it, the
// title tree, the labels and ticks of the stream boxes, and its failures.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/model_window.h"
#include "app/tf_main.h"
#include "engine/file_io.h"
#include "playlist/chapters.h"
#include "playlist/languages.h"
#include "playlist/track_names.h"
#include "playlist/xpl_reader.h"
#include "support/builders.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> texts(const std::vector<TreeNode>& tree) {
  std::vector<std::string> out;
  for (const TreeNode& node : tree) {
    out.push_back(node.text);
    for (const std::string& child : node.children) out.push_back("  " + child);
  }
  return out;
}

class ReadXplTest : public ::testing::Test {
 protected:
  ReadXplTest() : main(window) {
    main.FormActivate();
    fs::create_directories(dir.path() / "HVDVD_TS");
    fs::create_directories(dir.path() / "ADV_OBJ");
  }
  std::string xplPath() const { return (dir.path() / "ADV_OBJ" / "VPLST000.XPL").string(); }
  // The playlist as a disc holds it, and an EVO chosen by a drop beside it.
  void readPlaylist(const std::string& content, const std::string& evoName = "FEATURE_1.EVO") {
    std::ofstream(xplPath(), std::ios::binary) << content;
    main.WMDropFiles({(dir.path() / "HVDVD_TS" / evoName).string()});
    window.clearLog();
    main.bReadXPLClick();
  }
  std::vector<std::string> memo() const { return window.playlistMemo(); }

  TempDir dir;
  ModelWindow window;
  TfMain main;
};

TEST_F(ReadXplTest, ListingIndentsByNestingWhateverTheTextLinesAre) {
  // No line names the EVO: the memo keeps the whole document.
  const std::string document =
      "<?xml version=\"1.0\"?>\n"
      "<Playlist displayName=\"Disc\">\n"
      "<!-- a comment -->\n"
      "  text that is not a tag\n"
      "<Title id=\"1\"\n\r\n\tdisplayName=\"Main\">\n"
      "<Empty a=\"1\"/>\n"
      "<Inner><Deep/></Inner>\n"
      "</Title>\n"
      "</Playlist>\n";
  readPlaylist(document);
  EXPECT_THAT(memo(), ElementsAre("<?xml version=\"1.0\"?>", "<Playlist displayName=\"Disc\">", "  <!-- a comment -->",
                                  "  <Title id=\"1\" displayName=\"Main\">", "    <Empty a=\"1\"/>", "    <Inner>",
                                  "      <Deep/>", "    </Inner>", "  </Title>", "</Playlist>"));
  EXPECT_TRUE(window.memoVisible());
  EXPECT_EQ(window.page(), 4);
  EXPECT_THAT(window.logText(), ElementsAre("Open VPLST000.XPL", "Filesize: " + std::to_string(document.size()) + " bytes", "Done.", ""));
  // The tree is left as it was; no box is labelled.
  EXPECT_THAT(texts(window.playlistTree()), ElementsAre("Video", "Audio", "Subpicture", "Chapter"));
  EXPECT_FALSE(window.enabled(ControlId::bDemux));
  EXPECT_TRUE(window.enabled(ControlId::bReadXPL));
  EXPECT_EQ(window.statusPanel(0), " Ready");
  EXPECT_EQ(window.statusPanel(1), " ");
}

TEST_F(ReadXplTest, ATagAcrossTheChunkBoundaryIsOneLine) {
  const std::string tags = "<Playlist>\n<Title displayName=\"T\">\n<Audio streamNumber=\"1\" description=\"x\"/>\n";
  std::string padded = "<Playlist>\n<Title displayName=\"T\">\n";
  // Text between tags is dropped, so the padding changes nothing but the
  // place of the next tag, which now starts 7 bytes before the boundary.
  padded += std::string(kPackBufferSize - 7 - padded.size(), 'z');
  padded += "<Audio streamNumber=\"1\" description=\"x\"/>\n";
  readPlaylist(tags);
  const std::vector<std::string> whole = memo();
  readPlaylist(padded);
  EXPECT_EQ(memo(), whole);
  EXPECT_THAT(memo(), ElementsAre("<Playlist>", "  <Title displayName=\"T\">",
                                  "    <Audio streamNumber=\"1\" description=\"x\"/>"));
}

TEST_F(ReadXplTest, UnclosedTagsStopIndentingAtALimit) {
  // A damaged file of unclosed tags must not make every further line longer.
  std::string document = "<Playlist>";
  for (int i = 0; i < 50; ++i) document += "<a>";
  readPlaylist(document);
  ASSERT_EQ(memo().size(), 51u);
  EXPECT_EQ(memo()[21], std::string(42, ' ') + "<a>");
  EXPECT_EQ(memo()[50], std::string(64, ' ') + "<a>");
}

// Short tags nested ever deeper would take some 40 times the file's size as
// listing lines: the listing stops within a bound and the log says so.
TEST_F(ReadXplTest, ADamagedPlaylistIsListedWithinABound) {
  std::string document = "<Playlist>";
  for (int i = 0; i < 300000; ++i) document += "<a>";
  readPlaylist(document);
  std::size_t bytes = 0;
  for (const std::string& line : memo()) bytes += line.size() + sizeof(std::string);
  EXPECT_LE(bytes, 20 * document.size());
  EXPECT_GT(memo().size(), 10000u);
  ASSERT_LT(memo().size(), 300000u);
  EXPECT_EQ(memo().back(), std::string(64, ' ') + "<a>");
  EXPECT_THAT(window.logText(),
              ElementsAre("Open VPLST000.XPL", "Filesize: 900010 bytes",
                          "The listing shows the first " + std::to_string(memo().size()) +
                              " of 300001 tags, and the title is looked for in these: all of them would take more "
                              "than 5 MiB. Is the playlist damaged?",
                          "Done.", ""));

  // A real playlist as large is listed whole, with no such line.
  std::string titles = "<Playlist>\n<TitleSet>\n";
  int tags = 2;
  for (int t = 1; titles.size() < document.size(); ++t, tags += 10) {
    titles += "<Title id=\"" + std::to_string(t) + "\" displayName=\"Title " + std::to_string(t) + "\">\n";
    for (int c = 1; c <= 8; ++c)
      titles += "<Chapter titleTimeBegin=\"00:0" + std::to_string(c) + ":00:00\" displayName=\"Chapter " +
                std::to_string(c) + "\"/>\n";
    titles += "</Title>\n";
  }
  readPlaylist(titles + "</TitleSet>\n</Playlist>\n");
  EXPECT_EQ(memo().size(), static_cast<std::size_t>(tags + 2));
  EXPECT_THAT(window.logText(), ::testing::Not(::testing::Contains(HasSubstr("The listing shows"))));
}

TEST_F(ReadXplTest, AttributeLookupIsASubstringSearch) {
  std::string value = "kept";
  XplAttribute("<A codec=\"DD+\"/>", "channels", value);
  EXPECT_EQ(value, "kept");  // missing: the receiving variable keeps its value
  XplAttribute("<A CODEC = \"DD+\" x=\"1\"/>", "codec", value);
  EXPECT_EQ(value, "DD+");
  // The name is found first inside an earlier name or value.
  XplAttribute("<Audio streamNumber=\"3\" number=\"5\"/>", "number", value);
  EXPECT_EQ(value, "3");
  XplAttribute("<Audio description=\"see index=9\" index=\"2\"/>", "index", value);
  EXPECT_EQ(value, " index=");
  XplAttribute("<A codec=\"DD+/>", "codec", value);
  EXPECT_EQ(value, "");  // no closing quote
  XplAttribute("<A codec='DD+'/>", "codec", value);
  EXPECT_EQ(value, "");  // single quotes are not quotes here
  XplAttribute("<A codec=\"" + std::string(260, 'v') + "\"/>", "codec", value);
  EXPECT_EQ(value, "");  // only 255 characters after the name are looked at
  EXPECT_EQ(XplIntAttribute("<A track=\"12\"/>", "track"), 12);
  EXPECT_EQ(XplIntAttribute("<A track=\"1x\"/>", "track"), 0);
  EXPECT_EQ(XplIntAttribute("<A/>", "track"), 0);
}

// Two titles; the second plays FEATURE_1. Media attributes, repeated and
// out-of-range tracks, stream numbers past 9, the last item and stream.
const char* const kTwoTitles =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Playlist displayName=\"My Disc\">\n"
    "<MediaAttributeList>\n"
    "<VideoAttributeItem index=\"1\" codec=\"VC-1\"/>\n"
    "<AudioAttributeItem index=\"1\" codec=\"DD+\" channels=\"6\"/>\n"
    "<AudioAttributeItem index=\"2\" codec=\"DTS-HD\"/>\n"  // channels carried over from item 1
    "<AudioAttributeItem index=\"3\" codec=\"LPCM\" channels=\"\"/>\n"
    "<AudioAttributeItem index=\"8\" codec=\"MLP\" channels=\"2\"/>\n"
    "<SubpictureAttributeItem index=\"1\" codec=\"8bitRLC\"/>\n"
    "</MediaAttributeList>\n"
    "<TitleSet timeBase=\"50fps\">\n"
    "<Title id=\"a\" displayName=\"Trailer\" titleDuration=\"00:01:00:00\">\n"
    "<PrimaryAudioVideoClip src=\"TRAILER.MAP\"/>\n"
    "<Audio streamNumber=\"5\" mediaAttr=\"1\" description=\"Other\"/>\n"
    "</Title>\n"
    "<Title id=\"b\" displayName=\"Feature\" titleDuration=\"01:30:00:00\">\n"
    "<PrimaryAudioVideoClip src=\"file:///dvddisc/HVDVD_TS/FEATURE_1.MAP\">\n"
    "<Video track=\"1\" mediaAttr=\"1\"/>\n"
    "<Video track=\"1\" mediaAttr=\"1\"/>\n"
    "<Audio track=\"1\" streamNumber=\"1\" mediaAttr=\"1\" description=\"English\"/>\n"
    "<Audio track=\"2\" streamNumber=\"10\" mediaAttr=\"2\" description=\"Director\"/>\n"
    "<Audio track=\"3\" streamNumber=\"11\" mediaAttr=\"3\"/>\n"  // no description: the last one read
    "<Audio track=\"4\" streamNumber=\"1\" mediaAttr=\"2\" description=\"Again\"/>\n"
    "<Audio track=\"5\" streamNumber=\"17\" mediaAttr=\"1\" description=\"Beyond\"/>\n"
    "<Audio track=\"6\" streamNumber=\"4\" mediaAttr=\"9\" description=\"NoTable\"/>\n"
    "<Audio track=\"7\" streamNumber=\"16\" mediaAttr=\"8\" description=\"Last\"/>\n"
    "<Subtitle track=\"1\" streamNumber=\"2\" mediaAttr=\"1\" description=\"Fran\xC3\xA7" "ais\"/>\n"
    "</PrimaryAudioVideoClip>\n"
    "<ChapterList>\n"
    "<Chapter titleTimeBegin=\"00:00:00:00\" displayName=\"Start\"/>\n"
    "<Chapter titleTimeBegin=\"00:10:05:25\" displayName=\"Middle\"/>\n"
    "</ChapterList>\n"
    "</Title>\n"
    "</TitleSet>\n"
    "</Playlist>\n";

TEST_F(ReadXplTest, TheTitleThatPlaysTheEvoLabelsTheBoxes) {
  for (SlotState& slot : main.scan().AudioSlots) slot.id = -1;
  main.scan().AudioSlots[3].id = 0xC3;  // as a Read EVO left them
  readPlaylist(kTwoTitles);

  EXPECT_EQ(memo().front(), "    <Title id=\"b\" displayName=\"Feature\" titleDuration=\"01:30:00:00\">");
  EXPECT_EQ(memo().back(), "    </Title>");
  EXPECT_EQ(memo().size(), 18u);
  EXPECT_THAT(texts(window.playlistTree()),
              ElementsAre("Info", "  Title: My Disc", "  Name: Feature", "  Duration: 01:30:00:00", "Video",
                          "  VC-1.stream.0", "Audio", "  DD+.6ch.stream.00.English", "  DTS-HD.6ch.stream.09.Director",
                          "  LPCM.stream.10.Director", "  MLP.2ch.stream.15.Last", "Subtitle",
                          "  8bitRLC.stream.01.Fran\xC3\xA7" "ais", "Chapter", "  00:00:00:00: Start",
                          "  00:10:05:25: Middle"));
  EXPECT_THAT(window.logText(),
              ElementsAre("Open VPLST000.XPL", "Filesize: " + std::to_string(std::string(kTwoTitles).size()) + " bytes",
                          "VC-1.stream.0 found!", "DD+.6ch.stream.00.English found!",
                          "DTS-HD.6ch.stream.09.Director found!", "LPCM.stream.10.Director found!",
                          "MLP.2ch.stream.15.Last found!",
                          "8bitRLC.stream.01.Fran\xC3\xA7" "ais found!", "Done.", ""));

  EXPECT_TRUE(window.checked(videoBox(0)));
  EXPECT_EQ(window.caption(videoBox(0)), "VC-1.stream.0");
  EXPECT_EQ(window.caption(audioBox(9)), "DTS-HD.6ch.stream.09.Director");
  EXPECT_EQ(window.hint(audioBox(9)), "DTS-HD.6ch.stream.09.Director");
  EXPECT_TRUE(window.checked(audioBox(10)) && window.enabled(audioBox(10)));
  EXPECT_TRUE(window.checked(subBox(1)));
  EXPECT_TRUE(window.checked(audioBox(15)));
  // Boxes the title does not list are reset; nothing beyond the tables.
  EXPECT_FALSE(window.enabled(audioBox(4)));
  EXPECT_FALSE(window.enabled(audioBox(3)));
  EXPECT_EQ(window.caption(audioBox(3)), "No audio stream");
  EXPECT_TRUE(window.enabled(ControlId::bDemux));
  EXPECT_TRUE(window.enabled(ControlId::bRebuild));
  // The scan's slot tables stay as Read EVO left them.
  EXPECT_EQ(main.scan().AudioSlots[3].id, 0xC3);
  EXPECT_EQ(main.scan().AudioSlots[0].id, -1);

  const XplTitle& title = main.playlistTitle();
  EXPECT_EQ(title.timeBase, "50fps");
  ASSERT_EQ(title.chapters.size(), 2u);
  EXPECT_EQ(chapterMilliseconds(title.chapters[1].begin, framesPerSecond(title.timeBase)), 605500);

  // Read again: a second run lists the same tracks, its marks fresh.
  window.clearLog();
  main.bReadXPLClick();
  EXPECT_EQ(window.logText().size(), 10u);
}

// The shape real discs write: no mediaAttr where the first table entry is
// meant, languages in the title's TrackNavigationList, chapters without
// names. What the MKV's tracks are called follows from it.
const char* const kDiscShaped =
    "<Playlist>\n"
    "<VideoAttributeItem index=\"1\" codec=\"VC-1\"/>\n"
    "<AudioAttributeItem index=\"1\" codec=\"DD+\" channels=\"6\"/>\n"
    "<AudioAttributeItem index=\"2\" codec=\"MLP\" channels=\"6\"/>\n"
    "<SubpictureAttributeItem index=\"1\" codec=\"8bitRLC\"/>\n"
    "<TitleSet>\n"
    "<Title id=\"t\" displayName=\"Tom &amp; Jerry \" titleDuration=\"01:00:00:00\">\n"
    "<PrimaryAudioVideoClip src=\"file:///dvddisc/HVDVD_TS/FEATURE_1.MAP\">\n"
    "<Video track=\"1\"/>\n"
    "<Audio track=\"1\" streamNumber=\"1\" description=\"English\"/>\n"
    "<Audio track=\"2\" streamNumber=\"3\" mediaAttr=\"2\" description=\"Director&apos;s Commentary\"/>\n"
    "<Audio track=\"3\" streamNumber=\"4\"/>\n"  // the label carries the commentary's description
    "<Audio track=\"4\" streamNumber=\"5\" mediaAttr=\"0\" description=\"Out of range\"/>\n"
    "<Subtitle track=\"1\" streamNumber=\"1\" description=\"English\"/>\n"
    "<Subtitle track=\"2\" streamNumber=\"2\" description=\"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\"/>\n"
    "</PrimaryAudioVideoClip>\n"
    "<ChapterList>\n"
    "<Chapter titleTimeBegin=\"00:00:00:00\" displayName=\"Opening\"/>\n"
    "<Chapter titleTimeBegin=\"00:05:00:00\"/>\n"
    "<Chapter titleTimeBegin=\"bad\"/>\n"
    "<Chapter titleTimeBegin=\"00:10:00:00\" displayName=\"\"/>\n"
    "</ChapterList>\n"
    "<TrackNavigationList>\n"
    "<VideoTrack track=\"1\" angleNumber=\"1\"/>\n"
    "<AudioTrack track=\"1\" langcode=\"EN:00\" selectable=\"true\"/>\n"
    "<AudioTrack langcode=\"jp:01\" track=\"2\"/>\n"
    "<AudioTrack track=\"3\" langcode=\"xx:00\"/>\n"
    "<AudioTrack track=\"1\" langcode=\"fr:00\"/>\n"  // a track's first langcode holds
    "<SubtitleTrack track=\"1\" langcode=\"en:00\"/>\n"
    "<SubtitleTrack track=\"2\" langcode=\"jp:00\"/>\n"
    "</TrackNavigationList>\n"
    "</Title>\n"
    "</TitleSet>\n"
    "</Playlist>\n";

TEST_F(ReadXplTest, ADiscShapedPlaylistNamesTheTracksAndChapters) {
  readPlaylist(kDiscShaped);
  EXPECT_THAT(texts(window.playlistTree()),
              ElementsAre("Info", "  Name: Tom &amp; Jerry ", "  Duration: 01:00:00:00", "Video", "  VC-1.stream.0",
                          "Audio", "  DD+.6ch.stream.00.English", "  MLP.6ch.stream.02.Director&apos;s Commentary",
                          "  DD+.6ch.stream.03.Director&apos;s Commentary", "Subtitle", "  8bitRLC.stream.00.English",
                          "  8bitRLC.stream.01.\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "Chapter",
                          "  00:00:00:00: Opening", "  00:05:00:00: Opening", "  bad: Opening", "  00:10:00:00: "));
  EXPECT_TRUE(window.checked(videoBox(0)));
  EXPECT_TRUE(window.checked(audioBox(3)));
  // A mediaAttr that is there but outside the table still skips the track.
  EXPECT_FALSE(window.enabled(audioBox(4)));

  // The chapters file names a chapter without a name of its own by its number.
  const XplTitle& title = main.playlistTitle();
  EXPECT_EQ(simpleChapters(title).text,
            "CHAPTER01=00:00:00.000\nCHAPTER01NAME=Opening\nCHAPTER02=00:05:00.000\nCHAPTER02NAME=Chapter 02\n"
            "CHAPTER03=00:10:00.000\nCHAPTER03NAME=Chapter 03\n");

  // As Read EVO would have found the streams: the track without a
  // description is named by its kind and channels.
  ScanState& scan = main.scan();
  scan.VideoSlots[0].id = 0x55;
  scan.AudioSlots[3].id = 0xC3;
  scan.AudioSlots[3].record.channels = {5, true};
  const auto label = [&](StreamClass c, int slot, const XplTitle& playlist) {
    const MkvTrackLabel l = mkvTrackLabel({c, slot}, scan, playlist);
    return l.name + "|" + l.language;
  };
  EXPECT_EQ(label(StreamClass::Video, 0, title), "VC-1|und");
  EXPECT_EQ(label(StreamClass::Audio, 0, title), "English|eng");
  EXPECT_EQ(label(StreamClass::Audio, 2, title), "Director's Commentary|jpn");
  EXPECT_EQ(label(StreamClass::Audio, 3, title), "DD+ 5.1|und");
  EXPECT_EQ(label(StreamClass::Subpicture, 1, title), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E|jpn");
  EXPECT_EQ(label(StreamClass::Subpicture, 2, title), "Subtitle 3|und");
  EXPECT_EQ(mkvTitle(title), "Tom & Jerry");
  // Without a playlist: kinds and channels, no language, no title.
  EXPECT_EQ(label(StreamClass::Audio, 3, XplTitle()), "DD+ 5.1|und");
  EXPECT_EQ(label(StreamClass::Audio, 0, XplTitle()), "Audio|und");
  EXPECT_EQ(mkvTitle(XplTitle()), "");
}

TEST(Languages, DiscLangcodesAsMatroskaTakesThem) {
  const std::pair<const char*, const char*> rows[] = {
      {"en:00", "eng"}, {"EN", "eng"},  {"fr:01", "fre"}, {"de:00", "ger"}, {"zh:00", "chi"}, {"aa", "aar"},
      {"zu", "zul"},    {"jp:00", "jpn"}, {"dk:00", "dan"}, {"se:00", "swe"}, {"gr", "gre"},   {"cz", "cze"},
      {"cn", "chi"},    {"kr", "kor"},  {"iw", "heb"},   {"xx:00", "und"}, {"eng:00", "und"}, {"e1", "und"},
      {"", "und"},      {":00", "und"}};
  for (const auto& [langcode, language] : rows) EXPECT_EQ(matroskaLanguage(langcode), language) << langcode;
}

// What a user may type for --langs: both ISO 639-2 forms meet the playlist's.
TEST(Languages, UserCodesMeetThePlaylistsCodes) {
  const std::pair<const char*, const char*> rows[] = {
      {"en", "eng"},  {"EN", "eng"},  {"eng", "eng"}, {"ja", "jpn"}, {"jp", "jpn"}, {"deu", "ger"}, {"ger", "ger"},
      {"fra", "fre"}, {"FRE", "fre"}, {"zho", "chi"}, {"fil", "fil"}, {"und", "und"}, {"e", ""},      {"engl", ""},
      {"e1", ""},     {"en:00", ""},  {"", ""},       {"xx", ""}};
  for (const auto& [code, language] : rows) EXPECT_EQ(languageCode(code), language) << code;
}

TEST_F(ReadXplTest, ASplitFeatureIsFoundByItsFirstFile) {
  std::ofstream((dir.path() / "HVDVD_TS" / "FEATURE_1.EVO").string()) << "";
  std::ofstream((dir.path() / "HVDVD_TS" / "FEATURE_2.EVO").string()) << "";
  main.WMDropFiles({(dir.path() / "HVDVD_TS" / "FEATURE_1.EVO").string()});
  main.bCheckClick();  // extends the base name with the second file's
  ASSERT_EQ(main.files().OutputBaseName, "FEATURE_1_FEATURE_2");
  std::ofstream(xplPath(), std::ios::binary) << kTwoTitles;
  main.bReadXPLClick();
  EXPECT_EQ(window.caption(audioBox(0)), "DD+.6ch.stream.00.English");
  EXPECT_EQ(main.files().OutputBaseName, "FEATURE_1_FEATURE_2");
  EXPECT_EQ(main.outputFileName(audioBox(0), "/out"), "/out/FEATURE_1_FEATURE_2.DD+.6ch.stream.00.English.mpa");
}

TEST_F(ReadXplTest, LabelsNeverLeaveTheOutputFolder) {
  readPlaylist(
      "<Playlist>\n<AudioAttributeItem index=\"1\" codec=\"../..\"/>\n"
      "<Title displayName=\"x\">\n<Clip src=\"FEATURE_1.MAP\"/>\n"
      "<Audio streamNumber=\"1\" mediaAttr=\"1\" description=\"Director's cut / English\"/>\n</Title>\n</Playlist>\n");
  EXPECT_EQ(window.caption(audioBox(0)), "../...stream.00.Director's cut / English");
  const std::string name = main.outputFileName(audioBox(0), "/out");
  EXPECT_EQ(name.find('/', 5), std::string::npos) << name;
  EXPECT_EQ(name.find(".."), std::string::npos) << name;
}

TEST_F(ReadXplTest, FailuresLeaveTheWindowUsable) {
  // An attribute item whose index is not a number ends the command.
  try {
    readPlaylist("<Playlist>\n<Title displayName=\"T\">\n<AudioAttributeItem index=\"one\" codec=\"DD+\"/>\n");
    FAIL() << "no error for a bad index";
  } catch (const ConversionError& error) {
    EXPECT_STREQ(error.what(), "'one' is not a valid integer value");
  }
  EXPECT_THAT(memo(), ElementsAre("<Playlist>", "  <Title displayName=\"T\">",
                                  "    <AudioAttributeItem index=\"one\" codec=\"DD+\"/>"));
  EXPECT_TRUE(window.memoVisible());
  EXPECT_TRUE(window.enabled(ControlId::bReadXPL));
  EXPECT_FALSE(main.busy());
  EXPECT_FALSE(main.scan().InputStream.has_value());

  // A playlist that is not there: the open error, nothing logged.
  fs::remove(xplPath());
  window.clearLog();
  EXPECT_THROW(main.bReadXPLClick(), FileError);
  EXPECT_TRUE(window.logText().empty());
  EXPECT_FALSE(main.busy());

  // An empty file, one without tags, and a program stream dropped as a
  // playlist: none is listed, the error says what the file is not, and the
  // listing shown before stays.
  readPlaylist("<Playlist>\n<Shown/>\n</Playlist>\n");
  const std::vector<std::string> shown = memo();
  ASSERT_EQ(shown.size(), 3u);
  PsBuilder vob;
  vob.packHeader().ac3(0x80, pattern(1500)).finishPack().packHeader().raw({'<', 0x1B, '[', '2', 'J', '>'});
  const std::string programStream(vob.bytes().begin(), vob.bytes().end());
  // The element must start in the first 64 KiB.
  const std::string late = std::string(64 * 1024, ' ') + "<Playlist>\n</Playlist>\n";
  for (const std::string& content : {std::string(), std::string("no tags at all\n"), programStream, late}) {
    try {
      readPlaylist(content);
      ADD_FAILURE() << "read as a playlist: " << content.substr(0, 40);
    } catch (const NotAPlaylistError& e) {
      EXPECT_STREQ(e.what(), "VPLST000.XPL is not an HD DVD playlist.");
    }
    EXPECT_EQ(memo(), shown);
    EXPECT_THAT(window.logText(), ::testing::Not(::testing::Contains("Done.")));
    EXPECT_FALSE(main.busy());
  }
  // Found where it starts within the bound, whatever the case.
  readPlaylist(std::string(64 * 1024 - 9, ' ') + "<playlist>");
  EXPECT_THAT(memo(), ElementsAre("<playlist>"));
}

TEST(Chapters, TimesInFramesOfTheTimeBase) {
  EXPECT_EQ(framesPerSecond("60fps"), 60);
  EXPECT_EQ(framesPerSecond("50fps"), 50);
  EXPECT_EQ(framesPerSecond(""), 60);
  EXPECT_EQ(framesPerSecond("0fps"), 60);  // a divisor
  EXPECT_EQ(chapterMilliseconds("01:02:03:30", 60), (3600 + 120 + 3) * 1000 + 500);
  EXPECT_EQ(chapterMilliseconds("00:00:00:01", 60), 17);  // 16.67 ms, to the nearest
  EXPECT_EQ(chapterMilliseconds("00:00:00:01", 50), 20);
  EXPECT_EQ(chapterMilliseconds("00:00:00", 60), std::nullopt);
  EXPECT_EQ(chapterMilliseconds("00:00:0a:00", 60), std::nullopt);
  // Out of range is not a time: it would put chapters out of order.
  EXPECT_EQ(chapterMilliseconds("00:00:00:99", 60), std::nullopt);
  EXPECT_EQ(chapterMilliseconds("00:00:00:60", 60), std::nullopt);
  EXPECT_EQ(chapterMilliseconds("00:00:00:59", 60), 983);
  EXPECT_EQ(chapterMilliseconds("00:60:00:00", 60), std::nullopt);
  EXPECT_EQ(chapterMilliseconds("99:99:99:99", 60), std::nullopt);
  EXPECT_EQ(chapterMilliseconds("100:59:59:00", 60), (100 * 3600 + 59 * 60 + 59) * 1000LL);
  EXPECT_EQ(xmlText("Tom &amp; Jerry&#10;&#x41;&#65;&bogus; &#0; &"), "Tom & Jerry\nAA&bogus; &#0; &");

  XplTitle title;
  title.timeBase = "50fps";
  title.chapters = {
      {"00:00:00:00", "One"}, {"bad", "Skipped"}, {"00:01:00:25", "Caf\xE9"}, {"12:34:56:25", "Late"},
      {"00:02:00:50", "Frame past the time base"}};
  const ChapterFile file = simpleChapters(title);
  EXPECT_EQ(file.written, 3);
  EXPECT_EQ(file.skipped, 2);
  EXPECT_THAT(chapterNotes(file), ElementsAre("2 chapters left out: their start is not HH:MM:SS:FF."));
  // A byte that is not UTF-8 becomes U+FFFD, and the mark says UTF-8.
  EXPECT_EQ(file.text,
            "\xEF\xBB\xBF" "CHAPTER01=00:00:00.000\nCHAPTER01NAME=One\nCHAPTER02=00:01:00.500\n"
            "CHAPTER02NAME=Caf\xEF\xBF\xBD\nCHAPTER03=12:34:56.500\nCHAPTER03NAME=Late\n");
}

// A chapter past the title's end is one a player cannot reach: left out and
// said, at the end itself kept; a title whose duration is not a time keeps
// every chapter.
TEST(Chapters, ThoseAfterTheTitlesEndAreLeftOut) {
  XplTitle title;
  title.timeBase = "60fps";
  title.duration = "00:00:02:00";
  title.chapters = {{"00:00:00:00", "Start"}, {"99:59:59:59", "Far"}, {"00:00:02:00", "End"},
                    {"00:00:02:01", "Just after"}, {"bad", "Bad"}};
  ChapterFile file = simpleChapters(title);
  EXPECT_EQ(file.text, "CHAPTER01=00:00:00.000\nCHAPTER01NAME=Start\nCHAPTER02=00:00:02.000\nCHAPTER02NAME=End\n");
  EXPECT_EQ(file.pastEnd, 2);
  EXPECT_THAT(chapterNotes(file), ElementsAre("1 chapters left out: their start is not HH:MM:SS:FF.",
                                              "2 chapters left out: they start after the title's end."));
  title.duration = "";
  file = simpleChapters(title);
  EXPECT_EQ(file.written, 4);
  EXPECT_EQ(file.pastEnd, 0);
}

// A time base that is not a number of frames a second is read as 60, and the
// log says so, since every chapter time then depends on the guess.
TEST_F(ReadXplTest, AnUnknownTimeBaseIsLogged) {
  for (const char* timeBase : {"xx", "0fps", ""}) {
    readPlaylist(std::string("<Playlist>\n<TitleSet timeBase=\"") + timeBase +
                 "\">\n<Title displayName=\"T\" titleDuration=\"00:00:10:00\">\n"
                 "<PrimaryAudioVideoClip src=\"file:///dvddisc/HVDVD_TS/FEATURE_1.MAP\"/>\n</Title>\n</TitleSet>\n"
                 "</Playlist>\n");
    EXPECT_THAT(window.logText(), ::testing::Contains(std::string("The title's time base \"") + timeBase +
                                                      "\" is not known: its times are read as 60fps."));
  }
  readPlaylist(
      "<Playlist>\n<TitleSet timeBase=\"50fps\">\n<Title displayName=\"T\">\n"
      "<PrimaryAudioVideoClip src=\"file:///dvddisc/HVDVD_TS/FEATURE_1.MAP\"/>\n</Title>\n</TitleSet>\n</Playlist>\n");
  EXPECT_THAT(window.logText(), ::testing::Not(::testing::Contains(HasSubstr("time base"))));
}

}  // namespace
}  // namespace tarnwick::test
