// Rebuild against demux on generated EVO-like program streams: random
// streams (with ids that share a slot, ids a renumbering can land on, kinds
// no box holds, and more than eight audio streams), random pack layouts (pack
// stuffing, a padding packet before the first packet, a system header before
// a packet, two or three packets in one pack, PES_packet_length 0xFFFF on a
// packet that ends its pack, a last pack cut short) and a random choice of
// boxes. For each case:
//   - demux of the source writes, for every ticked box, exactly the stream
//     that owns the box (the first one seen in its slot);
//   - demux of the rebuilt file writes the same contents;
//   - the rebuilt file carries every packet of every kept stream, none of a
//     dropped one, never two source streams under one id and never one
//     source stream under two;
//   - reading the rebuilt file finds as many streams of each class in boxes
//     as were kept, and leaves none out;
//   - a cut last pack of a kept stream is kept and logged.
// Each packet's payload starts with its stream's marker byte, so a packet of
// the rebuilt file tells where it came from.
//
// TARNWICK_PROPERTY_SEED (first case's seed, default 1), TARNWICK_PROPERTY_CASES
// (default 30) and TARNWICK_PROPERTY_SECONDS (run cases until this time is up,
// instead of a count) set the run; a failure names the seed of its case.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "support/builders.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

// How a stream is carried. Dolby Digital, DTS and Dolby Digital Plus share a
// substream header of three bytes; "Other" is a substream id of no known
// kind (0x90-0x9F, 0xA8-0xAF, 0xB8-0xBF), given three header bytes too.
enum class Carrier { MpegVideo, Vc1, MpegAudio, Audio3, Lpcm, TrueHd, Subpicture, Other };

struct Stream {
  Carrier carrier;
  std::uint8_t id;      // stream id, VC-1 stream_id_extension or substream id
  std::uint8_t marker;  // first payload byte of each of its packets
  std::string box;      // the box that holds it; empty when none does or it is left out
  bool leftOut = false;  // shares a slot with an earlier stream, or VC-1 no box holds
  int packets = 0;
  Bytes content;  // what its demux output holds (subpictures: record times zeroed)
  bool substream() const {
    return carrier != Carrier::MpegVideo && carrier != Carrier::Vc1 && carrier != Carrier::MpegAudio;
  }
};

constexpr std::uint64_t kStartPts = 90000;

// The box and slot of a stream, as Read EVO assigns them: class and slot
// number, or none.
std::optional<std::pair<char, int>> slotOf(const Stream& s) {
  switch (s.carrier) {
    case Carrier::MpegVideo: return std::pair{'v', s.id & 1};
    case Carrier::Vc1: return s.id <= 0x56 ? std::optional(std::pair{'v', s.id - 0x55}) : std::nullopt;
    case Carrier::Audio3:
      return std::pair{'a', (s.id >= 0xC0 ? s.id & 0x0F : s.id & 0x07)};
    case Carrier::Lpcm: return std::pair{'a', s.id & 0x0F};
    case Carrier::TrueHd: return std::pair{'a', s.id & 0x07};
    case Carrier::Subpicture: return std::pair{'s', s.id & 0x1F};
    default: return std::nullopt;
  }
}

std::string boxName(char c, int slot) {
  if (c == 'v') return "video" + std::to_string(slot);
  return (c == 'a' ? "audio" : "sub") + std::string(slot < 10 ? "0" : "") + std::to_string(slot);
}

