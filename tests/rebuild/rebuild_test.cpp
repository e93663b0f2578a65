// Rebuild on the window model: which packs stay, the ids they carry, the
// system header's bounds, the split feature, Cancel and the failures. Inputs
// are one packet per pack, written with the program-stream builder; each
// expected output is the same list of packs with the new ids.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>

#include "app/model_window.h"
#include "app/tf_main.h"
#include "engine/file_io.h"
#include "rebuild/rebuild.h"
#include "support/builders.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// One 2048-byte pack: its first packet, and the packets after it. `seed`
// makes the payload, so a renumbered pack is still told from the others.
struct Pack {
  enum Type { Nav, Private2, Padding, Video, Vc1, Substream, MpegAudio } type;
  std::uint8_t id = 0;
  std::uint8_t seed = 0;
  int audioBound = 0;
  int videoBound = 0;
  // The pack's layout before its first packet: pack_stuffing bytes, and a
  // padding packet of this many bytes (none when 0).
  std::uint8_t stuffing = 0;
  std::size_t leadingPadding = 0;
  // A system header before the first packet, with these bounds (a Nav pack
  // has one of its own).
  std::optional<std::pair<int, int>> systemHeader;
  // Further packets in the same pack; the payloads share the room.
  std::vector<Pack> more;
  // In an expected output: the packet as padding of its length.
  bool gone = false;
};

Pack nav(int audioBound, int videoBound) { return {Pack::Nav, 0xBB, 0, audioBound, videoBound}; }
Pack private2() { return {Pack::Private2, 0xBF, 0xBF}; }
Pack padding() { return {Pack::Padding, 0xBE, 0}; }
Pack video(std::uint8_t id, int seed = -1) { return {Pack::Video, id, static_cast<std::uint8_t>(seed < 0 ? id : seed)}; }
Pack vc1(std::uint8_t ext, int seed = -1) { return {Pack::Vc1, ext, static_cast<std::uint8_t>(seed < 0 ? ext : seed)}; }
// A private-stream-1 substream, with the header bytes of its kind.
Pack ps1(std::uint8_t id, int seed = -1) { return {Pack::Substream, id, static_cast<std::uint8_t>(seed < 0 ? id : seed)}; }
Pack mpa(std::uint8_t id, int seed = -1) { return {Pack::MpegAudio, id, static_cast<std::uint8_t>(seed < 0 ? id : seed)}; }
// The same pack with pack_stuffing_length n, or behind a padding packet.
Pack stuffed(Pack p, std::uint8_t n) {
  p.stuffing = n;
  return p;
}
Pack afterPadding(Pack p, std::size_t bytes = 20) {
  p.leadingPadding = bytes;
  return p;
}
// A system header and then the packet, as DVD muxers write them.
Pack afterSystemHeader(Pack p, int audioBound, int videoBound) {
  p.systemHeader = std::pair{audioBound, videoBound};
  return p;
}
// Packets together in one pack.
Pack together(Pack p, std::vector<Pack> more) {
  p.more = std::move(more);
  return p;
}
Pack gone(Pack p) {
  p.gone = true;
  return p;
}

void addPacket(PsBuilder& b, const Pack& p, std::size_t payloadSize) {
  if (p.gone) {
    Pack kept = p;
    kept.gone = false;
    PsBuilder alone;
    addPacket(alone, kept, payloadSize);
    b.padding(alone.size());
    return;
  }
  const Bytes payload = pattern(payloadSize, p.seed);
  switch (p.type) {
    case Pack::Nav: b.systemHeader(p.audioBound, p.videoBound, {0xBD, 0xFD}).privateStream2(pattern(980, 1)); break;
    case Pack::Private2: b.privateStream2(pattern(1000, 2)); break;
    case Pack::Padding: b.padding(2048 - 14); break;
    case Pack::Video: b.pes(p.id, payload); break;
    case Pack::Vc1: b.vc1(payload, {}, {}, p.id); break;
    case Pack::MpegAudio: b.pes(p.id, payload); break;
    case Pack::Substream:
      if (p.id >= 0xA0 && p.id <= 0xA7)
        b.lpcm(p.id, payload);
      else if (p.id >= 0xB0 && p.id <= 0xB7)
        b.trueHd(p.id, payload);
      else if ((p.id & 0xC0) == 0)
        b.subpicture(p.id, payload);
      else
        b.ac3(p.id, payload);
      break;
  }
}

Bytes packs(const std::vector<Pack>& list) {
  PsBuilder b;
  for (const Pack& p : list) {
    b.packHeader(0, 25200, p.stuffing);
    if (p.leadingPadding > 0) b.padding(p.leadingPadding);
    if (p.systemHeader) b.systemHeader(p.systemHeader->first, p.systemHeader->second, {0xBD, 0xE0});
    const std::size_t payloadSize = 1500 / (1 + p.more.size());
    addPacket(b, p, payloadSize);
    for (const Pack& q : p.more) addPacket(b, q, payloadSize);
    b.finishPack();
  }
  return b.bytes();
}

Bytes join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One line per pack, for readable failures, its packets joined by " + ":
// "BB a3 v1 + BF", "BD C1", "FD 55 + pad", "E0"; stuffing shows as "s2 ",
// the padding packet that ends a pack not at all.
std::vector<std::string> describe(const Bytes& bytes) {
  std::vector<std::string> out;
  for (std::size_t start = 0; start + 2048 <= bytes.size(); start += 2048) {
    const std::uint8_t* pack = bytes.data() + start;
    std::string line;
    std::size_t at = 14 + (pack[13] & 0x07);
    if (at > 14) line = "s" + std::to_string(at - 14) + " ";
    for (bool first = true; at + 9 <= 2048 && pack[at] == 0 && pack[at + 1] == 0 && pack[at + 2] == 1; first = false) {
      const std::uint8_t* p = pack + at;
      const std::size_t end = at + 6 + (p[4] << 8 | p[5]);
      char part[32];
      if (p[3] == 0xBE && end >= 2048) break;
      if (p[3] == 0xBE)
        std::snprintf(part, sizeof part, "pad");
      else if (p[3] == 0xBB)
        std::snprintf(part, sizeof part, "BB a%d v%d", p[9] >> 2, p[10] & 0x1F);
      else if (p[3] == 0xBD)
        std::snprintf(part, sizeof part, "BD %02X", p[9 + p[8]]);
      else if (p[3] == 0xFD)
        std::snprintf(part, sizeof part, "FD %02X", p[11]);
      else
        std::snprintf(part, sizeof part, "%02X", p[3]);
      line += (first ? "" : " + ") + std::string(part);
      at = end;
    }
    out.push_back(line);
  }
  return out;
}

