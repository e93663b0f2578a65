// The scanner in analysis mode: stream identification, found lines, first
// time stamps, chunking, progress, cancel and malformed input.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "support/scan_fixture.h"

namespace tarnwick::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

class ScannerTest : public ScanFixture {};

TEST_F(ScannerTest, PrivateStreamOneWorkedExample) {
  // 00 00 01 BD, length 2028, flags 81 80 05, PTS of one second, then the
  // Dolby Digital substream header 80 01 00 01 and 2016 payload bytes.
  Bytes bytes = {0x00, 0x00, 0x01, 0xBD, 0x07, 0xEC, 0x81, 0x80, 0x05, 0x21, 0x00,
                 0x05, 0xBF, 0x21, 0x80, 0x01, 0x00, 0x01};
  const Bytes payload = pattern(2016);
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  state.EarliestPts = 0xFFFFFFFF;
  scan(bytes);

  EXPECT_THAT(log(), ElementsAre("Dolby Digital audio stream 0 found!", "   First PTS = 00015F90",
                                 "   Stream id = 80"));
  EXPECT_EQ(window.lines()[0].boldStart, 0u);
  EXPECT_EQ(window.lines()[0].boldLength, std::string("Dolby Digital").size());
  EXPECT_EQ(state.AudioSlots[0].id, 0x80);
  EXPECT_EQ(state.EarliestPts, 90000u);
  EXPECT_EQ(state.AudioSlots[0].record.firstPts, 90000u);
}

TEST_F(ScannerTest, IdentifiesEveryKindOfStream) {
  PsBuilder b;
  b.packHeader()
      .pes(0xE1, pattern(100), {.pts = 1000, .dts = 900, .pstd = true})
      .vc1(pattern(50), 2000, 1900, 0x55)
      .vc1(pattern(50), 2100, {}, 0x56)
      .vc1(pattern(50), 2200, {}, 0x57)  // VC-1 too, but no box holds it
      .ac3(0x81, pattern(40), 3000)
      .dts(0x8A, pattern(40), 3100)
      .ac3(0xC3, pattern(40), 3200)
      .lpcm(0xA4, pattern(40), 3300)
      .trueHd(0xB5, pattern(40), 3400)
      .subpicture(0x22, pattern(40), 4000)
      .subpicture(0x67, pattern(40), 4100);
  options.details = false;
  scan(b.bytes());

  EXPECT_THAT(log(), ElementsAre("MPEG-2 video stream 1 found!", "VC-1 video stream 0 found!",
                                 "Stream 56 shares video slot 1 with stream E1 and is left out.",
                                 "Stream 57 is a video stream that no box holds and is left out.",
                                 "Dolby Digital audio stream 1 found!", "DTS HD (DTS) audio stream 2 found!",
                                 "Dolby Digital Plus audio stream 3 found!", "LPCM audio stream 4 found!",
                                 "Dolby TrueHD (MLP) audio stream 5 found!", "Subpicture stream 2 found!",
                                 "Extended subpicture stream 7 found!"));
  // VC-1 0x56 meets slot 1, already held by the MPEG-2 stream 0xE1.
  EXPECT_EQ(state.VideoSlots[0].id, 0x55);
  EXPECT_EQ(state.VideoSlots[1].id, 0xE1);
  EXPECT_EQ(state.AudioSlots[1].id, 0x81);
  EXPECT_EQ(state.AudioSlots[2].id, 0x8A);
  EXPECT_EQ(state.AudioSlots[3].id, 0xC3);
  EXPECT_EQ(state.AudioSlots[4].id, 0xA4);
  EXPECT_EQ(state.AudioSlots[5].id, 0xB5);
  EXPECT_EQ(state.SubpictureSlots[2].id, 0x22);
  EXPECT_EQ(state.SubpictureSlots[7].id, 0x67);
  EXPECT_EQ(state.AudioSlots[0].id, -1);
}

TEST_F(ScannerTest, HighSubpictureIdsUseSlotsWithoutBoxes) {
  PsBuilder b;
  b.subpicture(0x30, pattern(20), 100).subpicture(0x7F, pattern(20), 200);
  scan(b.bytes());
  EXPECT_EQ(state.SubpictureSlots[16].id, 0x30);
  EXPECT_EQ(state.SubpictureSlots[31].id, 0x7F);
  EXPECT_THAT(log(), ElementsAre("Subpicture stream 16 found!", "Extended subpicture stream 31 found!"));
}