struct Case {
  std::vector<Stream> streams;
  Bytes evo;
  std::set<std::string> ticked;  // the boxes chosen
  bool allBoxes = false;         // no --streams: all that the read ticked
  int damaged = 0;               // packets whose PES_packet_length is 0xFFFF
  // The stream (marker) whose packet the file's end cuts short, if any.
  std::optional<std::uint8_t> cutMarker;
  std::string describe() const {
    std::ostringstream out;
    out << "streams (first seen first):";
    for (const Stream& s : streams) {
      char id[8];
      std::snprintf(id, sizeof id, "%02X", s.id);
      out << ' ' << (s.carrier == Carrier::Vc1 ? "FD." : s.substream() ? "BD." : "") << id << '['
          << (s.leftOut ? "left out" : s.box.empty() ? "no box" : s.box) << ", " << s.packets << " packets]";
    }
    out << "; boxes: ";
    if (allBoxes) out << "all";
    for (const std::string& b : ticked) out << b << ' ';
    out << "; " << damaged << " packets with length FFFF";
    if (cutMarker) out << "; last pack cut short (marker " << static_cast<int>(*cutMarker) << ')';
    return out.str();
  }
};

// Pools of ids by kind; pairs that meet in one slot or on one new id are
// added together often.
const std::vector<std::uint8_t> kAudio3 = {0x80, 0x81, 0x83, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8D, 0x8F,
                                           0xC0, 0xC1, 0xC2, 0xC5, 0xC8, 0xC9, 0xCF};
const std::vector<std::uint8_t> kLpcm = {0xA0, 0xA1, 0xA2, 0xA5, 0xA7};
const std::vector<std::uint8_t> kTrueHd = {0xB0, 0xB2, 0xB5};
const std::vector<std::uint8_t> kSubpicture = {0x20, 0x21, 0x22, 0x2F, 0x31, 0x60, 0x61, 0x62, 0x6F};
const std::vector<std::vector<std::uint8_t>> kMeetings = {
    {0x80, 0x88}, {0x8D, 0xA5}, {0xA2, 0xB2}, {0x8F, 0x88}, {0xA2, 0xA1}, {0xC0, 0xC1, 0xC2}, {0x20, 0x60}, {0x21, 0x61}};

Carrier substreamCarrier(std::uint8_t id) {
  if (id >= 0xA0 && id <= 0xA7) return Carrier::Lpcm;
  if (id >= 0xB0 && id <= 0xB7) return Carrier::TrueHd;
  if ((id & 0xE0) == 0x20 || (id & 0xE0) == 0x60) return Carrier::Subpicture;
  if ((id >= 0x80 && id <= 0x8F) || (id >= 0xC0 && id <= 0xCF)) return Carrier::Audio3;
  return Carrier::Other;
}

