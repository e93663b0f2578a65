#include "rebuild/rebuild.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "analysers/number_format.h"
#include "engine/file_io.h"
#include "engine/input_scope.h"
#include "engine/run_steps.h"
#include "engine/stream_ids.h"

namespace tarnwick {
namespace {

constexpr std::int64_t kProgressInterval = 0x400000;  // 4 MiB
// Runs of unchanged packs at least this long are copied by the kernel. Each
// copy hands over the output's partly filled buffer; shorter runs cost less
// through that buffer (measured: 32 KiB runs double the CPU time).
constexpr std::size_t kKernelCopyRun = kPackBufferSize / 2;

// The MPEG-2 pack header: 14 bytes, the last three bits of its last byte
// being pack_stuffing_length (ISO/IEC 13818-1 2.5.3.3).
constexpr std::size_t kPackHeaderSize = 14;
// Offsets from a packet's start code: its stream id, PES_packet_length, the
// second flag byte and PES_header_data_length; the first byte after that.
constexpr std::size_t kStreamIdAt = 3;
constexpr std::size_t kPacketLengthAt = 4;
constexpr std::size_t kFlagsAt = 7;
constexpr std::size_t kHeaderLengthAt = 8;
constexpr std::size_t kHeaderDataAt = 9;
// From a system header's start code: audio_bound (bits 7-2) and video_bound
// (bits 4-0).
constexpr std::size_t kAudioBoundAt = 9;
constexpr std::size_t kVideoBoundAt = 10;

// How a kind of stream is looked up and renumbered: the n-th kept stream of
// its class becomes first + n, while n < count.
struct Kind {
  bool known = false;
  // Dolby Digital Plus C0-C8, DTS, subpicture 20-2F, VC-1, MPEG video and
  // audio: a stream of these in no slot counts as ticked and is renumbered.
  // Other kinds are renumbered only when a box holds them, and only onto an
  // id no other kept stream carries.
  bool unboxedRenumbered = false;
  StreamClass streamClass = StreamClass::Audio;
  std::uint8_t first = 0;
  std::uint8_t count = 0;
  // MPEG audio has no box: the slot tables hold substream ids only.
  bool boxed = true;
};

constexpr Kind renumbered(StreamClass c, std::uint8_t first, std::uint8_t count, bool boxed = true) {
  return {true, true, c, first, count, boxed};
}

// The rule for an id of a kind: its class's run of ids is the kind's slotted
// ids; ids of the kind in no slot (VC-1 beyond the boxes) are not renumbered.
Kind rebuildKind(const StreamKindRow* row, std::uint8_t id) {
  if (row == nullptr) return {};
  // MPEG audio has no slots: C0-CF is one run of 32, D0-DF runs of 8.
  if (row->kind == StreamKind::MpegAudio)
    return id <= 0xCF ? renumbered(StreamClass::Audio, 0xC0, 32, false)
                      : renumbered(StreamClass::Audio, id & 0xF8, 8, false);
  if (slotIn(*row, id) < 0) return {};
  return {true, id <= row->renumberedUpTo, row->streamClass, row->first, row->slotCount, true};
}

// The ids of one id space, what became of them, and which of them the scans
// left out.
struct IdSpace {
  std::array<std::uint8_t, 256>& map;
  std::array<RebuildState::Fate, 256>& fate;
  std::array<bool, 256>& held;
  const std::array<bool, 256>& leftOut;
  bool substreams;
};


// The kind of a stream of either id space (stream ids and VC-1's
// extensions share one) as the log names it.
const StreamKindRow* rowOf(std::uint8_t id, bool substream) {
  if (substream) return kindOf(IdField::Substream, id);
  const StreamKindRow* row = kindOf(IdField::StreamId, id);
  return row != nullptr ? row : kindOf(IdField::Extension, id);
}

std::string kindWord(std::uint8_t id, bool substream) {
  if (const StreamKindRow* row = rowOf(id, substream)) return row->logName;
  return kindRow(substream ? StreamKind::Lpcm : StreamKind::Vc1Video).logName;
}

// Where a stream of this id lands when the rebuilt file is read: the box
// slot of its class (subpictures 16-31 have a slot but no box), or none.
std::optional<StreamSlot> outputSlotOf(std::uint8_t id, bool substream) {
  const StreamKindRow* row = rowOf(id, substream);
  if (row == nullptr || slotIn(*row, id) < 0) return std::nullopt;
  return StreamSlot{row->streamClass, slotIn(*row, id)};
}

const char* classWord(StreamClass c) {
  return c == StreamClass::Video ? "video" : c == StreamClass::Audio ? "audio" : "subpicture";
}

class PackRebuilder {
 public:
  PackRebuilder(RebuildState& r, const ScanState& s, const StreamSelection& sel) : r_(r), s_(s), sel_(sel) {}