class RebuildTest : public ::testing::Test {
 protected:
  RebuildTest() : main(window) {
    main.FormActivate();
    fs::create_directories(dir.path() / "HVDVD_TS");
    fs::create_directories(dir.path() / "out");
  }
  std::string input(const std::string& name) const { return (dir.path() / "HVDVD_TS" / name).string(); }
  std::string out(const std::string& name) const { return (dir.path() / "out" / name).string(); }
  // Read EVO of the file, as the user chose it.
  void read(const std::string& path) {
    main.WMDropFiles({path});
    main.bCheckClick();
  }
  void rebuildInto(const std::string& folder) {
    window.setText(ControlId::eWorkdir, folder);
    window.clearLog();
    main.bRebuildClick();
  }
  // The controls a finished or failed run leaves to the user.
  void expectIdle() {
    EXPECT_FALSE(main.busy());
    EXPECT_FALSE(window.enabled(ControlId::bCancel));
    EXPECT_TRUE(window.enabled(ControlId::bCheck));
    EXPECT_TRUE(window.enabled(ControlId::bbEVO));
    EXPECT_FALSE(main.scan().InputStream.has_value());
    EXPECT_FALSE(main.scan().VideoSlots[0].output.has_value());
  }
  void expectOutput(const std::string& path, const Bytes& expected) {
    const Bytes got = readFile(path);
    EXPECT_EQ(describe(got), describe(expected));
    EXPECT_TRUE(got == expected) << got.size() << " bytes, expected " << expected.size();
  }

  TempDir dir;
  ModelWindow window;
  TfMain main;
};

TEST_F(RebuildTest, UntickedSecondOfThreeAudioStreams) {
  // C0, C1, C2 ticked by the read; C1 unticked: its packs go, C2 becomes C1
  // and the system header counts two audio streams.
  writeFile(input("MOVIE.EVO"),
            packs({nav(3, 1), video(0xE0), ps1(0xC0), ps1(0xC1), ps1(0xC2), ps1(0xC2), ps1(0xC1), ps1(0xC0)}));
  read(input("MOVIE.EVO"));
  main.toggleBox(audioBox(1), false);
  rebuildInto((dir.path() / "out").string());

  const std::string output = out("MOVIE.rebuilt.EVO");
  expectOutput(output, packs({nav(2, 1), video(0xE0), ps1(0xC0), ps1(0xC1, 0xC2), ps1(0xC1, 0xC2), ps1(0xC0)}));
  EXPECT_THAT(window.logText(), ElementsAre("Opening file MOVIE.EVO", "File size: 0 Mbytes.", "Creating " + output,
                                            "Dolby Digital Plus stream C2 is written as C1.", "Done.", ""));
  EXPECT_EQ(window.statusPanel(0), " Ready");
  EXPECT_EQ(window.statusPanel(1), " ");
  EXPECT_TRUE(window.enabled(ControlId::bRebuild));
  EXPECT_TRUE(window.enabled(ControlId::bDemux));
  EXPECT_TRUE(window.enabled(audioBox(0)));
  EXPECT_FALSE(window.checked(audioBox(1)));
  expectIdle();

  // The rebuilt file reads as two Dolby Digital Plus streams in slots 0 and 1.
  window.setChecked(ControlId::cbDetails, false);
  window.setChecked(ControlId::cbCountFr, false);
  window.clearLog();
  read(output);
  EXPECT_THAT(window.logText(), ElementsAre("Opening file MOVIE.rebuilt.EVO", "File size: 0 Mbytes.",
                                            "MPEG-2 video stream 0 found!", "Dolby Digital Plus audio stream 0 found!",
                                            "Dolby Digital Plus audio stream 1 found!", "Done.", ""));
}

TEST_F(RebuildTest, StreamsTheReadDidNotListAndNavigationPacksAreKept) {
  writeFile(input("MOVIE.EVO"), packs({nav(3, 1), video(0xE0), ps1(0xC2)}));
  read(input("MOVIE.EVO"));
  // The file grows after the read: DTS 0x8B and MPEG audio 0xC0 are in no
  // slot, so they count as ticked and take the next numbers. Private stream
  // 2 and padding packs pass as they are.
  writeFile(input("MOVIE.EVO"), packs({nav(3, 1), private2(), padding(), video(0xE0), ps1(0xC2), ps1(0x8B),
                                       mpa(0xC0), ps1(0xC2), ps1(0x8B), nav(3, 1)}));
  rebuildInto((dir.path() / "out").string());
  expectOutput(out("MOVIE.rebuilt.EVO"),
               packs({nav(1, 1), private2(), padding(), video(0xE0), ps1(0xC0, 0xC2), ps1(0x89, 0x8B),
                      mpa(0xC2, 0xC0), ps1(0xC0, 0xC2), ps1(0x89, 0x8B), nav(1, 1)}));
}