Case generate(std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  const auto below = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  const auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
  Case c;
  std::set<std::uint8_t> substreams, streamIds;
  std::vector<Stream> list;
  const auto addSubstream = [&](std::uint8_t id) {
    if (substreams.insert(id).second) list.push_back({substreamCarrier(id), id, 0, {}});
  };
  const auto addStream = [&](Carrier carrier, std::uint8_t id) {
    if (streamIds.insert(id).second) list.push_back({carrier, id, 0, {}});
  };

  // Video: MPEG-2 or H.264 and VC-1 meet in slots 0 and 1; VC-1 57 no box holds.
  const std::vector<std::pair<Carrier, std::uint8_t>> video = {
      {Carrier::MpegVideo, 0xE0}, {Carrier::MpegVideo, 0xE1}, {Carrier::MpegVideo, 0xE2},
      {Carrier::Vc1, 0x55},       {Carrier::Vc1, 0x56},       {Carrier::Vc1, 0x57}};
  for (std::size_t n = below(3); n > 0; --n) {
    const auto& [carrier, id] = video[below(video.size())];
    addStream(carrier, id);
  }
  for (const auto& meeting : kMeetings)
    if (chance(20))
      for (const std::uint8_t id : meeting) addSubstream(id);
  const std::size_t extra = 1 + below(12);
  for (std::size_t n = 0; n < extra; ++n) {
    switch (below(6)) {
      case 0: case 1: addSubstream(kAudio3[below(kAudio3.size())]); break;
      case 2: addSubstream(chance(50) ? kLpcm[below(kLpcm.size())] : kTrueHd[below(kTrueHd.size())]); break;
      case 3: case 4: addSubstream(kSubpicture[below(kSubpicture.size())]); break;
      default:
        if (chance(50))
          addStream(Carrier::MpegAudio, static_cast<std::uint8_t>(0xC0 + below(32)));
        else
          addSubstream(std::vector<std::uint8_t>{0x90, 0x9F, 0xA8, 0xAF, 0xB8, 0xBF}[below(6)]);
    }
  }
  std::shuffle(list.begin(), list.end(), rng);

  // Boxes, in the order the streams are first seen.
  std::set<std::string> owned;
  for (std::size_t k = 0; k < list.size(); ++k) {
    Stream& s = list[k];
    s.marker = static_cast<std::uint8_t>(0x11 + k);
    s.leftOut = s.carrier == Carrier::Vc1 && s.id > 0x56;
    const auto slot = slotOf(s);
    if (!slot) continue;
    const bool boxed = slot->second < (slot->first == 'v' ? 2 : 16);
    if (!boxed) continue;
    const std::string box = boxName(slot->first, slot->second);
    if (owned.insert(box).second)
      s.box = box;
    else
      s.leftOut = true;
  }

  // Packs: each stream's first pack in that order, then the rest at random,
  // with navigation packs between them.
  std::vector<std::size_t> order;
  for (std::size_t k = 0; k < list.size(); ++k) order.push_back(k);
  const std::size_t more = list.size() * (1 + below(4));
  std::vector<std::size_t> rest;
  for (std::size_t n = 0; n < more; ++n) rest.push_back(below(list.size()));
  order.insert(order.end(), rest.begin(), rest.end());

  PsBuilder b;
  int audioBound = 0, videoBound = 0;
  for (const Stream& s : list) {
    if (s.box.rfind("audio", 0) == 0) ++audioBound;
    if (s.box.rfind("video", 0) == 0) ++videoBound;
  }
  const auto nav = [&] {
    b.packHeader().systemHeader(audioBound, videoBound, {0xBD, 0xE0}).privateStream2(pattern(980, 1)).finishPack();
  };
  // One packet of stream s with a payload of `size` bytes, added to what its
  // demux output holds; returns where the payload begins.
  const auto emit = [&](Stream& s, std::size_t size) {
    const int seq = s.packets++;
    // The marker, a sequence byte, then bytes that are never zero (no start
    // codes inside a payload).
    Bytes payload(size);
    payload[0] = s.marker;
    payload[1] = static_cast<std::uint8_t>(1 + seq % 255);
    for (std::size_t i = 2; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(1 + rng() % 255);
    std::optional<std::uint64_t> pts;
    if (seq == 0) pts = kStartPts;
    else if (chance(30)) pts = kStartPts + 3000 * static_cast<std::uint64_t>(seq);
    switch (s.carrier) {
      case Carrier::MpegVideo: case Carrier::MpegAudio: b.pes(s.id, payload, {.pts = pts}); break;
      case Carrier::Vc1: b.vc1(payload, pts, {}, s.id); break;
      case Carrier::Audio3: case Carrier::Other: b.ac3(s.id, payload, pts); break;
      case Carrier::Lpcm: b.lpcm(s.id, payload, pts); break;
      case Carrier::TrueHd: b.trueHd(s.id, payload, pts); break;
      case Carrier::Subpicture: {
        // One whole unit per packet, its size in its first two bytes, and
        // a time stamp on each, so that each is one record.
        pts = kStartPts + 3000 * static_cast<std::uint64_t>(seq);
        Bytes unit = {static_cast<std::uint8_t>((payload.size() + 2) >> 8),
                      static_cast<std::uint8_t>(payload.size() + 2)};
        unit.insert(unit.end(), payload.begin(), payload.end());
        payload = unit;
        b.subpicture(s.id, payload, pts);
        const Bytes header = {'S', 'P', 0, 0, 0, 0, 0, 0, 0, 0};
        s.content.insert(s.content.end(), header.begin(), header.end());
        break;
      }
    }
    s.content.insert(s.content.end(), payload.begin(), payload.end());
    return b.size() - payload.size();
  };
  // Kinds whose demux output is the payloads as they are, byte for byte,
  // whatever their lengths: a packet of these may be damaged or cut.
  const auto plain = [](const Stream& s) { return s.carrier != Carrier::Subpicture && s.carrier != Carrier::Lpcm; };
  // A pack header, perhaps with stuffing, perhaps a padding packet after it.
  const auto layout = [&] {
    b.packHeader(0, 25200, chance(25) ? static_cast<std::uint8_t>(1 + below(7)) : 0);
    if (chance(25)) b.padding(6 + below(40));
  };
  const bool damaging = chance(25);
  nav();
  for (std::size_t n = 0; n < order.size(); ++n) {
    if (n > 0 && chance(8)) nav();
    Stream& s = list[order[n]];
    const std::size_t packStart = b.size();
    layout();
    // After each stream's first pack (so that the read still finds every
    // stream), now and then a packet that fills its pack and says it runs on
    // past it, as a damaged length does.
    if (damaging && n >= list.size() && plain(s) && chance(15)) {
      const std::size_t packetStart = b.size();
      emit(s, 200);
      // The payload, at the packet's end, grows to the pack's end.
      Bytes bytes = b.bytes();
      Bytes more(packStart + 2048 - bytes.size());
      for (std::uint8_t& x : more) x = static_cast<std::uint8_t>(1 + rng() % 255);
      s.content.insert(s.content.end(), more.begin(), more.end());
      bytes.insert(bytes.end(), more.begin(), more.end());
      bytes[packetStart + 4] = 0xFF;
      bytes[packetStart + 5] = 0xFF;
      b = PsBuilder();
      b.raw(bytes);
      ++c.damaged;
      continue;
    }
    // A system header before the packet; or two or three packets in the pack,
    // of this stream or others.
    if (chance(8)) b.systemHeader(audioBound, videoBound, {0xBD, 0xE0});
    std::vector<std::size_t> inPack = {order[n]};
    if (n >= list.size() && chance(15))
      for (std::size_t k = 1 + below(2); k > 0 && n + 1 < order.size(); --k) inPack.push_back(order[++n]);
    const std::size_t share = 1700 / inPack.size();
    for (const std::size_t k : inPack) emit(list[k], 200 + below(share - 199));
    b.finishPack();
  }
  // Now and then a last pack that the file's end cuts inside its payload.
  if (chance(25)) {
    std::vector<std::size_t> candidates;
    for (std::size_t k = 0; k < list.size(); ++k)
      if (plain(list[k])) candidates.push_back(k);
    if (!candidates.empty()) {
      Stream& s = list[candidates[below(candidates.size())]];
      layout();
      const std::size_t size = 200 + below(1600);
      const std::size_t payloadAt = emit(s, size);
      const std::size_t keep = 2 + below(size - 2);  // the marker and sequence bytes stay
      s.content.resize(s.content.size() - (size - keep));
      Bytes bytes = b.bytes();
      bytes.resize(payloadAt + keep);
      b = PsBuilder();
      b.raw(bytes);
      c.cutMarker = s.marker;
    }
  }
  c.evo = b.bytes();
  c.streams = list;

  std::vector<std::string> boxes(owned.begin(), owned.end());
  if (boxes.empty() || chance(20)) {
    c.allBoxes = true;
    c.ticked = owned;
  } else {
    std::shuffle(boxes.begin(), boxes.end(), rng);
    boxes.resize(1 + below(boxes.size()));
    c.ticked.insert(boxes.begin(), boxes.end());
  }
  return c;
}

// A subpicture output with each record's time set to 0: the times measure
// from the earliest time stamp of the streams in the file, which a rebuild
// that drops streams may move.
Bytes zeroRecordTimes(Bytes data) {
  for (std::size_t at = 0; at + 12 <= data.size();) {
    if (data[at] != 'S' || data[at + 1] != 'P') break;
    std::fill(data.begin() + static_cast<std::ptrdiff_t>(at) + 2, data.begin() + static_cast<std::ptrdiff_t>(at) + 6, 0);
    at += 10 + (data[at + 10] << 8 | data[at + 11]);
  }
  return data;
}

// Every output in a folder, by content (subpicture record times zeroed).
std::multiset<Bytes> outputs(const std::string& folder, std::map<Bytes, std::string>& names) {
  std::multiset<Bytes> out;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    Bytes data = readFile(entry.path().string());
    if (name.find("Subpicture") != std::string::npos) data = zeroRecordTimes(data);
    names[data] = name;
    out.insert(data);
  }
  return out;
}

