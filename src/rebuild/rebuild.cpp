#include "rebuild/rebuild.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "analysers/number_format.h"
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
constexpr Kind byBoxOnly(StreamClass c, std::uint8_t first, std::uint8_t count) {
  return {true, false, c, first, count, true};
}

Kind substreamKind(std::uint8_t id) {
  if (isSubpictureId(id)) {
    if (id <= 0x2F) return renumbered(StreamClass::Subpicture, 0x20, 32);
    if (id <= 0x3F) return byBoxOnly(StreamClass::Subpicture, 0x20, 32);  // no box holds these
    return byBoxOnly(StreamClass::Subpicture, 0x60, 32);                  // extended subpicture
  }
  const std::optional<AudioKind> kind = audioKindOf(id);
  if (!kind) return {};
  switch (*kind) {
    case AudioKind::DolbyDigitalPlus:
      return id <= 0xC8 ? renumbered(StreamClass::Audio, 0xC0, 16) : byBoxOnly(StreamClass::Audio, 0xC0, 16);
    case AudioKind::Dts: return renumbered(StreamClass::Audio, 0x88, 8);
    case AudioKind::DolbyDigital: return byBoxOnly(StreamClass::Audio, 0x80, 8);
    case AudioKind::Lpcm: return byBoxOnly(StreamClass::Audio, 0xA0, 8);
    case AudioKind::TrueHd: return byBoxOnly(StreamClass::Audio, 0xB0, 8);
  }
  return {};
}

Kind streamKind(std::uint8_t id) {
  if (isMpegVideoId(id)) return renumbered(StreamClass::Video, id & 0xFE, 2);  // MPEG-2, H.264
  if (!isMpegAudioId(id)) return {};
  return id <= 0xCF ? renumbered(StreamClass::Audio, 0xC0, 32, false) : renumbered(StreamClass::Audio, id & 0xF8, 8, false);
}

constexpr Kind kVc1 = renumbered(StreamClass::Video, kVc1ExtensionFirst, 2);

// The ids of one id space, what became of them, and which of them the scans
// left out.
struct IdSpace {
  std::array<std::uint8_t, 256>& map;
  std::array<RebuildState::Fate, 256>& fate;
  std::array<bool, 256>& held;
  const std::array<bool, 256>& leftOut;
  bool substreams;
};


// The kind of a stream as the log names it.
std::string kindWord(std::uint8_t id, bool substream) {
  if (!substream) {
    if (isMpegVideoId(id)) return isH264Id(id) ? "H.264 video" : "MPEG-2 video";
    if (isMpegAudioId(id)) return "MPEG audio";
    return "VC-1 video";
  }
  if (isSubpictureId(id)) return "Subpicture";
  switch (audioKindOf(id).value_or(AudioKind::Lpcm)) {
    case AudioKind::DolbyDigital: return "Dolby Digital";
    case AudioKind::Dts: return "DTS";
    case AudioKind::DolbyDigitalPlus: return "Dolby Digital Plus";
    case AudioKind::TrueHd: return "Dolby TrueHD";
    case AudioKind::Lpcm: return "LPCM";
  }
  return "LPCM";
}

class PackRebuilder {
 public:
  PackRebuilder(RebuildState& r, const ScanState& s, const StreamSelection& sel) : r_(r), s_(s), sel_(sel) {}

  PackResult pack(std::uint8_t* p, std::size_t length);

 private:
  PackResult settle(std::uint8_t& idByte, const Kind& kind, IdSpace space);
  void decide(std::uint8_t id, const Kind& kind, IdSpace space);
  // The first id of the kind's range from first + n on that no kept stream
  // carries yet; none when all are taken.
  static std::optional<std::uint8_t> freeId(const Kind& kind, int n, const IdSpace& space);
  void note(const std::string& line) const {
    if (r_.log != nullptr) r_.log->log(line);
  }
  PackResult packet(std::uint8_t* p, std::size_t at);
  // The box slot of the class whose table holds id, or -1.
  int slotOf(StreamClass c, std::uint8_t id) const;
  bool ticked(StreamClass c, int slot) const;
  std::uint8_t& next(StreamClass c);
  PackResult systemHeader(std::uint8_t* p) const;

