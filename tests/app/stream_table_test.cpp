// The stream table: what the reads put in it, what the user's choice and
// --streams may change, and the selection the commands get from it.

#include "app/stream_table.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(StreamTable, EntryNamesAreExactlyTheCommandLineSpellings) {
  for (int k = 0; k < kOutputCount; ++k) {
    const StreamSlot s = outputSlot(k);
    EXPECT_EQ(parseEntryName(entryName(s)), s) << entryName(s);
  }
  EXPECT_EQ(entryName({StreamClass::Video, 1}), "video1");
  EXPECT_EQ(entryName({StreamClass::Audio, 3}), "audio03");
  EXPECT_EQ(entryName({StreamClass::Subpicture, 15}), "sub15");
  for (const char* name : {"audio3", "audio003", "video00", "video2", "audio16", "sub16", "Audio01", "audio0a",
                           "audio-1", "sub", "", "sub01 ", "videoo"})
    EXPECT_FALSE(parseEntryName(name)) << '"' << name << '"';
}

TEST(StreamTable, ReadsFillItAndOnlyFoundStreamsCanBeChosen) {
  ScanState scan;
  scan.VideoSlots[0].id = 0x55;
  scan.AudioSlots[2].id = 0xC2;
  scan.SubpictureSlots[1].id = 0x21;
  StreamTable table;
  table.fillFromScan(scan);
  const StreamSlot video{StreamClass::Video, 0}, audio{StreamClass::Audio, 2}, sub{StreamClass::Subpicture, 1};
  const StreamSlot empty{StreamClass::Audio, 5};
  EXPECT_EQ(table[audio].id, 0xC2);
  EXPECT_EQ(table[audio].caption, "DD+.stream.02");
  EXPECT_TRUE(table[video].chosen && table[audio].chosen && table[sub].chosen);
  EXPECT_EQ(table[empty].caption, "No audio stream");

  EXPECT_FALSE(table.choose(empty, true));
  EXPECT_FALSE(table[empty].chosen);
  // A name that holds no stream changes nothing.
  EXPECT_FALSE(table.chooseOnly({audio, empty}));
  EXPECT_TRUE(table[video].chosen && table[sub].chosen);
  EXPECT_TRUE(table.chooseOnly({audio}));
  EXPECT_FALSE(table[video].chosen || table[sub].chosen);

  const OutputNaming naming{"/out/", "FEATURE_1_FEATURE_2", "mpv", "ac3", "sup"};
  const StreamSelection named = selectionOf(table, &naming);
  EXPECT_EQ(named.count(StreamClass::Audio), 1);
  EXPECT_EQ(named.count(StreamClass::Video) + named.count(StreamClass::Subpicture), 0);
  EXPECT_EQ(named.outputNames[static_cast<std::size_t>(outputIndex(audio))],
            "/out/FEATURE_1_FEATURE_2.DD+.stream.02.ac3");
  const StreamSelection bare = selectionOf(table, nullptr);
  EXPECT_TRUE(bare.isChosen(audio));
  EXPECT_TRUE(bare.outputNames[static_cast<std::size_t>(outputIndex(audio))].empty());

  table.choose(audio, false);
  EXPECT_FALSE(table.anyChosen());
}

// The playlist's label names the output and never leads it out of its folder.
TEST(StreamTable, APlaylistLabelNamesTheOutputInsideItsFolder) {
  XplTitle title;
  title.tracks.push_back({StreamClass::Audio, 1, "../English", 1, "", "eng"});
  title.tracks.push_back({StreamClass::Video, 2, "VC-1.stream.1", 0, "", "und"});  // no box
  StreamTable table;
  table.fillFromPlaylist(title);
  const StreamEntry& entry = table[StreamSlot{StreamClass::Audio, 0}];
  EXPECT_TRUE(entry.found && entry.chosen);
  EXPECT_EQ(entry.language, "eng");
  EXPECT_FALSE((table[{StreamClass::Video, 1}].found));
  EXPECT_EQ(outputName(entry, {"/out/", "FEATURE_1", "mpv", "ac3", "sup"}), "/out/FEATURE_1.__English.ac3");
}

}  // namespace
}  // namespace tarnwick