TEST_F(RebuildTest, SplitFeatureGoesIntoOneFileWithTheNumbersCarriedOn) {
  // The read leaves the slots of FEATURE_2: C1, C3, C5. With C1 unticked, C3
  // is the first kept audio stream (C0) in both files; C5, first seen in the
  // second file, takes the next number.
  const Bytes first = packs({nav(2, 1), video(0xE0), ps1(0xC1), ps1(0xC3), ps1(0xC1)});
  const Bytes second = packs({nav(2, 1), video(0xE0), ps1(0xC3), ps1(0xC5), ps1(0xC1)});
  writeFile(input("FEATURE_1.EVO"), first);
  writeFile(input("FEATURE_2.EVO"), second);
  read(input("FEATURE_1.EVO"));
  main.toggleBox(audioBox(1), false);
  rebuildInto((dir.path() / "out").string());

  const std::string output = out("FEATURE_1_FEATURE_2.rebuilt.EVO");
  const Bytes expected = join(packs({nav(2, 1), video(0xE0), ps1(0xC0, 0xC3)}),
                              packs({nav(2, 1), video(0xE0), ps1(0xC0, 0xC3), ps1(0xC1, 0xC5)}));
  expectOutput(output, expected);
  EXPECT_THAT(window.logText(), ElementsAre("Opening file FEATURE_1.EVO", "File size: 0 Mbytes.", "Creating " + output,
                                            "Dolby Digital Plus stream C3 is written as C0.", "Continue on FEATURE_2.EVO",
                                            "Dolby Digital Plus stream C5 is written as C1.", "Done.", ""));

  // No output folder: beside the input, under the same name.
  rebuildInto("");
  expectOutput(input("FEATURE_1_FEATURE_2.rebuilt.EVO"), expected);
  EXPECT_EQ(window.logText().at(2), "Creating " + input("FEATURE_1_FEATURE_2.rebuilt.EVO"));
}

TEST_F(RebuildTest, OutputNameFollowsTheSafeNameRule) {
  writeFile(input("A:B..C.EVO"), packs({nav(1, 0), ps1(0x80)}));
  read(input("A:B..C.EVO"));
  rebuildInto((dir.path() / "out").string());
  expectOutput(out("A_B_C.rebuilt.EVO"), packs({nav(1, 0), ps1(0x80)}));
}

TEST_F(RebuildTest, KindsWithoutARenumberingRuleFollowTheirBoxes) {
  // Slots after the read: audio 0 LPCM A0, 4 DD 84, 3 TrueHD B3, 9 DD+ C9;
  // subpicture 1 extended 61, 0 subpicture 20. DD 80 finds slot 0 taken:
  // the read leaves it out and so does the rebuild, which frees 80 for DD
  // 84, the first kept audio stream. 32 lands in slot 18, which no box
  // holds: it passes as it is. LPCM A0 is unticked.
  writeFile(input("MOVIE.EVO"), packs({nav(5, 0), ps1(0xA0), ps1(0x80), ps1(0x84), ps1(0xB3), ps1(0xC9), ps1(0x61),
                                       ps1(0x20), ps1(0x32), ps1(0x84), ps1(0x80), ps1(0xA0)}));
  read(input("MOVIE.EVO"));
  ASSERT_EQ(main.scan().AudioSlots[0].id, 0xA0);
  ASSERT_EQ(main.scan().SubpictureSlots[18].id, 0x32);
  main.toggleBox(audioBox(0), false);
  rebuildInto((dir.path() / "out").string());
  expectOutput(out("MOVIE.rebuilt.EVO"),
               packs({nav(3, 0), ps1(0x80, 0x84), ps1(0xB1, 0xB3), ps1(0xC2, 0xC9), ps1(0x60, 0x61),
                      ps1(0x21, 0x20), ps1(0x32), ps1(0x80, 0x84)}));
}

TEST_F(RebuildTest, RenumberingNeverLandsOnAnIdThatAnotherStreamCarries) {
  // DTS 8F (slot 7) and 88 (slot 0) and LPCM A2 (slot 2), all ticked. After
  // the read the file gains LPCM A1, which the read did not list and which
  // keeps its id. 8F takes the first number, 88, so 88 moves on; A2, the
  // second, would be A1, which the unlisted stream carries: it stays A2. 88,
  // the third, would be 8A, in the slot that A2 fills: it takes 8B.
  writeFile(input("MOVIE.EVO"), packs({nav(3, 0), ps1(0x8F), ps1(0xA2), ps1(0x88)}));
  read(input("MOVIE.EVO"));
  writeFile(input("MOVIE.EVO"), packs({nav(3, 0), ps1(0x8F), ps1(0xA1), ps1(0xA2), ps1(0x88), ps1(0x8F), ps1(0xA1),
                                       ps1(0xA2), ps1(0x88)}));
  rebuildInto((dir.path() / "out").string());

  const std::string output = out("MOVIE.rebuilt.EVO");
  expectOutput(output, packs({nav(3, 0), ps1(0x88, 0x8F), ps1(0xA1), ps1(0xA2), ps1(0x8B, 0x88), ps1(0x88, 0x8F),
                              ps1(0xA1), ps1(0xA2), ps1(0x8B, 0x88)}));
  EXPECT_THAT(window.logText(), ElementsAre("Opening file MOVIE.EVO", "File size: 0 Mbytes.", "Creating " + output,
                                            "DTS stream 8F is written as 88.", "DTS stream 88 is written as 8B.",
                                            "Done.", ""));
}

TEST_F(RebuildTest, FirstPacketFoundAfterPackStuffingAndPadding) {
  // Packs with pack_stuffing_length 2, with a padding packet before their
  // first packet, and with both. Dolby Digital Plus C0 (slot 0) is unticked
  // and goes in every layout; DTS 8A and LPCM A3 take the first two numbers.
  writeFile(input("MOVIE.EVO"),
            packs({nav(3, 1), video(0xE0), stuffed(ps1(0xC0), 2), afterPadding(ps1(0x8A)), stuffed(ps1(0xA3), 2),
                   afterPadding(ps1(0xC0)), stuffed(afterPadding(ps1(0x8A)), 2), stuffed(afterPadding(ps1(0xC0)), 2),
                   afterPadding(ps1(0xA3), 100), afterPadding(video(0xE0))}));
  read(input("MOVIE.EVO"));
  ASSERT_EQ(main.scan().AudioSlots[0].id, 0xC0);
  ASSERT_EQ(main.scan().AudioSlots[2].id, 0x8A);
  ASSERT_EQ(main.scan().AudioSlots[3].id, 0xA3);
  main.toggleBox(audioBox(0), false);
  rebuildInto((dir.path() / "out").string());

  const std::string output = out("MOVIE.rebuilt.EVO");
  expectOutput(output, packs({nav(2, 1), video(0xE0), afterPadding(ps1(0x88, 0x8A)), stuffed(ps1(0xA1, 0xA3), 2),
                              stuffed(afterPadding(ps1(0x88, 0x8A)), 2), afterPadding(ps1(0xA1, 0xA3), 100),
                              afterPadding(video(0xE0))}));
  EXPECT_THAT(window.logText(), ElementsAre("Opening file MOVIE.EVO", "File size: 0 Mbytes.", "Creating " + output,
                                            "DTS stream 8A is written as 88.", "LPCM stream A3 is written as A1.",
                                            "Done.", ""));
}