// Each packet of a program stream as (id space, id, first payload byte); the
// id space is 's' for stream ids and VC-1 extensions, 'b' for substreams.
struct Packet {
  char space;
  std::uint8_t id;
  std::uint8_t marker;
};

// A packet whose length runs past its pack ends with the pack; the last
// pack may be cut short.
std::vector<Packet> packetsOf(const Bytes& ps, std::string& error) {
  std::vector<Packet> out;
  for (std::size_t pack = 0; pack < ps.size(); pack += 2048) {
    const std::uint8_t* p = ps.data() + pack;
    const std::size_t size = std::min<std::size_t>(2048, ps.size() - pack);
    std::size_t at = 14 + (p[13] & 0x07);
    while (at + 9 <= size && p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1) {
      const std::uint8_t sid = p[at + 3];
      const std::size_t length = p[at + 4] << 8 | p[at + 5];
      const std::size_t payload = at + 9 + p[at + 8];
      const auto byteAt = [&](std::size_t k) { return k < size ? p[k] : std::uint8_t{0}; };
      if (sid == 0xBD) {
        const std::uint8_t sub = byteAt(payload);
        const Carrier carrier = substreamCarrier(sub);
        const std::size_t header = carrier == Carrier::Lpcm ? 6 : carrier == Carrier::TrueHd ? 4
                                   : carrier == Carrier::Subpicture ? 2 : 3;
        out.push_back({'b', sub, byteAt(payload + 1 + header)});
      } else if (sid == 0xFD) {
        out.push_back({'s', byteAt(payload - 1), byteAt(payload)});
      } else if ((sid >= 0xC0 && sid <= 0xEF)) {
        out.push_back({'s', sid, byteAt(payload)});
      } else if (sid != 0xBB && sid != 0xBE && sid != 0xBF) {
        error = "unexpected packet " + std::to_string(sid) + " in pack at " + std::to_string(pack);
      }
      at += 6 + length;
    }
  }
  return out;
}