TEST_F(ScannerTest, FirstSeenStreamOwnsASharedSlot) {
  PsBuilder b;
  b.ac3(0x81, pattern(30), 500).dts(0x89, pattern(30), 600);
  scan(b.bytes());
  EXPECT_EQ(state.AudioSlots[1].id, 0x81);
  EXPECT_THAT(log(), ElementsAre("Dolby Digital audio stream 1 found!", "   First PTS = 000001F4",
                                 "   Stream id = 81", "Stream 89 shares audio slot 1 with stream 81 and is left out."));
  ASSERT_EQ(state.leftOut.size(), 1u);
  EXPECT_EQ(state.leftOut[0].id, 0x89);
  EXPECT_EQ(state.leftOut[0].ownerId, 0x81);
  EXPECT_TRUE(state.leftOutSubstreamIds[0x89]);
}

TEST_F(ScannerTest, DetailsGiveFirstTimeStampsAndIds) {
  PsBuilder b;
  b.vc1(pattern(64), 180000, 176400)
      .ac3(0xC0, pattern(64), 183000)
      .subpicture(0x20, {0x00, 0x00, 0x12}, 190000)
      .subpicture(0x21, {0x12, 0x34}, 200000)
      .pes(0xE3, pattern(64), {.pts = 0x1'0000'1234ull, .dts = 0x1'0000'1000ull});
  state.EarliestPts = 0xFFFFFFFF;
  scan(b.bytes());
  EXPECT_THAT(log(), ElementsAre("VC-1 video stream 0 found!", "   First PTS = 0002BF20", "   Stream id = 55",
                                 "Dolby Digital Plus audio stream 0 found!", "   First PTS = 0002CAD8",
                                 "   Stream id = C0", "Subpicture stream 0 found!", "   First PTS = 0002E630",
                                 "   Stream id = 20", "   Format = 8bitRLE", "Subpicture stream 1 found!",
                                 "   First PTS = 00030D40", "   Stream id = 21", "   Format = 2bitRLE",
                                 "H.264 video stream 1 found!",
                                 // bit 32 of the PTS is dropped
                                 "   First PTS = 00001234", "   Stream id = E3"));
  // Subpictures never lower the earliest time; the H.264 PTS (bit 32 dropped) does.
  EXPECT_EQ(state.EarliestPts, 0x1234u);
}

TEST_F(ScannerTest, TimeStampTopBitsFromFirstByte) {
  // A lone-PTS first byte 0x27 contributes 0xC0000000.
  Bytes bytes = {0x00, 0x00, 0x01, 0xBD, 0x00, 0x0C, 0x81, 0x80, 0x05, 0x27, 0x00, 0x01, 0x00, 0x01,
                 0x80, 0x01, 0x00, 0x01, 0xAA, 0xBB};
  scan(bytes);
  EXPECT_THAT(log(), ElementsAre("Dolby Digital audio stream 0 found!", "   First PTS = C0000000",
                                 "   Stream id = 80"));
}