TEST_F(RebuildTest, Vc1StreamThatNoBoxHoldsIsDropped) {
  // VC-1 55 (video 0), 56 (video 1) and 57, which no box holds: the read
  // leaves 57 out, and so does every rebuild, with video ticked or not.
  writeFile(input("MOVIE.EVO"),
            packs({nav(1, 2), vc1(0x55), vc1(0x57), ps1(0xC0), vc1(0x56), vc1(0x57), vc1(0x55)}));
  read(input("MOVIE.EVO"));
  ASSERT_EQ(main.scan().VideoSlots[0].id, 0x55);
  ASSERT_EQ(main.scan().VideoSlots[1].id, 0x56);
  rebuildInto((dir.path() / "out").string());
  const std::string output = out("MOVIE.rebuilt.EVO");
  expectOutput(output, packs({nav(1, 2), vc1(0x55), ps1(0xC0), vc1(0x56), vc1(0x55)}));
  EXPECT_THAT(window.logText(),
              ElementsAre("Opening file MOVIE.EVO", "File size: 0 Mbytes.", "Creating " + output, "Done.", ""));

  // Video 0 unticked: 56 becomes 55, and 57 still goes.
  main.toggleBox(videoBox(0), false);
  rebuildInto((dir.path() / "out").string());
  expectOutput(output, packs({nav(1, 1), ps1(0xC0), vc1(0x55, 0x56)}));
  EXPECT_THAT(window.logText(), ElementsAre("Opening file MOVIE.EVO", "File size: 0 Mbytes.", "Creating " + output,
                                            "VC-1 video stream 56 is written as 55.", "Done.", ""));
}

TEST_F(RebuildTest, MpegAudioStreamAndSubstreamOfTheSameNumberAreTwoStreams) {
  // Substream C0 (Dolby Digital Plus, audio box 0) is unticked; MPEG audio
  // stream C0 has no box and stays, numbered after the kept substream C1.
  writeFile(input("MOVIE.EVO"), packs({nav(2, 0), ps1(0xC1), mpa(0xC0), ps1(0xC0), mpa(0xC0), ps1(0xC1)}));
  read(input("MOVIE.EVO"));
  main.toggleBox(audioBox(0), false);
  rebuildInto((dir.path() / "out").string());
  expectOutput(out("MOVIE.rebuilt.EVO"),
               packs({nav(1, 0), ps1(0xC0, 0xC1), mpa(0xC1, 0xC0), mpa(0xC1, 0xC0), ps1(0xC0, 0xC1)}));
}

TEST_F(RebuildTest, TickedSecondVideoStreamIsKept) {
  const Bytes evo = packs({nav(1, 2), video(0xE0), video(0xE1), ps1(0xC0), video(0xE1), video(0xE0)});
  writeFile(input("MOVIE.EVO"), evo);
  read(input("MOVIE.EVO"));
  ASSERT_TRUE(window.checked(videoBox(1)));
  rebuildInto((dir.path() / "out").string());
  expectOutput(out("MOVIE.rebuilt.EVO"), evo);
}

TEST_F(RebuildTest, PacketAfterASystemHeaderIsDecidedLikeAnyOther) {
  // A pack header, a system header and a Dolby Digital packet in one pack,
  // as a DVD muxer writes them. The pack stays for its system header; its
  // packet of a stream left out becomes padding, a kept one takes its new id.
  writeFile(input("MOVIE.VOB.EVO"), packs({afterSystemHeader(ps1(0x82), 2, 1), video(0xE0), ps1(0x80), ps1(0x82),
                                           afterSystemHeader(ps1(0x80), 2, 1), ps1(0x82)}));
  read(input("MOVIE.VOB.EVO"));
  ASSERT_EQ(main.scan().AudioSlots[2].id, 0x82);
  main.toggleBox(videoBox(0), false);
  main.toggleBox(audioBox(0), false);
  rebuildInto((dir.path() / "out").string());
  const std::string output = out("MOVIE.VOB.rebuilt.EVO");
  expectOutput(output, packs({afterSystemHeader(ps1(0x80, 0x82), 1, 0), ps1(0x80, 0x82),
                              afterSystemHeader(gone(ps1(0x80)), 1, 0), ps1(0x80, 0x82)}));
  EXPECT_THAT(window.logText(), ElementsAre("Opening file MOVIE.VOB.EVO", "File size: 0 Mbytes.", "Creating " + output,
                                            "Dolby Digital stream 82 is written as 80.", "Done.", ""));

  // The video alone: no audio packet is left, so the rebuilt file has no
  // audio stream to read.
  main.toggleBox(videoBox(0), true);
  main.toggleBox(audioBox(2), false);
  rebuildInto((dir.path() / "out").string());
  expectOutput(output, packs({afterSystemHeader(gone(ps1(0x82)), 0, 1), video(0xE0),
                              afterSystemHeader(gone(ps1(0x80)), 0, 1)}));
  window.setChecked(ControlId::cbDetails, false);
  window.setChecked(ControlId::cbCountFr, false);
  window.clearLog();
  read(output);
  EXPECT_THAT(window.logText(), ElementsAre("Opening file MOVIE.VOB.rebuilt.EVO", "File size: 0 Mbytes.",
                                            "MPEG-2 video stream 0 found!", "Done.", ""));
}