// What a read of the file finds: streams in boxes by class ("video",
// "audio", "sub"), and how many it leaves out.
std::map<std::string, int> readBack(const std::string& path, std::string& error) {
  const ProcessResult r = runProcess({TARNWICK_CLI, "read", "--json", "--no-continue", "--no-details",
                                      "--no-count-frames", path});
  if (r.status != 0) {
    error = "read of the rebuilt file exits " + std::to_string(r.status) + ": " + r.err;
    return {};
  }
  // The report is ours: each stream in a box has a line "box": "audio03",
  // and a left-out stream an entry {"kind": ...} in "leftOut".
  std::map<std::string, int> out;
  for (std::size_t at = 0; (at = r.out.find("\"box\": \"", at)) != std::string::npos;) {
    at += 8;
    std::size_t end = at;
    while (end < r.out.size() && std::isalpha(static_cast<unsigned char>(r.out[end]))) ++end;
    ++out[r.out.substr(at, end - at)];
  }
  const std::size_t leftOut = r.out.find("\"leftOut\": [");
  if (leftOut == std::string::npos) error = "no leftOut list in the read report";
  else if (r.out.compare(leftOut + 12, 1, "]") != 0) ++out["leftOut"];
  return out;
}

std::string checkCase(const Case& c, const std::string& folder) {
  const std::string evo = folder + "/t.EVO";
  writeFile(evo, c.evo);
  for (const char* sub : {"demux", "rebuild", "rebuilt-demux"}) fs::create_directory(folder + "/" + sub);
  std::string streams;
  for (const std::string& box : c.ticked) streams += (streams.empty() ? "" : ",") + box;
  const auto cli = [&](const std::string& command, const std::string& out, const std::string& input, bool choose) {
    std::vector<std::string> args = {TARNWICK_CLI, command, "-o", out};
    if (choose) args.insert(args.end(), {"--streams", streams});
    args.push_back(input);
    return runProcess(args);
  };
  const bool choose = !c.allBoxes;
  const ProcessResult demux = cli("demux", folder + "/demux", evo, choose);
  if (demux.status != 0) return "demux of the source exits " + std::to_string(demux.status) + ": " + demux.err;
  const ProcessResult rebuild = cli("rebuild", folder + "/rebuild", evo, choose);
  if (rebuild.status != 0) return "rebuild exits " + std::to_string(rebuild.status) + ": " + rebuild.err;
  const std::string rebuilt = folder + "/rebuild/t.rebuilt.EVO";
  const ProcessResult again = cli("demux", folder + "/rebuilt-demux", rebuilt, false);
  if (again.status != 0) return "demux of the rebuilt file exits " + std::to_string(again.status) + ": " + again.err;

  std::ostringstream failures;
  const std::string logs = "\n--- rebuild log:\n" + rebuild.out + "--- demux log of the rebuilt file:\n" + again.out;

  // What each demux must write: the contents of the kept streams.
  std::multiset<Bytes> expected;
  std::map<std::uint8_t, const Stream*> byMarker;
  std::map<std::string, int> keptByClass;
  for (const Stream& s : c.streams) {
    byMarker[s.marker] = &s;
    if (!s.box.empty() && c.ticked.count(s.box) != 0) {
      expected.insert(s.content);
      ++keptByClass[s.box.substr(0, s.box.find_first_of("0123456789"))];
    }
  }
  const auto compare = [&](const char* what, const std::string& out) {
    std::map<Bytes, std::string> names;
    const std::multiset<Bytes> got = outputs(out, names);
    if (got == expected) return;
    failures << what << " writes " << got.size() << " outputs, expected " << expected.size() << ":";
    for (const Bytes& data : got)
      if (expected.count(data) == 0)
        failures << ' ' << names[data] << " (" << data.size() << " bytes, first marker "
                 << (data.empty() ? 0 : static_cast<int>(data[data[0] == 'S' ? 12 : 0])) << ") matches no stream;";
    for (const Bytes& data : expected)
      if (got.count(data) == 0)
        failures << " the stream of marker " << static_cast<int>(data[data[0] == 'S' ? 12 : 0]) << " ("
                 << data.size() << " bytes) is in no output;";
    failures << '\n';
  };
  // Demux ends a packet whose length runs on past its pack with the pack,
  // so damaged lengths spoil neither demux.
  compare("demux of the source", folder + "/demux");
  compare("demux of the rebuilt file", folder + "/rebuilt-demux");

  // Read back, the rebuilt file has each kept stream in a box of its own.
  std::string readError;
  std::map<std::string, int> found = readBack(rebuilt, readError);
  if (!readError.empty()) failures << readError << '\n';
  if (found.count("leftOut") != 0) failures << "the read of the rebuilt file leaves " << found["leftOut"] << " out\n";
  found.erase("leftOut");
  if (found != keptByClass) {
    failures << "the read of the rebuilt file finds";
    for (const auto& [box, n] : found) failures << ' ' << n << ' ' << box;
    failures << "; kept:";
    for (const auto& [box, n] : keptByClass) failures << ' ' << n << ' ' << box;
    failures << '\n';
  }

  // The rebuilt file, packet by packet.
  std::string error;
  const std::vector<Packet> packets = packetsOf(readFile(rebuilt), error);
  if (!error.empty()) failures << "rebuilt file: " << error << '\n';
  std::map<std::pair<char, std::uint8_t>, std::set<std::uint8_t>> markersById;
  std::map<std::uint8_t, std::set<std::pair<char, std::uint8_t>>> idsByMarker;
  std::map<std::uint8_t, int> count;
  for (const Packet& p : packets) {
    markersById[{p.space, p.id}].insert(p.marker);
    idsByMarker[p.marker].insert({p.space, p.id});
    ++count[p.marker];
  }
  for (const auto& [id, markers] : markersById)
    if (markers.size() > 1) {
      failures << "id " << id.first << std::hex << static_cast<int>(id.second) << std::dec << " carries markers";
      for (const std::uint8_t m : markers) failures << ' ' << static_cast<int>(m);
      failures << '\n';
    }
  for (const auto& [marker, ids] : idsByMarker)
    if (ids.size() > 1) {
      failures << "marker " << static_cast<int>(marker) << " is on " << ids.size() << " ids:";
      for (const auto& id : ids) failures << ' ' << id.first << std::hex << static_cast<int>(id.second) << std::dec;
      failures << '\n';
    }
  bool cutKept = false;
  for (const Stream& s : c.streams) {
    // Kept: a stream in a ticked box, and one that no box holds and Read EVO
    // did not leave out (copied, perhaps under a new id).
    const bool kept = !s.leftOut && (s.box.empty() || c.ticked.count(s.box) != 0);
    if (kept && c.cutMarker == s.marker) cutKept = true;
    const int want = kept ? s.packets : 0;
    if (count[s.marker] != want)
      failures << "marker " << static_cast<int>(s.marker) << " (id " << std::hex << static_cast<int>(s.id) << std::dec
               << "): " << count[s.marker] << " packets in the rebuilt file, expected " << want << '\n';
  }
  for (const auto& [marker, n] : count)
    if (byMarker.count(marker) == 0) failures << n << " packets with the unknown marker " << static_cast<int>(marker) << '\n';
  // The cut last pack: kept, with a line, when its stream is.
  const bool cutLogged = rebuild.out.find("is cut short") != std::string::npos;
  if (cutLogged != cutKept)
    failures << "the cut last pack is " << (cutKept ? "kept" : "dropped") << " but the rebuild log "
             << (cutLogged ? "says it is cut short" : "does not say so") << '\n';

  return failures.str().empty() ? "" : failures.str() + logs;
}