  IdSpace streams() { return {r_.StreamIdMap, r_.streamFate, r_.streamHeld, s_.LeftOutStreamIds, false}; }
  IdSpace substreams() {
    return {r_.SubstreamIdMap, r_.substreamFate, r_.substreamHeld, s_.LeftOutSubstreamIds, true};
  }

  RebuildState& r_;
  const ScanState& s_;
  const StreamSelection& sel_;
};

int PackRebuilder::slotOf(StreamClass c, std::uint8_t id) const {
  const int count = c == StreamClass::Video ? kVideoOutputs : c == StreamClass::Audio ? kAudioOutputs : kSubpictureOutputs;
  for (int k = 0; k < count; ++k)
    if (s_.slotId({c, k}) == id) return k;
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

std::optional<std::uint8_t> PackRebuilder::freeId(const Kind& kind, int n, const IdSpace& space) {
  for (int k = n; k < kind.count; ++k) {
    const auto candidate = static_cast<std::uint8_t>(kind.first + k);
    if (!space.held[candidate]) return candidate;
  }
  return std::nullopt;
}

// The first pack of a stream decides it for the whole command: the boxes and
// slot tables do not change while the command runs. No two source streams
// ever share an id in the output: a new id is one no kept stream carries,
// and a stream whose own id is taken moves to a free one or is left out.
void PackRebuilder::decide(std::uint8_t id, const Kind& kind, IdSpace space) {
  using Fate = RebuildState::Fate;
  const int slot = kind.boxed ? slotOf(kind.streamClass, id) : -1;
  if (slot >= 0 && !ticked(kind.streamClass, slot)) {
    space.fate[id] = Fate::Drop;
    return;
  }
  const std::string name = kindWord(id, space.substreams) + " stream " + formatHex(id, 2);
  std::optional<std::uint8_t> newId;
  if (slot >= 0 || kind.unboxedRenumbered) {
    // A number past the kind's range would spill into another kind's ids
    // (or make 0xFF): the stream keeps its id then, if no one has it.
    const std::uint8_t n = next(kind.streamClass)++;
    newId = freeId(kind, n, space);
    if (!newId && !space.held[id]) {
      newId = id;
      note(name + " keeps its id: no free id fits.");
    }
  } else if (!space.held[id]) {
    // No box and no rule: copied as it is, id included.
    newId = id;
  } else {
    newId = freeId(kind, 0, space);
  }
  if (!newId) {
    space.fate[id] = Fate::Drop;
    note(name + " is left out: its id is taken and no free id fits.");
    return;
  }
  space.fate[id] = Fate::Keep;
  space.map[id] = *newId;
  space.held[*newId] = true;
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

PackResult PackRebuilder::pack(std::uint8_t* p, std::size_t length) {
  if (length < kPackSize || p[0] != 0x00 || p[1] != 0x00 || p[2] != 0x01 || p[3] != 0xBA) return PackResult::Skip;
  // The first packet follows the pack header and its stuffing; a padding
  // packet before it leaves the decision to the packet after it.
  std::size_t at = kPackHeaderSize + (p[kPackHeaderSize - 1] & 0x07);
  while (at + kHeaderDataAt <= kPackSize && p[at] == 0x00 && p[at + 1] == 0x00 && p[at + 2] == 0x01) {
    const std::uint8_t sid = p[at + kStreamIdAt];
    if (sid == kSystemHeaderId) return at + kVideoBoundAt < kPackSize ? systemHeader(p + at) : PackResult::Keep;
    if (sid != kPaddingStreamId) return packet(p + at, kPackSize - at);
    at += kPacketLengthAt + 2 + (p[at + kPacketLengthAt] << 8 | p[at + kPacketLengthAt + 1]);
  }
  return PackResult::Keep;
}

// The first packet of the pack that is not padding, `room` bytes to the
// pack's end.
PackResult PackRebuilder::packet(std::uint8_t* p, std::size_t room) {
  const std::uint8_t sid = p[kStreamIdAt];
  // Offsets read from the pack's own bytes must stay inside its first packet
  // (PES_packet_length) and the pack; a packet that says otherwise is copied
  // as it is rather than read past its end.
  const std::size_t packetEnd =
      std::min<std::size_t>(room, kPacketLengthAt + 2 + (p[kPacketLengthAt] << 8 | p[kPacketLengthAt + 1]));
  const std::size_t headerEnd = std::min<std::size_t>(packetEnd, kHeaderDataAt + p[kHeaderLengthAt]);

  if (sid == kPrivateStream1Id) {
    const std::size_t at = headerEnd;  // the substream id: the first payload byte
    if (at >= packetEnd) return PackResult::Keep;
    return settle(p[at], substreamKind(p[at]), substreams());
  }
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
    return settle(p[at], isVc1Extension(p[at]) ? kVc1 : Kind{}, streams());
  }
  return settle(p[kStreamIdAt], streamKind(sid), streams());
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
}

PackResult rebuildPack(std::uint8_t* pack, std::size_t length, RebuildState& rebuild, const ScanState& state,
                       const StreamSelection& selection) {
  return PackRebuilder(rebuild, state, selection).pack(pack, length);
}

void Rebuild(ScanState& state, RebuildState& rebuild, const StreamSelection& selection, RunReport& report) {
  CancellableScope cancellable(report);
  state.ExtractionRunning = true;
  state.CancelRequested = false;
  const auto start = std::chrono::steady_clock::now();

  InputFile& in = *state.InputStream;
  OutputFile& out = *state.videoOutputs[0];
  const std::string name = utf8FromPath(pathFromUtf8(in.path()).filename());
  std::uint8_t* const buf = state.PackBuffer.get();
  PackRebuilder packs(rebuild, state, selection);

  // Packs are decided one by one inside each chunk; each run of kept packs
  // goes to the output at once.
  while (in.position() < in.size() && !state.CancelRequested) {
    const std::size_t got = in.readChunk(buf, kPackBufferSize);
    const std::int64_t position = in.position();
    if (position % kProgressInterval == 0) {
      RunProgress p;
      p.position = position;
      p.size = in.size();
      p.elapsedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      p.task = "Rebuilding " + name;
      report.progress(p);
      report.letInputThrough();
      if (report.cancelRequested()) state.CancelRequested = true;
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
      const PackResult result = packs.pack(buf + at, std::min(kPackSize, got - at));
      if (result != PackResult::Keep && result != PackResult::Changed) continue;
      if (at != runEnd) {
        put(runStart, runEnd, runAsRead);
        runStart = at;
        runAsRead = true;
      }
      runEnd = at + kPackSize;
      runAsRead = runAsRead && result == PackResult::Keep;
    }
    put(runStart, runEnd, runAsRead);
  }
}

}  // namespace tarnwick

namespace tarnwick {

Outcome rebuildEvo(ScanState& state, const RunInput& input, const StreamSelection& selection,
                   const std::string& outputPath, RunReport& report) {
  return runCommand([&] {
    RebuildState rebuild;
    rebuild.log = &report;
    InputScope inputScope(state);
    openRunInput(state, input.path, report);
    refuseInputAsOutput(outputPath, input);
    state.videoOutputs[0].emplace(outputPath);
    report.log("Creating " + outputPath);
    writeOverInputs(state, input, "Rebuilding", report, [&] { Rebuild(state, rebuild, selection, report); });
    logDone(report);
    return state.CancelRequested ? Outcome::cancelled() : Outcome::done();
  });
}

}  // namespace tarnwick