// Each byte of the five-byte field lands in its place: bits 22-29 set, values
// next to 2^32, bit 32 dropped; in the found lines, the earliest time and the
// subpicture records' times alike.
TEST_F(ScannerTest, TimeStampsKeepEveryBitBelowBitThirtyTwo) {
  PsBuilder b;
  b.ac3(0x80, pattern(16), 0x1'3FC0'0155ull)
      .ac3(0x81, pattern(16), 0xFFFF'FFFFull)
      .ac3(0x82, pattern(16), 0x9ABC'DEF1ull)
      .pes(0xE0, pattern(16), {.pts = 0x1'FFFF'FFFEull, .dts = 0x1'2345'6789ull});
  state.EarliestPts = 0xFFFFFFFF;
  scan(b.bytes());
  EXPECT_THAT(log(), ElementsAre("Dolby Digital audio stream 0 found!", "   First PTS = 3FC00155", "   Stream id = 80",
                                 "Dolby Digital audio stream 1 found!", "   First PTS = FFFFFFFF", "   Stream id = 81",
                                 "Dolby Digital audio stream 2 found!", "   First PTS = 9ABCDEF1", "   Stream id = 82",
                                 "MPEG-2 video stream 0 found!", "   First PTS = FFFFFFFE", "   Stream id = E0"));
  EXPECT_EQ(state.EarliestPts, 0x3FC00155u);

  PsBuilder subs;
  subs.subpicture(0x20, {0xAA}, 0x1'3FC0'0155ull).subpicture(0x20, {0xBB}, 0xFFFF'F000ull);
  state.EarliestPts = 0x1000;
  const std::string out = openSubpicture(0);
  scan(subs.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(readFile(out), (Bytes{'S', 'P', 0x55, 0xF1, 0xBF, 0x3F, 0, 0, 0, 0, 0xAA,  //
                                  'S', 'P', 0x00, 0xE0, 0xFF, 0xFF, 0, 0, 0, 0, 0xBB}));
}

TEST_F(ScannerTest, EmptyHeaderDataPutsSubstreamIdNext) {
  PsBuilder b;
  b.ac3(0x82, pattern(10));  // no PTS: PES_header_data_length 0
  scan(b.bytes());
  EXPECT_EQ(state.AudioSlots[2].id, 0x82);
  EXPECT_THAT(log(), ElementsAre("Dolby Digital audio stream 2 found!", "   First PTS = 00000000",
                                 "   Stream id = 82"));
}

TEST_F(ScannerTest, EmptyFileLeavesTablesEmpty) {
  scan({});
  EXPECT_THAT(log(), IsEmpty());
  EXPECT_EQ(state.VideoSlots[0].id, -1);
  EXPECT_EQ(state.AudioSlots[0].id, -1);
  EXPECT_EQ(window.cancellableRuns, 1);
  EXPECT_FALSE(window.cancellableNow);
  EXPECT_THAT(window.progressTexts, IsEmpty());
}

TEST_F(ScannerTest, NotAProgramStreamFindsNothing) {
  Bytes noise = pattern(3 * 0x40000 + 123, 5);
  scan(noise);
  EXPECT_THAT(log(), IsEmpty());
  EXPECT_EQ(endPosition, static_cast<std::int64_t>(noise.size()));
}

TEST_F(ScannerTest, SystemHeaderSummaryOnlyForTheFirstFullChunk) {
  PsBuilder big;
  big.packHeader().systemHeader(3, 1, {0xE0, 0xBD}).finishPack().padTo(0x40000 + 100);
  scan(big.bytes());
  EXPECT_THAT(log(), ElementsAre("It contains 1 video stream and 3 audio streams."));

  PsBuilder plural;
  plural.packHeader().systemHeader(1, 2).finishPack().padTo(0x40000);
  window.clearLog();
  scan(plural.bytes());
  EXPECT_THAT(log(), ElementsAre("It contains 2 video streams and 1 audio stream."));

  PsBuilder small;  // shorter than one chunk: no summary
  small.packHeader().systemHeader(3, 1).finishPack();
  window.clearLog();
  scan(small.bytes());
  EXPECT_THAT(log(), IsEmpty());
}

TEST_F(ScannerTest, PacketsStraddlingChunksAreFollowed) {
  // The header of one packet and the payload of another cross 0x40000.
  PsBuilder b;
  b.padTo(0x40000 - 9).ac3(0x80, pattern(100), 9000);
  b.padTo(2 * 0x40000 - 40).subpicture(0x20, pattern(200), 9100);
  b.padTo(3 * 0x40000 - 2).pes(0xE0, pattern(500), {.pts = 9200});
  scan(b.bytes());
  EXPECT_THAT(log(), ElementsAre("Dolby Digital audio stream 0 found!", "   First PTS = 00002328",
                                 "   Stream id = 80", "Subpicture stream 0 found!", "   First PTS = 0000238C",
                                 "   Stream id = 20", "   Format = 2bitRLE", "MPEG-2 video stream 0 found!",
                                 // MPEG-2 video takes the time stamp standing when the stream is
                                 // found, before its own header: here none, as the subpicture
                                 // cleared it.
                                 "   First PTS = 00000000", "   Stream id = E0"));
}

TEST_F(ScannerTest, FrameMarkerSplitBetweenPacketsCountsOnce) {
  // 00 00 | 01 0D across two VC-1 packets, with an audio packet between them,
  // and 00 00 01 | 0D across the next pair.
  PsBuilder b;
  b.vc1({0x11, 0x00, 0x00}, 1000, 900).ac3(0x80, {0x00, 0x01, 0x0D}, 1000).vc1({0x01, 0x0D, 0x00, 0x00, 0x01});
  b.vc1({0x0D, 0x22});
  options.details = false;
  scan(b.bytes());
  EXPECT_EQ(state.VideoSlots[0].VideoFrameCounts, 2);
}

// Malformed packets: each row is followed by a well-formed Dolby Digital
// packet that must still be found.
struct MalformedCase {
  const char* name;
  Bytes bytes;
};

class MalformedInputTest : public ScannerTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedInputTest, ScanningResumesAtTheNextPacket) {
  PsBuilder b;
  b.raw(GetParam().bytes).ac3(0x83, pattern(64), 4500);
  state.EarliestPts = 0xFFFFFFFF;
  scan(b.bytes());
  EXPECT_EQ(state.AudioSlots[3].id, 0x83);
  EXPECT_THAT(log(), ::testing::Contains("Dolby Digital audio stream 3 found!"));
  EXPECT_THAT(log(), ::testing::Contains("   First PTS = 00001194"));
}

// Around a malformed packet, the payloads of a stream are written once each
// and in order: nothing of the bad packet, nothing twice.
TEST_P(MalformedInputTest, ExtractionWritesEachPayloadOnceInOrder) {
  const Bytes before = pattern(40, 1), after = pattern(50, 2);
  PsBuilder b;
  b.ac3(0x83, before, 4500).raw(GetParam().bytes).ac3(0x83, after, 9000);
  const std::string out = openAudio(3);
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  Bytes expected = before;
  expected.insert(expected.end(), after.begin(), after.end());
  EXPECT_EQ(readFile(out), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, MalformedInputTest,
    ::testing::Values(
        MalformedCase{"ZeroLength", {0x00, 0x00, 0x01, 0xBD, 0x00, 0x00, 0x81, 0x80, 0x05, 0x21}},
        MalformedCase{"LengthShorterThanHeader", {0x00, 0x00, 0x01, 0xE0, 0x00, 0x04, 0x81, 0xC0, 0x0A, 0x31, 0x00}},
        MalformedCase{"SubstreamHeaderPastPacketEnd", {0x00, 0x00, 0x01, 0xBD, 0x00, 0x05, 0x81, 0x00, 0x00, 0x80, 0x01}},
        MalformedCase{"HeaderDataLongerThanPacket",
                      {0x00, 0x00, 0x01, 0xBD, 0x00, 0x06, 0x81, 0x00, 0xF0, 0xFF, 0xFF, 0xFF}},
        MalformedCase{"ZeroLengthPadding", {0x00, 0x00, 0x01, 0xBE, 0x00, 0x00}},
        MalformedCase{"StrayStartCodes", {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0xB3, 0x00, 0x00, 0x01}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScannerTest, FileCutInsideAPacket) {
  PsBuilder b;
  b.ac3(0x80, pattern(64), 100).pes(0xE0, pattern(2000), {.pts = 200});
  Bytes cut(b.bytes().begin(), b.bytes().end() - 1500);
  scan(cut);
  EXPECT_EQ(state.AudioSlots[0].id, 0x80);
  EXPECT_EQ(state.VideoSlots[0].id, 0xE0);

  Bytes inHeader(b.bytes().begin(), b.bytes().begin() + 7);  // cut inside the first PES header
  window.clearLog();
  scan(inHeader);
  EXPECT_THAT(log(), IsEmpty());
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// A packet whose PES_packet_length was damaged to 0xFFFF, filling the rest of
// its pack: the bytes after the pack are the next pack's, not its own.
TEST_F(ScannerTest, DamagedLengthIsCutAtItsPacksEnd) {
  const Bytes a1 = pattern(300, 1), a3 = pattern(300, 3), a5 = pattern(300, 5);
  const Bytes d1 = pattern(400, 11), d2 = pattern(400, 12), d3 = pattern(400, 13), v1 = pattern(500, 21);
  PsBuilder b;
  Bytes a2, a4;
  // The rest of the current pack after a private-stream-1 header without PTS
  // and the three Dolby Digital header bytes after the id.
  const auto damaged = [&](std::uint8_t seed) {
    Bytes payload = pattern(2048 - (b.size() % 2048) - 9 - 4, seed);
    b.privateStream1(0x80, {0x01, 0x00, 0x01}, payload, {.packetLength = 0xFFFF});
    return payload;
  };
  b.packHeader().ac3(0x80, a1, 9000).finishPack();
  b.packHeader();
  const std::size_t firstDamaged = b.size();
  a2 = damaged(2);
  b.packHeader().dts(0x89, d1, 9000).finishPack();
  b.packHeader().pes(0xE0, v1, {.pts = 9000}).finishPack();
  b.packHeader().ac3(0x80, a3).finishPack();
  // A padding packet as long: the Dolby Digital packet of the next pack
  // must not be passed over with it.
  b.packHeader().raw({0x00, 0x00, 0x01, 0xBE, 0xFF, 0xFF}).finishPack();
  b.packHeader().dts(0x89, d2).finishPack();
  // The second damaged packet of stream 80 ends the first chunk: it is cut
  // where the next chunk begins, and logged no more.
  b.padTo(0x40000 - 2048).packHeader();
  a4 = damaged(4);
  ASSERT_EQ(b.size(), 0x40000u);
  b.packHeader().dts(0x89, d3).finishPack();
  b.packHeader().ac3(0x80, a5).finishPack();

  scan(b.bytes());
  EXPECT_THAT(log(), ::testing::IsSupersetOf({"DTS HD (DTS) audio stream 1 found!", "MPEG-2 video stream 0 found!"}));
  std::vector<std::string> cuts;
  for (const std::string& line : log())
    if (line.find("runs past") != std::string::npos) cuts.push_back(line);
  EXPECT_THAT(cuts, ElementsAre("Stream 80: packet at byte " + std::to_string(firstDamaged) +
                                    " runs past its pack; cut there.",
                                "Stream BE: packet at byte 10254 runs past its pack; cut there."));

  // Demux: each output holds its own stream's bytes, all of them.
  window.clearLog();
  const std::string audio0 = openAudio(0), audio1 = openAudio(1), video0 = openVideo(0);
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(readFile(audio0), join({a1, a2, a3, a4, a5}));
  EXPECT_EQ(readFile(audio1), join({d1, d2, d3}));
  EXPECT_EQ(readFile(video0), v1);
  EXPECT_EQ(log().size(), 2u);
}

// Packets are cut only where packs are known to be 2048 bytes and the next
// one's header stands at the boundary: elsewhere a packet may cross it.
TEST_F(ScannerTest, PacketsCrossTwoKibibyteBoundariesOutsideTwoKibibytePacks) {
  // The payload crosses offset 2048 with 00 00 01 BA standing there.
  const auto crossing = [](std::size_t at) {
    Bytes payload = pattern(3000, 9);
    const Bytes pack = {0x00, 0x00, 0x01, 0xBA};
    std::copy(pack.begin(), pack.end(), payload.begin() + static_cast<std::ptrdiff_t>(2048 - at));
    return payload;
  };
  struct Row {
    const char* name;
    Bytes bytes;
    Bytes video;
  };
  std::vector<Row> rows;
  {  // a pack header off the grid before the packet
    PsBuilder b;
    b.packHeader().padding(100).packHeader();
    const std::size_t at = b.size() + 9 + 5;
    const Bytes payload = crossing(at);
    b.pes(0xE0, payload, {.pts = 9000});
    rows.push_back({"PackOffTheGrid", b.bytes(), payload});
  }
  {  // no pack header at the boundary: the file's packs are longer
    PsBuilder b;
    b.packHeader();
    const Bytes payload = pattern(3000, 9);
    b.pes(0xE0, payload, {.pts = 9000});
    rows.push_back({"NoPackHeaderAtTheBoundary", b.bytes(), payload});
  }
  {  // no pack header at all
    PsBuilder b;
    const std::size_t at = 9 + 5;
    const Bytes payload = crossing(at);
    b.pes(0xE0, payload, {.pts = 9000});
    rows.push_back({"NoPacks", b.bytes(), payload});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    window.clearLog();
    const std::string out = openVideo(0);
    scan(row.bytes, ScanMode::Extraction);
    state.closeOutputs();
    EXPECT_EQ(readFile(out), row.video);
    EXPECT_THAT(log(), IsEmpty());
  }
}

// The only VC-1 stream is on stream_id_extension 0x57, which no box holds:
// it reaches no output and no found line. Its payload is what a searched
// packet would betray: VC-1 start codes, 0x55 bytes, and the bytes of a whole
// VC-1 0x55 packet. A Dolby Digital packet carrying a PES extension whose
// field reads 0x55, and an extended-stream-id packet with no extension at
// all, are no VC-1 of a box either.
TEST_F(ScannerTest, VideoStreamNoBoxHoldsReachesNoOutput) {
  PsBuilder inner;
  inner.vc1(pattern(900, 4), 5000, 4000, 0x55);
  Bytes es;
  for (int frame = 0; es.size() < 40000; ++frame) {
    const Bytes header = {0x00, 0x00, 0x01, frame == 0 ? std::uint8_t{0x0F} : std::uint8_t{0x0D}, 0x55, 0xD5, 0x00, 0x00,
                          0x02};
    es.insert(es.end(), header.begin(), header.end());
    const Bytes body = frame % 3 == 1 ? inner.bytes() : pattern(700, static_cast<std::uint8_t>(frame));
    es.insert(es.end(), body.begin(), body.end());
  }
  const Bytes a1 = pattern(300, 1), a2 = pattern(300, 2), a3 = pattern(300, 3), a4 = pattern(300, 4);
  PsBuilder b;
  b.packHeader().systemHeader(1, 1, {0xFD, 0xBD}).ac3(0x80, a1, 9000).finishPack();
  // Packets of every header shape: time stamps or none, P-STD, stuffing;
  // some straddle the first chunk boundary.
  std::size_t at = 0;
  for (int k = 0; at < es.size(); ++k) {
    if (k == 20) b.padTo(0x40000 - 1000);
    b.packHeader();
    PesOptions o;
    if (k % 2 == 0) o.pts = 9000 + 3003 * static_cast<std::uint64_t>(k);
    if (k % 4 == 0) o.dts = *o.pts - 3003;
    o.pstd = k % 3 == 0;
    o.stuffing = static_cast<std::size_t>(k % 5);
    o.streamIdExtension = 0x57;
    const std::size_t n = std::min<std::size_t>(es.size() - at, 1900);
    b.pes(0xFD, Bytes(es.begin() + static_cast<std::ptrdiff_t>(at), es.begin() + static_cast<std::ptrdiff_t>(at + n)), o);
    at += n;
    b.finishPack();
    if (k == 5) b.packHeader().ac3(0x80, a2).finishPack();
  }
  b.packHeader().privateStream1(0x80, {0x01, 0x00, 0x01}, a3, {.streamIdExtension = 0x55}).finishPack();
  b.packHeader().privateStream1(0x80, {0x01, 0x00, 0x01}, a4, {.pstd = true}).finishPack();
  b.packHeader().pes(0xFD, pattern(500, 9)).finishPack();  // no extension
  ASSERT_GT(b.size(), 0x40000u);

  state.EarliestPts = 0xFFFFFFFF;
  scan(b.bytes());
  EXPECT_THAT(log(), ElementsAre("It contains 1 video stream and 1 audio stream.", "Dolby Digital audio stream 0 found!",
                                 "   First PTS = 00002328", "   Stream id = 80",
                                 "Stream 57 is a video stream that no box holds and is left out."));
  EXPECT_EQ(state.VideoSlots[0].id, -1);
  EXPECT_EQ(state.VideoSlots[1].id, -1);
  EXPECT_EQ(state.VideoSlots[0].VideoFrameCounts, 0);

  window.clearLog();
  const std::string video0 = openVideo(0), video1 = openVideo(1), audio0 = openAudio(0);
  scan(b.bytes(), ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_THAT(readFile(video0), IsEmpty());
  EXPECT_THAT(readFile(video1), IsEmpty());
  EXPECT_EQ(readFile(audio0), join({a1, a2, a3, a4}));
  EXPECT_THAT(log(), IsEmpty());
}

// Pads a file of packs to `size` bytes with whole padding packets, which the
// scanner skips quickly, with a video packet at the start and the end.
Bytes longFile(std::size_t size) {
  PsBuilder b;
  b.packHeader().pes(0xE0, {0x00, 0x00, 0x01, 0x00, 0x11}, {.pts = 3000}).finishPack();
  while (b.size() + 2048 <= size - 2048) b.packHeader().finishPack();
  b.packHeader().pes(0xE3, {0x00, 0x00, 0x01, 0x09, 0x10}, {.pts = 3000}).finishPack();
  return b.bytes();
}

TEST_F(ScannerTest, ProgressEveryFourMebibytesWithCancel) {
  const Bytes bytes = longFile(10 * 0x100000);
  scan(bytes);
  const std::vector<std::string>& progress = window.progressTexts;
  ASSERT_EQ(progress.size(), 2u);
  EXPECT_THAT(progress[0], MatchesRegex(R"(4/10 Mbytes, Remaining time: [0-9]+:[0-5][0-9]:[0-5][0-9])"));
  EXPECT_THAT(progress[1], MatchesRegex(R"(8/10 Mbytes, Remaining time: .*)"));
  // The numbers travel as numbers: a front end needs no text to parse.
  EXPECT_EQ(window.progresses[1].position, 8 * 0x100000);
  EXPECT_EQ(window.progresses[1].size, 10 * 0x100000);
  EXPECT_EQ(state.VideoSlots[1].id, 0xE3);
  EXPECT_EQ(state.VideoSlots[0].VideoFrameCounts, 1);
  EXPECT_EQ(state.VideoSlots[1].VideoFrameCounts, 1);

  // A Cancel click seen at the first progress point: that chunk is finished,
  // the counts are cleared and the flag stays set.
  window.onLetInputThrough = [&] { window.cancel = true; };
  window.clearLog();
  state.resetVideoFrameCounts();
  scan(bytes);
  EXPECT_EQ(state.scanStop, ScanStop::Cancelled);
  EXPECT_TRUE(state.CancelRequested());
  EXPECT_EQ(endPosition, 0x400000);
  EXPECT_EQ(state.VideoSlots[1].id, -1);
  EXPECT_EQ(state.VideoSlots[0].VideoFrameCounts, 0);
}

TEST_F(ScannerTest, FastCheckStopsAfterThreeHundredMillionBytes) {
  const std::string path = dir / "long.evo";
  writeFile(path, longFile(301'000'000));
  scanFile(path);
  EXPECT_EQ(state.scanStop, ScanStop::FastCheckLimit);
  EXPECT_TRUE(state.CancelRequested());
  EXPECT_EQ(endPosition, 300'154'880);
  EXPECT_EQ(state.VideoSlots[1].id, -1);  // the last pack was never reached
  EXPECT_EQ(state.VideoSlots[0].VideoFrameCounts, 0);

  options.fastCheck = false;
  scanFile(path);
  EXPECT_EQ(state.scanStop, ScanStop::None);
  EXPECT_EQ(state.VideoSlots[1].id, 0xE3);
  EXPECT_GE(window.repaints, 4);  // every 64 MiB
}

TEST_F(ScannerTest, FastCheckNeverStopsExtraction) {
  const std::string path = dir / "long.evo";
  writeFile(path, longFile(301'000'000));
  const std::string out = openVideo(1);
  scanFile(path, ScanMode::Extraction);
  state.closeOutputs();
  EXPECT_EQ(state.scanStop, ScanStop::None);
  EXPECT_EQ(readFile(out), (Bytes{0x00, 0x00, 0x01, 0x09, 0x10}));
  EXPECT_THAT(log(), IsEmpty());
}

}  // namespace
}  // namespace tarnwick::test