TEST_F(RebuildTest, EveryPacketOfAPackTakesItsStreamsNewId) {
  // Packs of two and three packets. VC-1 55 and Dolby Digital Plus C0 are
  // unticked: 56 becomes 55 and C1 becomes C0 in every packet, and a packet
  // of 55 or C0 in a pack that stays becomes padding of its length.
  writeFile(input("MOVIE.EVO"),
            packs({nav(2, 2), vc1(0x55), ps1(0xC0), together(vc1(0x56), {vc1(0x56)}),
                   together(ps1(0xC1), {ps1(0xC1, 1), ps1(0xC0)}), together(vc1(0x55), {ps1(0xC1, 2)}),
                   together(vc1(0x55), {ps1(0xC0)}), together(ps1(0xC1, 3), {vc1(0x56, 4)})}));
  read(input("MOVIE.EVO"));
  main.toggleBox(videoBox(0), false);
  main.toggleBox(audioBox(0), false);
  rebuildInto((dir.path() / "out").string());
  const std::string output = out("MOVIE.rebuilt.EVO");
  expectOutput(output, packs({nav(1, 1), together(vc1(0x55, 0x56), {vc1(0x55, 0x56)}),
                              together(ps1(0xC0, 0xC1), {ps1(0xC0, 1), gone(ps1(0xC0))}),
                              together(gone(vc1(0x55)), {ps1(0xC0, 2)}), together(ps1(0xC0, 3), {vc1(0x55, 4)})}));
  EXPECT_THAT(window.logText(), ElementsAre("Opening file MOVIE.EVO", "File size: 0 Mbytes.", "Creating " + output,
                                            "VC-1 video stream 56 is written as 55.",
                                            "Dolby Digital Plus stream C1 is written as C0.", "Done.", ""));
}

TEST_F(RebuildTest, PackCutShortByTheEndOfTheFile) {
  // The last pack holds 1000 of its 2048 bytes. Its stream (C1, now C0)
  // stays: the pack is kept, renumbered, with a line. With the stream
  // unticked it goes like its other packs.
  const auto cut = [](Bytes pack) {
    pack.resize(1000);
    return pack;
  };
  writeFile(input("MOVIE.EVO"), join(packs({nav(1, 1), video(0xE0), ps1(0xC1)}), cut(packs({ps1(0xC1, 7)}))));
  read(input("MOVIE.EVO"));
  rebuildInto((dir.path() / "out").string());
  const std::string output = out("MOVIE.rebuilt.EVO");
  expectOutput(output, join(packs({nav(1, 1), video(0xE0), ps1(0xC0, 0xC1)}), cut(packs({ps1(0xC0, 7)}))));
  EXPECT_THAT(window.logText(),
              ElementsAre("Opening file MOVIE.EVO", "File size: 0 Mbytes.", "Creating " + output,
                          "Dolby Digital Plus stream C1 is written as C0.",
                          "MOVIE.EVO: the last pack, at byte 6144, is cut short (1000 of 2048 bytes); it is kept.",
                          "Done.", ""));

  main.toggleBox(audioBox(1), false);
  rebuildInto((dir.path() / "out").string());
  expectOutput(output, packs({nav(0, 1), video(0xE0)}));
  EXPECT_THAT(window.logText(),
              ElementsAre("Opening file MOVIE.EVO", "File size: 0 Mbytes.", "Creating " + output, "Done.", ""));
}

TEST_F(RebuildTest, BlocksWithoutAPackHeaderAreLoggedAndLeftOut) {
  // A zeroed sector between whole packs, and 100 bytes that are no pack at
  // the end: each run is left out with a line, and the packs around it stay.
  writeFile(input("MOVIE.EVO"), join(join(join(packs({nav(1, 1), video(0xE0)}), Bytes(2048, 0)),
                                          packs({ps1(0xC0), video(0xE0)})),
                                     Bytes(100, 0xAB)));
  read(input("MOVIE.EVO"));
  rebuildInto((dir.path() / "out").string());
  const std::string output = out("MOVIE.rebuilt.EVO");
  expectOutput(output, packs({nav(1, 1), video(0xE0), ps1(0xC0), video(0xE0)}));
  EXPECT_THAT(window.logText(), ElementsAre("Opening file MOVIE.EVO", "File size: 0 Mbytes.", "Creating " + output,
                                            "MOVIE.EVO: no pack header at byte 4096; 2048 bytes left out.",
                                            "MOVIE.EVO: no pack header at byte 10240; 100 bytes left out.", "Done.",
                                            ""));
}

TEST_F(RebuildTest, PacksThatAreNot2048BytesLongStopTheRun) {
  // Padding put into each pack without shrinking it: packs of 2148 bytes.
  // Read 2048 at a time, all but the first would be left out; the run stops
  // at the second block instead, with what it wrote so far on disk.
  PsBuilder b;
  for (std::uint8_t k = 0; k < 4; ++k) b.packHeader().ac3(0xC0, pattern(1500, k)).finishPack(2148);
  b.writeTo(input("MOVIE.EVO"));
  read(input("MOVIE.EVO"));
  try {
    rebuildInto((dir.path() / "out").string());
    FAIL() << "packs of 2148 bytes went unnoticed";
  } catch (const FileError& error) {
    EXPECT_STREQ(error.what(), ("Cannot rebuild \"" + input("MOVIE.EVO") +
                                "\". There is no pack header at byte 2048 (the next one is at byte 2148): its packs "
                                "are not 2048 bytes long.")
                                   .c_str());
  }
  const std::string output = out("MOVIE.rebuilt.EVO");
  EXPECT_THAT(window.logText(), ElementsAre("Opening file MOVIE.EVO", "File size: 0 Mbytes.", "Creating " + output));
  EXPECT_TRUE(readFile(output) == Bytes(b.bytes().begin(), b.bytes().begin() + 2048));
  expectIdle();

  // Packs of 4096 bytes: the second block holds no pack header at all, but
  // the padding of the pack before it runs on into it.
  PsBuilder twice;
  for (std::uint8_t k = 0; k < 3; ++k) twice.packHeader().ac3(0xC0, pattern(1500, k)).finishPack(4096);
  twice.writeTo(input("MOVIE.EVO"));
  main.toggleBox(audioBox(0), false);
  main.toggleBox(audioBox(0), true);
  try {
    rebuildInto((dir.path() / "out").string());
    FAIL() << "packs of 4096 bytes went unnoticed";
  } catch (const FileError& error) {
    EXPECT_STREQ(error.what(), ("Cannot rebuild \"" + input("MOVIE.EVO") +
                                "\". There is no pack header at byte 2048: its packs are not 2048 bytes long.")
                                   .c_str());
  }
  EXPECT_TRUE(readFile(output) == Bytes(twice.bytes().begin(), twice.bytes().begin() + 2048));
}