std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::strtoull(value, nullptr, 10) : fallback;
}

TEST(RebuildProperty, DemuxOfTheRebuiltFileEqualsDemuxOfTheSource) {
  const std::uint64_t seed = envNumber("TARNWICK_PROPERTY_SEED", 1);
  const std::uint64_t seconds = envNumber("TARNWICK_PROPERTY_SECONDS", 0);
  const std::uint64_t cases = envNumber("TARNWICK_PROPERTY_CASES", seconds > 0 ? UINT64_MAX : 30);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::uint64_t ran = 0, failed = 0;
  for (std::uint64_t k = 0; k < cases; ++k) {
    if (seconds > 0 && std::chrono::steady_clock::now() >= end) break;
    const Case c = generate(seed + k);
    // Nothing in a box: demux refuses the file ("Nothing to demux"), as it should.
    if (c.ticked.empty()) continue;
    TempDir dir;
    const std::string failure = checkCase(c, dir.path().string());
    ++ran;
    if (!failure.empty()) {
      ++failed;
      ADD_FAILURE() << "case seed " << seed + k << " (again: TARNWICK_PROPERTY_SEED=" << seed + k
                    << " TARNWICK_PROPERTY_CASES=1)\n" << c.describe() << '\n' << failure;
      if (failed >= 5) break;
    }
  }
  std::cout << ran << " cases from seed " << seed << ", " << failed << " failed\n";
  EXPECT_GT(ran, 0u);
}

}  // namespace
}  // namespace tarnwick::test