  PackResult pack(std::uint8_t* p, std::size_t length);
  // Whether the last pack's last packet says it runs past the pack's end.
  bool ranOn() const { return ranOn_; }

 private:
  PackResult settle(std::uint8_t& idByte, const Kind& kind, IdSpace space);
  void decide(std::uint8_t id, const Kind& kind, IdSpace space);
  // The id a kept stream is written with: first + from if that is free,
  // else the next free one up the kind's range, else the stream's own id,
  // else the first free one from the range's start. Free: no kept stream
  // carries it and its box slot in the rebuilt file is empty.
  std::optional<std::uint8_t> place(std::uint8_t id, const Kind& kind, int from, const IdSpace& space) const;
  bool isFree(std::uint8_t candidate, const IdSpace& space) const;
  bool leavesRoom(std::uint8_t candidate, std::uint8_t id, const IdSpace& space) const;
  void note(const std::string& line) const {
    if (r_.log != nullptr) r_.log->log(line);
  }
  PackResult packet(std::uint8_t* p, std::size_t room);
  // The box slot of the class whose table holds id, or -1.
  int slotOf(StreamClass c, std::uint8_t id) const;
  bool ticked(StreamClass c, int slot) const;
  std::uint8_t& next(StreamClass c);
  PackResult systemHeader(std::uint8_t* p) const;

  IdSpace streams() { return {r_.StreamIdMap, r_.streamFate, r_.streamHeld, s_.leftOutStreamIds, false}; }
  IdSpace substreams() {
    return {r_.SubstreamIdMap, r_.substreamFate, r_.substreamHeld, s_.leftOutSubstreamIds, true};
  }