TEST_F(RebuildTest, NineAndMoreAudioStreamsEachKeepABoxOfTheirOwn) {
  // DTS 89, Dolby Digital Plus C2-C9 and DTS 88, ten audio streams in slots
  // 0-9, all kept. The first number of the class goes to 89 (88); DTS ids
  // reach slots 0-7 only, so Dolby Digital Plus leaves slot 7 for DTS 88,
  // still to come, and goes on in 8 and 9.
  std::vector<Pack> list = {nav(10, 0), ps1(0x89)};
  for (std::uint8_t id = 0xC2; id <= 0xC9; ++id) list.push_back(ps1(id));
  list.push_back(ps1(0x88));
  writeFile(input("MOVIE.EVO"), packs(list));
  read(input("MOVIE.EVO"));
  ASSERT_EQ(main.scan().AudioSlots[0].id, 0x88);
  ASSERT_EQ(main.scan().AudioSlots[9].id, 0xC9);
  rebuildInto((dir.path() / "out").string());
  const std::string output = out("MOVIE.rebuilt.EVO");
  const Bytes expected = packs({nav(10, 0), ps1(0x88, 0x89), ps1(0xC1, 0xC2), ps1(0xC2, 0xC3), ps1(0xC3, 0xC4),
                                ps1(0xC4, 0xC5), ps1(0xC5, 0xC6), ps1(0xC6, 0xC7), ps1(0xC8), ps1(0xC9),
                                ps1(0x8F, 0x88)});
  expectOutput(output, expected);
  EXPECT_THAT(window.logText(),
              ElementsAre("Opening file MOVIE.EVO", "File size: 0 Mbytes.", "Creating " + output,
                          "DTS stream 89 is written as 88.", "Dolby Digital Plus stream C2 is written as C1.",
                          "Dolby Digital Plus stream C3 is written as C2.",
                          "Dolby Digital Plus stream C4 is written as C3.",
                          "Dolby Digital Plus stream C5 is written as C4.",
                          "Dolby Digital Plus stream C6 is written as C5.",
                          "Dolby Digital Plus stream C7 is written as C6.", "DTS stream 88 is written as 8F.", "Done.",
                          ""));

  // Read back: ten streams in ten boxes.
  window.setChecked(ControlId::cbDetails, false);
  window.setChecked(ControlId::cbCountFr, false);
  window.clearLog();
  read(output);
  std::vector<std::string> found;
  for (const std::string& line : window.logText())
    if (line.find("found!") != std::string::npos || line.find("left out") != std::string::npos) found.push_back(line);
  EXPECT_THAT(found, ElementsAre("DTS HD (DTS) audio stream 0 found!", "Dolby Digital Plus audio stream 1 found!",
                                 "Dolby Digital Plus audio stream 2 found!", "Dolby Digital Plus audio stream 3 found!",
                                 "Dolby Digital Plus audio stream 4 found!", "Dolby Digital Plus audio stream 5 found!",
                                 "Dolby Digital Plus audio stream 6 found!", "Dolby Digital Plus audio stream 8 found!",
                                 "Dolby Digital Plus audio stream 9 found!", "DTS HD (DTS) audio stream 7 found!"));

  // The file gains Dolby Digital 83, which the read did not list. Every slot
  // a Dolby Digital id reaches is taken: it is left out, and says so.
  read(input("MOVIE.EVO"));
  list.push_back(ps1(0x83));
  list.push_back(ps1(0x89));
  writeFile(input("MOVIE.EVO"), packs(list));
  rebuildInto((dir.path() / "out").string());
  expectOutput(output, join(expected, packs({ps1(0x88, 0x89)})));
  const std::string leftOut = "Dolby Digital stream 83 is left out: the rebuilt file has no free audio slot for it.";
  EXPECT_THAT(window.logText(), ::testing::Contains(leftOut));
}

TEST_F(RebuildTest, UnlistedDolbyDigitalPlusC8IsRenumbered) {
  // C8 that the read did not list counts as ticked and takes the next
  // number, like C0-C7; C9, of the ids no rule renumbers, keeps its id.
  writeFile(input("MOVIE.EVO"), packs({nav(1, 1), video(0xE0), ps1(0xC3)}));
  read(input("MOVIE.EVO"));
  writeFile(input("MOVIE.EVO"), packs({nav(1, 1), video(0xE0), ps1(0xC3), ps1(0xC8), ps1(0xC9), ps1(0xC8)}));
  rebuildInto((dir.path() / "out").string());
  const std::string output = out("MOVIE.rebuilt.EVO");
  expectOutput(output, packs({nav(1, 1), video(0xE0), ps1(0xC0, 0xC3), ps1(0xC1, 0xC8), ps1(0xC9), ps1(0xC1, 0xC8)}));
  EXPECT_THAT(window.logText(), ElementsAre("Opening file MOVIE.EVO", "File size: 0 Mbytes.", "Creating " + output,
                                            "Dolby Digital Plus stream C3 is written as C0.",
                                            "Dolby Digital Plus stream C8 is written as C1.", "Done.", ""));
}

TEST(RebuildProgress, RemainingTimeAfterATenthInTenSeconds) {
  // 10 s for 100 of 1000 MiB: 90 s to go, plus one second.
  EXPECT_EQ(progressText({100LL << 20, 1000LL << 20, 10.0, "Rebuilding FEATURE_1.EVO"}),
            "Rebuilding FEATURE_1.EVO 100/1000 Mbytes, Remaining time: 0:01:31");
}

// Single packs that the id rules must leave alone, decided against slot
// tables set by hand. Each row names what is wrong with the pack or what a
// plain renumbering would have written.
struct PackRow {
  const char* name;
  std::function<Bytes()> make;
  std::function<void(ScanState&, StreamSelection&, RebuildState&)> setUp;
  PackResult result;
};

void PrintTo(const PackRow& row, std::ostream* os) { *os << row.name; }

class RebuildPackTest : public ::testing::TestWithParam<PackRow> {};

TEST_P(RebuildPackTest, PackPassesUnchanged) {
  const PackRow& row = GetParam();
  ScanState state;
  StreamSelection selection;
  RebuildState rebuild;
  row.setUp(state, selection, rebuild);
  const Bytes original = row.make();
  Bytes pack = original;
  EXPECT_EQ(rebuildPack(pack.data(), pack.size(), rebuild, state, selection), row.result);
  EXPECT_TRUE(pack == original);
  for (const std::uint8_t id : rebuild.SubstreamIdMap) EXPECT_TRUE(id == kNoId || id == original[23 + original[22]]);
}

const PackRow kPackRows[] = {
    {"SubstreamIdPastItsPacket",
     // PES_header_data_length 200 in a packet of 8 bytes: offset 223 lies in
     // the padding after it, where an unticked id C0 sits.
     [] {
       PsBuilder b;
       b.packHeader().raw({0x00, 0x00, 0x01, 0xBD, 0x00, 0x08, 0x81, 0x00, 200, 1, 2, 3, 4, 5}).padTo(223);
       return b.raw({0xC0}).finishPack().bytes();
     },
     [](ScanState& s, StreamSelection&, RebuildState&) { s.AudioSlots[0].id = 0xC0; }, PackResult::Keep},
    {"SubstreamHeaderEndsAtThePacketEnd",
     // No byte is left for a substream id; the next byte, past the packet,
     // is an unticked C0.
     [] {
       PsBuilder b;
       b.packHeader().raw({0x00, 0x00, 0x01, 0xBD, 0x00, 0x08, 0x81, 0x00, 5, 1, 2, 3, 4, 5});
       return b.raw({0xC0}).finishPack().bytes();
     },
     [](ScanState& s, StreamSelection&, RebuildState&) { s.AudioSlots[0].id = 0xC0; }, PackResult::Keep},
    {"SubstreamHeaderEndsAtThePackEnd",
     // After a padding packet; the byte after the pack (the next one in the
     // read buffer) is an unticked C0.
     [] {
       PsBuilder b;
       b.packHeader().padTo(2048 - 14).raw({0x00, 0x00, 0x01, 0xBD, 0xFF, 0xFF, 0x81, 0x00, 5, 1, 2, 3, 4, 5});
       return b.raw({0xC0}).bytes();
     },
     [](ScanState& s, StreamSelection&, RebuildState&) { s.AudioSlots[0].id = 0xC0; }, PackResult::Keep},
    {"Vc1HeaderLengthPastItsPacket",
     // The packet ends after the extension flags; 55 of an unticked box
     // follows it where stream_id_extension would be.
     [] {
       PsBuilder b;
       b.packHeader().raw({0x00, 0x00, 0x01, 0xFD, 0x00, 0x04, 0x81, 0x01, 10, 0x01});
       return b.raw({0x01, 0x55}).finishPack().bytes();
     },
     [](ScanState& s, StreamSelection&, RebuildState&) { s.VideoSlots[0].id = 0x55; }, PackResult::Keep},
    {"Vc1HeaderTooShortForItsExtension",
     // The header holds the extension flags and field length only; the
     // payload begins with 55 of an unticked box.
     [] {
       PsBuilder b;
       b.packHeader().raw({0x00, 0x00, 0x01, 0xFD, 0x00, 0x0A, 0x81, 0x01, 2, 0x01, 0x01});
       return b.raw({0x55, 0x55, 0x55, 0x55, 0x55}).finishPack().bytes();
     },
     [](ScanState& s, StreamSelection&, RebuildState&) { s.VideoSlots[0].id = 0x55; }, PackResult::Keep},
    {"Vc1PacketWithoutPesExtension",
     // Where the extension would be, the payload holds 55 of an unticked box.
     [] {
       PsBuilder b;
       return b.packHeader().pes(0xFD, {0x01, 0x02, 0x55, 0x55}).finishPack().bytes();
     },
     [](ScanState& s, StreamSelection&, RebuildState&) { s.VideoSlots[0].id = 0x55; }, PackResult::Keep},
    {"NumberPastTheRangeWouldMakeFF",
     // After 63 audio streams C0 | 3F would be FF.
     [] {
       PsBuilder b;
       return b.packHeader().ac3(0xC0, pattern(100)).finishPack().bytes();
     },
     [](ScanState&, StreamSelection&, RebuildState& r) { r.NextAudioNumber = 0x3F; }, PackResult::Keep},
    {"NinthAudioStreamOnDts",
     // 88 | 8 is 88 again: another stream's id. Past the range the stream
     // keeps its own id while its slot is free.
     [] {
       PsBuilder b;
       return b.packHeader().dts(0x8F, pattern(100)).finishPack().bytes();
     },
     [](ScanState&, StreamSelection&, RebuildState& r) { r.NextAudioNumber = 8; }, PackResult::Keep},
    {"NinthAudioStreamWithEverySlotTaken",
     // Slots 0-7, the only ones a DTS id reaches, are filled: the stream is
     // left out (with a line) rather than put into another stream's box.
     [] {
       PsBuilder b;
       return b.packHeader().dts(0x8F, pattern(100)).finishPack().bytes();
     },
     [](ScanState&, StreamSelection&, RebuildState& r) {
       r.NextAudioNumber = 8;
       for (int k = 0; k < 8; ++k) r.slotHeld({StreamClass::Audio, k}) = true;
     },
     PackResult::Drop},
    {"ShortBlockAtTheEnd",
     // A pack cut short by the end of the file, of a stream that stays: kept
     // as it is (it used to be left out without a word).
     [] {
       PsBuilder b;
       Bytes pack = b.packHeader().ac3(0xC0, pattern(100)).finishPack().bytes();
       pack.resize(1000);
       return pack;
     },
     [](ScanState&, StreamSelection&, RebuildState&) {}, PackResult::Keep},
    {"ShortBlockOfAStreamLeftOut",
     [] {
       PsBuilder b;
       Bytes pack = b.packHeader().ac3(0xC0, pattern(1500)).finishPack().bytes();
       pack.resize(1000);
       return pack;
     },
     [](ScanState& s, StreamSelection&, RebuildState&) { s.AudioSlots[0].id = 0xC0; }, PackResult::Drop},
    {"PacketHeaderCutShortAtTheEnd",
     // The file ends inside the header, before the substream id.
     [] {
       PsBuilder b;
       Bytes pack = b.packHeader().ac3(0xC0, pattern(100)).finishPack().bytes();
       pack.resize(14 + 8);
       return pack;
     },
     [](ScanState& s, StreamSelection&, RebuildState&) { s.AudioSlots[0].id = 0xC0; }, PackResult::Keep},
    {"NoPackStartCode",
     [] {
       PsBuilder b;
       Bytes pack = b.packHeader().ac3(0xC0, pattern(100)).finishPack().bytes();
       pack[3] = 0xBB;
       return pack;
     },
     [](ScanState&, StreamSelection&, RebuildState&) {}, PackResult::Skip},
};