  RebuildState& r_;
  const ScanState& s_;
  const StreamSelection& sel_;
  bool ranOn_ = false;
};

int PackRebuilder::slotOf(StreamClass c, std::uint8_t id) const {
  const int count = c == StreamClass::Video ? kVideoOutputs : c == StreamClass::Audio ? kAudioOutputs : kSubpictureOutputs;
  for (int k = 0; k < count; ++k)
    if (s_.slot({c, k}).id == id) return k;
  return -1;
}

bool PackRebuilder::ticked(StreamClass c, int slot) const { return sel_.isChosen({c, slot}); }

std::uint8_t& PackRebuilder::next(StreamClass c) {
  switch (c) {
    case StreamClass::Video: return r_.NextVideoNumber;
    case StreamClass::Audio: return r_.NextAudioNumber;
    default: return r_.NextSubpictureNumber;
  }
}

bool PackRebuilder::isFree(std::uint8_t candidate, const IdSpace& space) const {
  if (space.held[candidate]) return false;
  const std::optional<StreamSlot> slot = outputSlotOf(candidate, space.substreams);
  return !slot || !r_.slotHeld(*slot);
}

// Dolby Digital, DTS, LPCM and Dolby TrueHD can only take audio slots 0-7;
// Dolby Digital Plus can take 8-15 as well. A Dolby Digital Plus stream
// takes one of 0-7 only while that leaves one for each stream of those kinds
// that the boxes still hold and that has not come yet, so nine or more audio
// streams all find a box (a stream the read did not list cannot be foreseen).
bool PackRebuilder::leavesRoom(std::uint8_t candidate, std::uint8_t id, const IdSpace& space) const {
  if (!space.substreams || audioKindOf(candidate) != AudioKind::DolbyDigitalPlus) return true;
  const int slot = audioSlotOf(AudioKind::DolbyDigitalPlus, candidate);
  if (slot >= 8) return true;
  int freeLow = 0;
  for (int k = 0; k < 8; ++k) freeLow += r_.slotHeld({StreamClass::Audio, k}) ? 0 : 1;
  int toCome = 0;
  for (int k = 0; k < kAudioOutputs; ++k) {
    const std::int32_t owner = s_.slot({StreamClass::Audio, k}).id;
    if (owner < 0 || owner > 0xFF || owner == id || !ticked(StreamClass::Audio, k)) continue;
    const auto other = static_cast<std::uint8_t>(owner);
    const std::optional<AudioKind> kind = audioKindOf(other);
    if (!kind || *kind == AudioKind::DolbyDigitalPlus) continue;
    if (s_.leftOutSubstreamIds[other] || r_.substreamFate[other] != RebuildState::Fate::Undecided) continue;
    ++toCome;
  }
  return freeLow - 1 >= toCome;
}

std::optional<std::uint8_t> PackRebuilder::place(std::uint8_t id, const Kind& kind, int from,
                                                 const IdSpace& space) const {
  std::array<std::uint8_t, 2 * 32 + 1> order{};
  std::size_t n = 0;
  for (int k = from; k < kind.count; ++k) order[n++] = static_cast<std::uint8_t>(kind.first + k);
  order[n++] = id;
  for (int k = 0; k < std::min<int>(from, kind.count); ++k) order[n++] = static_cast<std::uint8_t>(kind.first + k);
  // First with the room left for the streams still to come, then without:
  // the stream at hand is not left out for one that may never come.
  for (const bool reserving : {true, false})
    for (std::size_t i = 0; i < n; ++i)
      if (isFree(order[i], space) && (!reserving || leavesRoom(order[i], id, space))) return order[i];
  return std::nullopt;
}

// The first pack of a stream decides it for the whole command: the boxes and
// slot tables do not change while the command runs. No two source streams
// ever share an id or a box in the output: a new id is one no kept stream
// carries, in a slot no kept stream fills, and a stream for which there is
// none is left out with a line that says so.
void PackRebuilder::decide(std::uint8_t id, const Kind& kind, IdSpace space) {
  using Fate = RebuildState::Fate;
  const int slot = kind.boxed ? slotOf(kind.streamClass, id) : -1;
  if (slot >= 0 && !ticked(kind.streamClass, slot)) {
    space.fate[id] = Fate::Drop;
    return;
  }
  const std::string name = kindWord(id, space.substreams) + " stream " + formatHex(id, 2);
  // Renumbered kinds take the class's next number; a stream of the other
  // kinds that no box holds is copied as it is, id included, if it can be.
  const int from = slot >= 0 || kind.unboxedRenumbered ? next(kind.streamClass)++ : kind.count;
  const std::optional<std::uint8_t> newId = place(id, kind, from, space);
  if (!newId) {
    space.fate[id] = Fate::Drop;
    const std::optional<StreamSlot> own = outputSlotOf(id, space.substreams);
    note(name + " is left out: the rebuilt file has no free " +
         (own ? std::string(classWord(own->streamClass)) + " slot" : std::string("id")) + " for it.");
    return;
  }
  space.fate[id] = Fate::Keep;
  space.map[id] = *newId;
  space.held[*newId] = true;
  if (const std::optional<StreamSlot> taken = outputSlotOf(*newId, space.substreams)) r_.slotHeld(*taken) = true;
  if (*newId != id) note(name + " is written as " + formatHex(*newId, 2) + ".");
}

PackResult PackRebuilder::settle(std::uint8_t& idByte, const Kind& kind, IdSpace space) {
  const std::uint8_t id = idByte;
  // Read EVO left it out: it shares a slot, or no box holds it.
  if (space.leftOut[id]) return PackResult::Drop;
  if (!kind.known) return PackResult::Keep;
  if (space.fate[id] == RebuildState::Fate::Undecided) decide(id, kind, space);
  if (space.fate[id] == RebuildState::Fate::Drop) return PackResult::Drop;
  const std::uint8_t newId = space.map[id];
  if (newId == kNoId || newId == id) return PackResult::Keep;
  idByte = newId;
  return PackResult::Changed;
}

PackResult PackRebuilder::systemHeader(std::uint8_t* p) const {
  const auto audioBound = static_cast<std::uint8_t>((p[kAudioBoundAt] & 0x03) | (sel_.count(StreamClass::Audio) << 2));
  const auto videoBound = static_cast<std::uint8_t>((p[kVideoBoundAt] & 0xE0) | (sel_.count(StreamClass::Video) & 0x1F));
  if (audioBound == p[kAudioBoundAt] && videoBound == p[kVideoBoundAt]) return PackResult::Keep;
  p[kAudioBoundAt] = audioBound;
  p[kVideoBoundAt] = videoBound;
  return PackResult::Changed;
}

// A packet of a stream left out, inside a pack that stays: padding of the
// same length, so the pack keeps its size and its other packets.
void makePadding(std::uint8_t* p, std::size_t length) {
  const std::size_t payload = length - kPacketLengthAt - 2;
  p[kStreamIdAt] = kPaddingStreamId;
  p[kPacketLengthAt] = static_cast<std::uint8_t>(payload >> 8);
  p[kPacketLengthAt + 1] = static_cast<std::uint8_t>(payload);
  std::memset(p + kPacketLengthAt + 2, 0xFF, payload);
}

// Every packet of the pack is decided on its own: a pack is left out when
// each of its packets belongs to a stream left out (padding aside); in a
// pack that stays, such a packet becomes padding and every other one gets
// its stream's new id. A pack with a system header always stays, its bounds
// set from the boxes.
PackResult PackRebuilder::pack(std::uint8_t* p, std::size_t length) {
  ranOn_ = false;
  length = std::min(length, kPackSize);
  if (length < 4 || p[0] != 0x00 || p[1] != 0x00 || p[2] != 0x01 || p[3] != 0xBA) return PackResult::Skip;
  std::size_t at = kPackHeaderSize + (length >= kPackHeaderSize ? (p[kPackHeaderSize - 1] & 0x07) : 0);
  bool kept = false;
  bool changed = false;
  // Where the packets left out stand; made padding only if the pack stays.
  struct Span {
    std::uint16_t begin, end;
  };
  std::array<Span, kPackSize / 6> dropped;
  std::size_t drops = 0;
  while (at + kPacketLengthAt + 2 <= length && p[at] == 0x00 && p[at + 1] == 0x00 && p[at + 2] == 0x01) {
    const std::uint8_t sid = p[at + kStreamIdAt];
    // A PES_packet_length past the pack's end is damage: the packet is
    // taken to end with the pack.
    const std::size_t declaredEnd =
        at + kPacketLengthAt + 2 + (p[at + kPacketLengthAt] << 8 | p[at + kPacketLengthAt + 1]);
    const std::size_t end = std::min(declaredEnd, length);
    if (declaredEnd > kPackSize) ranOn_ = true;
    if (sid == kSystemHeaderId) {
      kept = true;
      if (at + kVideoBoundAt < end && systemHeader(p + at) == PackResult::Changed) changed = true;
    } else if (sid != kPaddingStreamId) {
      const PackResult result = packet(p + at, end - at);
      if (result == PackResult::Drop) {
        dropped[drops++] = {static_cast<std::uint16_t>(at), static_cast<std::uint16_t>(end)};
      } else {
        kept = true;
        if (result == PackResult::Changed) changed = true;
      }
    }
    at = end;
  }
  if (drops == 0) return changed ? PackResult::Changed : PackResult::Keep;
  if (!kept) return PackResult::Drop;
  for (std::size_t k = 0; k < drops; ++k) makePadding(p + dropped[k].begin, dropped[k].end - dropped[k].begin);
  return PackResult::Changed;
}

// One packet of the pack, `room` bytes to its end or the pack's.
PackResult PackRebuilder::packet(std::uint8_t* p, std::size_t room) {
  const std::uint8_t sid = p[kStreamIdAt];
  if (sid != kPrivateStream1Id && sid != kExtendedStreamIdId) return settle(p[kStreamIdAt], rebuildKind(kindOf(IdField::StreamId, sid), sid), streams());
  // A header cut short by the end of the file: no id to read.
  if (room <= kHeaderLengthAt) return PackResult::Keep;
  // Offsets read from the pack's own bytes must stay inside the packet
  // (PES_packet_length) and the pack; a packet that says otherwise is copied
  // as it is rather than read past its end.
  const std::size_t packetEnd =
      std::min<std::size_t>(room, kPacketLengthAt + 2 + (p[kPacketLengthAt] << 8 | p[kPacketLengthAt + 1]));
  const std::size_t headerEnd = std::min<std::size_t>(packetEnd, kHeaderDataAt + p[kHeaderLengthAt]);

  if (sid == kExtendedStreamIdId) {
    // ISO/IEC 13818-1 2.4.3.6: PTS, DTS, then the PES extension flags; of the
    // fields they announce only P-STD_buffer may come before
    // PES_extension_field_length and stream_id_extension.
    const std::uint8_t flags = p[kFlagsAt];
    if ((flags & 0x01) == 0) return PackResult::Keep;  // PES_extension_flag
    std::size_t at = kHeaderDataAt + 5 * ((flags >> 7) & 1) + 5 * ((flags >> 6) & 1);
    if (at >= headerEnd) return PackResult::Keep;
    const std::uint8_t extensionFlags = p[at];
    // PES_private_data, pack_header_field, program_packet_sequence_counter
    // would move the field; PES_extension_flag_2 must announce it.
    if ((extensionFlags & 0xE0) != 0 || (extensionFlags & 0x01) == 0) return PackResult::Keep;
    at += 1 + ((extensionFlags & 0x10) != 0 ? 2 : 0) + 1;  // flags, P-STD_buffer, PES_extension_field_length
    if (at >= headerEnd) return PackResult::Keep;
    // Other extensions have no renumbering rule; one that Read EVO left out
    // (a VC-1 stream no box holds) is dropped.
    return settle(p[at], rebuildKind(kindOf(IdField::Extension, p[at]), p[at]), streams());
  }
  const std::size_t at = headerEnd;  // the substream id: the first payload byte
  if (at >= packetEnd) return PackResult::Keep;
  return settle(p[at], rebuildKind(kindOf(IdField::Substream, p[at]), p[at]), substreams());
}

}  // namespace

void RebuildState::reset() {
  StreamIdMap.fill(kNoId);
  SubstreamIdMap.fill(kNoId);
  NextVideoNumber = NextAudioNumber = NextSubpictureNumber = 0;
  streamFate.fill(Fate::Undecided);
  substreamFate.fill(Fate::Undecided);
  streamHeld.fill(false);
  substreamHeld.fill(false);
  outputSlotHeld = {};
}

PackResult rebuildPack(std::uint8_t* pack, std::size_t length, RebuildState& rebuild, const ScanState& state,
                       const StreamSelection& selection) {
  return PackRebuilder(rebuild, state, selection).pack(pack, length);
}

namespace {

// A block that does not begin with a pack header, at `offset` of the file:
// a sign that the file's packs are not 2048 bytes long, when a pack header
// stands inside the block or the pack before it ran on into it. Then the
// offset of the next pack header (-1 when the block holds none); none for a
// block that is merely damaged.
std::optional<std::int64_t> misplacedPackHeader(const std::uint8_t* p, std::size_t length, std::int64_t offset,
                                                bool ranOn) {
  // By the 01 of each start code: a region of zeros (a file written only in
  // part) goes by at memchr's pace.
  const std::uint8_t* const end = p + length;
  for (const std::uint8_t* q = p + 3; q + 1 < end; ++q) {
    q = static_cast<const std::uint8_t*>(std::memchr(q, 0x01, static_cast<std::size_t>(end - 1 - q)));
    if (q == nullptr) break;
    if (q[-2] == 0x00 && q[-1] == 0x00 && q[1] == 0xBA) return offset + (q - 2 - p);
  }
  if (ranOn) return -1;
  return std::nullopt;
}

}  // namespace

void Rebuild(ScanState& state, RebuildState& rebuild, const StreamSelection& selection, RunReport& report) {
  CancellableScope cancellable(report);
  state.ExtractionRunning = true;
  state.scanStop = ScanStop::None;
  const auto start = std::chrono::steady_clock::now();

  InputFile& in = *state.InputStream;
  OutputFile& out = *state.VideoSlots[0].output;
  const std::string name = utf8FromPath(pathFromUtf8(in.path()).filename());
  std::uint8_t* const buf = state.PackBuffer.get();
  PackRebuilder packs(rebuild, state, selection);

  // A run of blocks without a pack header, logged once when it ends; and
  // whether the pack before said that its last packet runs on past it.
  std::int64_t strayAt = 0;
  std::int64_t strayBytes = 0;
  bool ranOn = false;
  const auto logStray = [&] {
    if (strayBytes == 0) return;
    report.log(name + ": no pack header at byte " + std::to_string(strayAt) + "; " + std::to_string(strayBytes) +
               " bytes left out.");
    strayBytes = 0;
  };

  // Packs are decided one by one inside each chunk; each run of kept packs
  // goes to the output at once.
  while (in.position() < in.size() && state.scanStop == ScanStop::None) {
    const std::size_t got = in.readChunk(buf, kPackBufferSize);
    const std::int64_t position = in.position();
    if (position % kProgressInterval == 0) {
      RunProgress p;
      p.position = position;
      p.size = in.size();
      p.elapsedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      p.task = "Rebuilding " + name;
      if (report.progressPoint(p)) state.scanStop = ScanStop::Cancelled;
    }
    const std::int64_t chunkStart = position - static_cast<std::int64_t>(got);
    // A long run of packs kept as they were read is copied by the kernel
    // from the input file; the rest goes through the output's buffer.
    const auto put = [&](std::size_t from, std::size_t to, bool asRead) {
      if (asRead && to - from >= kKernelCopyRun)
        out.writeCopyOf(buf + from, to - from, in, chunkStart + static_cast<std::int64_t>(from));
      else
        out.write(buf + from, to - from);
    };
    std::size_t runStart = 0;
    std::size_t runEnd = 0;
    bool runAsRead = true;
    for (std::size_t at = 0; at < got; at += kPackSize) {
      const std::size_t length = std::min(kPackSize, got - at);
      const std::int64_t offset = chunkStart + static_cast<std::int64_t>(at);
      const PackResult result = packs.pack(buf + at, length);
      if (result == PackResult::Skip) {
        if (const std::optional<std::int64_t> next = misplacedPackHeader(buf + at, length, offset, ranOn)) {
          put(runStart, runEnd, runAsRead);
          const std::string where =
              *next >= 0 ? " (the next one is at byte " + std::to_string(*next) + ")" : std::string();
          throw FileError("Cannot rebuild \"" + in.path() + "\". There is no pack header at byte " +
                          std::to_string(offset) + where + ": its packs are not 2048 bytes long.");
        }
        if (strayBytes == 0) strayAt = offset;
        strayBytes += static_cast<std::int64_t>(length);
        ranOn = false;
        continue;
      }
      logStray();
      ranOn = packs.ranOn();
      if (result != PackResult::Keep && result != PackResult::Changed) continue;
      if (length < kPackSize)
        report.log(name + ": the last pack, at byte " + std::to_string(offset) + ", is cut short (" +
                   std::to_string(length) + " of 2048 bytes); it is kept.");
      if (at != runEnd) {
        put(runStart, runEnd, runAsRead);
        runStart = at;
        runAsRead = true;
      }
      runEnd = at + length;
      runAsRead = runAsRead && result == PackResult::Keep;
    }
    put(runStart, runEnd, runAsRead);
  }
  logStray();
}

}  // namespace tarnwick

namespace tarnwick {

Outcome rebuildEvo(ScanState& state, const RunInput& input, const StreamSelection& selection,
                   const std::string& outputPath, RunReport& report) {
  return runCommand([&] {
    RebuildState rebuild;
    rebuild.log = &report;
    InputScope inputScope(state);
    openRunInput(state, input, report);
    refuseInputAsOutput(outputPath, input);
    state.VideoSlots[0].output.emplace(outputPath);
    report.log("Creating " + outputPath);
    writeOverInputs(state, input, "Rebuilding", report, [&] { Rebuild(state, rebuild, selection, report); });
    logDone(report);
    return state.scanStop == ScanStop::Cancelled ? Outcome::cancelled() : Outcome::done();
  });
}

}  // namespace tarnwick