INSTANTIATE_TEST_SUITE_P(Rows, RebuildPackTest, ::testing::ValuesIn(kPackRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A feature whose first file passes a 4 MiB progress point.
class LongRebuildTest : public RebuildTest {
 protected:
  LongRebuildTest() {
    std::vector<Pack> list;
    for (int i = 0; i < 3 * 1024; ++i) list.push_back(i % 256 == 0 ? nav(0, 1) : vc1(0x55, i));
    first = packs(list);
    writeFile(input("FEATURE_1.EVO"), first);
    writeFile(input("FEATURE_2.EVO"), packs({nav(0, 1), vc1(0x55)}));
    window.setChecked(ControlId::cbFastCheck, false);
    read(input("FEATURE_1.EVO"));
  }
  Bytes first;
};

TEST_F(LongRebuildTest, CancelInTheFirstFileSkipsTheSecond) {
  std::vector<std::string> progress;
  bool guarded = false;
  window.onProcessMessages = [&] {
    progress.push_back(window.statusPanel(1));
    guarded = main.busy() && window.enabled(ControlId::bCancel) && !window.enabled(videoBox(0)) &&
              !window.enabled(ControlId::bCheck) && !window.enabled(ControlId::bRebuild);
    main.bCancelClick();
  };
  window.onConfirm = [](const std::string&) { return true; };
  rebuildInto((dir.path() / "out").string());

  EXPECT_TRUE(guarded);
  ASSERT_EQ(progress.size(), 1u);
  EXPECT_THAT(progress[0], ::testing::StartsWith(" Rebuilding FEATURE_1.EVO 4/6 Mbytes, Remaining time: 0:00:"));
  EXPECT_THAT(window.questions(), ElementsAre("Are you sure to stop demuxing?"));
  // Everything up to the progress point, nothing after it.
  const Bytes expected(first.begin(), first.begin() + 4 * 1048576);
  EXPECT_TRUE(readFile(out("FEATURE_1_FEATURE_2.rebuilt.EVO")) == expected);
  EXPECT_THAT(window.logText(), ::testing::Not(::testing::Contains(HasSubstr("Continue on"))));
  EXPECT_THAT(window.logText(), ::testing::Contains("Done."));
  expectIdle();
}

TEST_F(LongRebuildTest, OutputOverAnInputIsRefused) {
  for (const std::string& target : {input("FEATURE_1.EVO"), input("FEATURE_2.EVO")}) {
    const std::string output = out("FEATURE_1_FEATURE_2.rebuilt.EVO");
    fs::remove(output);
    fs::create_symlink(target, output);
    try {
      rebuildInto((dir.path() / "out").string());
      FAIL() << "an output over " << target << " was not refused";
    } catch (const FileError& error) {
      EXPECT_STREQ(error.what(), ("Cannot create file \"" + output + "\". It is an input file of this command").c_str());
    }
    EXPECT_THAT(window.logText(), ElementsAre("Opening file FEATURE_1.EVO", "File size: 6 Mbytes."));
    EXPECT_FALSE(window.enabled(ControlId::bRebuild));
    expectIdle();
  }
  EXPECT_TRUE(readFile(input("FEATURE_1.EVO")) == first);
  EXPECT_EQ(fs::file_size(input("FEATURE_2.EVO")), 2 * 2048u);
}

TEST_F(LongRebuildTest, WriteFailureEndsTheRunAndLeavesTheProgramUsable) {
  // /dev/full refuses every write with "No space left on device".
  fs::create_symlink("/dev/full", out("FEATURE_1_FEATURE_2.rebuilt.EVO"));
  try {
    rebuildInto((dir.path() / "out").string());
    FAIL() << "a full disk went unnoticed";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(), ::testing::StartsWith("Stream write error"));
  }
  EXPECT_THAT(window.logText(), ::testing::Not(::testing::Contains("Done.")));
  EXPECT_FALSE(window.enabled(ControlId::bRebuild));
  expectIdle();

  // A change to the lists offers Rebuild again, and it runs.
  main.toggleBox(videoBox(0), false);
  main.toggleBox(videoBox(0), true);
  ASSERT_TRUE(window.enabled(ControlId::bRebuild));
  window.setChecked(ControlId::cbContinue, false);
  rebuildInto(dir.path().string());
  EXPECT_TRUE(readFile(dir / "FEATURE_1.rebuilt.EVO") == first);
  EXPECT_EQ(window.logText().back(), "");
}

// The input shrinks during the run: a clear error instead of a short copy
// that looks whole.
TEST_F(LongRebuildTest, InputThatShrinksDuringTheRun) {
  window.onProcessMessages = [&] { fs::resize_file(input("FEATURE_1.EVO"), 5 * 0x100000); };
  try {
    rebuildInto((dir.path() / "out").string());
    FAIL() << "no error for a file that shrank";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(), HasSubstr("Cannot read file \"" + input("FEATURE_1.EVO") + "\". It ended after"));
  }
  EXPECT_THAT(window.logText(), ::testing::Not(::testing::Contains("Done.")));
  expectIdle();
}

}  // namespace
}  // namespace tarnwick::test
