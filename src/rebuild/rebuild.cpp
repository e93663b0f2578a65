#include "rebuild/rebuild.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "app/window.h"
#include "engine/time_format.h"

namespace tarnwick {
namespace {

constexpr std::int64_t kProgressInterval = 0x400000;  // 4 MiB
// Runs of unchanged packs at least this long are copied by the kernel. Each
// copy hands over the output's partly filled buffer; shorter runs cost less
// through that buffer (measured: 32 KiB runs double the CPU time).
constexpr std::size_t kKernelCopyRun = kPackBufferSize / 2;

// Stream ids, ISO/IEC 13818-1 Table 2-18.
constexpr std::uint8_t kSystemHeader = 0xBB;
constexpr std::uint8_t kPrivateStream1 = 0xBD;
constexpr std::uint8_t kExtendedStreamId = 0xFD;

// Offsets in a pack whose 14-byte pack header has no stuffing: the first
// packet's stream id, its PES_packet_length, its second flag byte and
// PES_header_data_length; the first byte after that header.
constexpr std::size_t kStreamIdAt = 17;
constexpr std::size_t kPacketLengthAt = 18;
constexpr std::size_t kFlagsAt = 21;
constexpr std::size_t kHeaderLengthAt = 22;
constexpr std::size_t kHeaderDataAt = 23;
// The system header's audio_bound (bits 7-2) and video_bound (bits 4-0) bytes.
constexpr std::size_t kAudioBoundAt = 23;
constexpr std::size_t kVideoBoundAt = 24;

enum class StreamClass : std::uint8_t { Video, Audio, Subpicture };

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
  if (id >= 0xC0 && id <= 0xC8) return renumbered(StreamClass::Audio, 0xC0, 16);       // Dolby Digital Plus
  if (id >= 0x88 && id <= 0x8F) return renumbered(StreamClass::Audio, 0x88, 8);        // DTS
  if (id >= 0x20 && id <= 0x2F) return renumbered(StreamClass::Subpicture, 0x20, 32);  // subpicture
  if (id >= 0x80 && id <= 0x87) return byBoxOnly(StreamClass::Audio, 0x80, 8);         // Dolby Digital
  if (id >= 0xA0 && id <= 0xA7) return byBoxOnly(StreamClass::Audio, 0xA0, 8);         // LPCM
  if (id >= 0xB0 && id <= 0xB7) return byBoxOnly(StreamClass::Audio, 0xB0, 8);         // Dolby TrueHD
  if (id >= 0xC9 && id <= 0xCF) return byBoxOnly(StreamClass::Audio, 0xC0, 16);        // Dolby Digital Plus
  if (id >= 0x30 && id <= 0x3F) return byBoxOnly(StreamClass::Subpicture, 0x20, 32);   // subpicture, no box
  if (id >= 0x60 && id <= 0x7F) return byBoxOnly(StreamClass::Subpicture, 0x60, 32);   // extended subpicture
  return {};
}

Kind streamKind(std::uint8_t id) {
  if (id >= 0xE0 && id <= 0xE3) return renumbered(StreamClass::Video, id & 0xFE, 2);  // MPEG-2, H.264
  if (id >= 0xC0 && id <= 0xCF) return renumbered(StreamClass::Audio, 0xC0, 32, false);
  if (id >= 0xD0 && id <= 0xDF) return renumbered(StreamClass::Audio, id & 0xF8, 8, false);
  return {};
}

constexpr Kind kVc1 = renumbered(StreamClass::Video, 0x55, 2);

// The ids of one id space and what became of them.
struct IdSpace {
  std::array<std::uint8_t, 256>& map;
  std::array<RebuildState::Fate, 256>& fate;
  std::array<bool, 256>& held;
};

class PackRebuilder {
 public:
  PackRebuilder(RebuildState& r, const ScanState& s, const RebuildSelection& sel) : r_(r), s_(s), sel_(sel) {}

  PackResult pack(std::uint8_t* p, std::size_t length);

 private:
  PackResult settle(std::uint8_t& idByte, const Kind& kind, IdSpace space);
  void decide(std::uint8_t id, const Kind& kind, IdSpace space);
  // The box slot of the class whose table holds id, or -1.
  int slotOf(StreamClass c, std::uint8_t id) const;
  bool ticked(StreamClass c, int slot) const;
  std::uint8_t& next(StreamClass c);
  PackResult systemHeader(std::uint8_t* p) const;

  IdSpace streams() { return {r_.StreamIdMap, r_.streamFate, r_.streamHeld}; }
  IdSpace substreams() { return {r_.SubstreamIdMap, r_.substreamFate, r_.substreamHeld}; }

  RebuildState& r_;
  const ScanState& s_;
  const RebuildSelection& sel_;
};

int PackRebuilder::slotOf(StreamClass c, std::uint8_t id) const {
  const auto find = [id](const auto& slots, int count) {
    for (int k = 0; k < count; ++k)
      if (slots[static_cast<std::size_t>(k)] == id) return k;
    return -1;
  };
  switch (c) {
    case StreamClass::Video: return find(s_.VideoSlots, 2);
    case StreamClass::Audio: return find(s_.AudioSlots, 16);
    default: return find(s_.SubpictureSlots, 16);
  }
}

bool PackRebuilder::ticked(StreamClass c, int slot) const {
  const auto k = static_cast<std::size_t>(slot);
  switch (c) {
    case StreamClass::Video: return sel_.video[k];
    case StreamClass::Audio: return sel_.audio[k];
    default: return sel_.subpicture[k];
  }
}

std::uint8_t& PackRebuilder::next(StreamClass c) {
  switch (c) {
    case StreamClass::Video: return r_.NextVideoNumber;
    case StreamClass::Audio: return r_.NextAudioNumber;
    default: return r_.NextSubpictureNumber;
  }
}

// The first pack of a stream decides it for the whole command: the boxes and
// slot tables do not change while the command runs.
void PackRebuilder::decide(std::uint8_t id, const Kind& kind, IdSpace space) {
  using Fate = RebuildState::Fate;
  const int slot = kind.boxed ? slotOf(kind.streamClass, id) : -1;
  if (slot >= 0 && !ticked(kind.streamClass, slot)) {
    space.fate[id] = Fate::Drop;
    return;
  }
  space.fate[id] = Fate::Keep;
  if (slot < 0 && !kind.unboxedRenumbered) {
    // No box and no rule: copied as it is, id included.
    space.held[id] = true;
    return;
  }
  const std::uint8_t n = next(kind.streamClass)++;
  std::uint8_t newId = id;
  // A number past the kind's range would spill into another kind's ids (or
  // make 0xFF): the stream keeps its id then, as it does when another kept
  // stream already carries the new one.
  if (n < kind.count) {
    const auto candidate = static_cast<std::uint8_t>(kind.first + n);
    if (kind.unboxedRenumbered || !space.held[candidate]) newId = candidate;
  }
  space.map[id] = newId;
  space.held[newId] = true;
}

PackResult PackRebuilder::settle(std::uint8_t& idByte, const Kind& kind, IdSpace space) {
  if (!kind.known) return PackResult::Keep;
  const std::uint8_t id = idByte;
  if (space.fate[id] == RebuildState::Fate::Undecided) decide(id, kind, space);
  if (space.fate[id] == RebuildState::Fate::Drop) return PackResult::Drop;
  const std::uint8_t newId = space.map[id];
  if (newId == kNoId || newId == id) return PackResult::Keep;
  idByte = newId;
  return PackResult::Changed;
}

PackResult PackRebuilder::systemHeader(std::uint8_t* p) const {
  const auto count = [](const auto& boxes) {
    return static_cast<std::uint8_t>(std::count(boxes.begin(), boxes.end(), true));
  };
  const auto audioBound = static_cast<std::uint8_t>((p[kAudioBoundAt] & 0x03) | (count(sel_.audio) << 2));
  const auto videoBound = static_cast<std::uint8_t>((p[kVideoBoundAt] & 0xE0) | (count(sel_.video) & 0x1F));
  if (audioBound == p[kAudioBoundAt] && videoBound == p[kVideoBoundAt]) return PackResult::Keep;
  p[kAudioBoundAt] = audioBound;
  p[kVideoBoundAt] = videoBound;
  return PackResult::Changed;
}

PackResult PackRebuilder::pack(std::uint8_t* p, std::size_t length) {
  if (length < kPackSize || p[0] != 0x00 || p[1] != 0x00 || p[2] != 0x01 || p[3] != 0xBA) return PackResult::Skip;
  const std::uint8_t sid = p[kStreamIdAt];
  if (sid == kSystemHeader) return systemHeader(p);

  // Offsets read from the pack's own bytes must stay inside its first packet
  // (PES_packet_length) and the pack; a packet that says otherwise is copied
  // as it is rather than read past its end.
  const std::size_t packetEnd =
      std::min<std::size_t>(kPackSize, kPacketLengthAt + 2 + (p[kPacketLengthAt] << 8 | p[kPacketLengthAt + 1]));
  const std::size_t headerEnd = std::min<std::size_t>(packetEnd, kHeaderDataAt + p[kHeaderLengthAt]);

  if (sid == kPrivateStream1) {
    const std::size_t at = headerEnd;  // the substream id: the first payload byte
    if (at >= packetEnd) return PackResult::Keep;
    return settle(p[at], substreamKind(p[at]), substreams());
  }
  if (sid == kExtendedStreamId) {
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
    if (p[at] != 0x55 && p[at] != 0x56) return PackResult::Keep;
    return settle(p[at], kVc1, streams());
  }
  return settle(p[kStreamIdAt], streamKind(sid), streams());
}

// Disables Cancel however the loop ends, an error included.
class CancelScope {
 public:
  explicit CancelScope(Window& w) : w_(w) { w_.setEnabled(ControlId::bCancel, true); }
  ~CancelScope() { w_.setEnabled(ControlId::bCancel, false); }
  CancelScope(const CancelScope&) = delete;
  CancelScope& operator=(const CancelScope&) = delete;

 private:
  Window& w_;
};

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
                       const RebuildSelection& selection) {
  return PackRebuilder(rebuild, state, selection).pack(pack, length);
}

double remainingDays(double elapsedDays, std::int64_t position, std::int64_t size) {
  if (position <= 0) return 1.0 / 86400.0;
  return elapsedDays * static_cast<double>(size) / static_cast<double>(position) - elapsedDays + 1.0 / 86400.0;
}

std::string rebuildProgressText(const std::string& fileName, std::int64_t position, std::int64_t size,
                                double elapsedDays) {
  return "Rebuilding " + fileName + " " + std::to_string(position / 0x100000) + "/" + std::to_string(size / 0x100000) +
         " Mbytes, Remaining time: " + formatLongTime(remainingDays(elapsedDays, position, size));
}

void Rebuild(ScanState& state, RebuildState& rebuild, const RebuildSelection& selection, Window& window) {
  CancelScope cancel(window);
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
      const double elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 86400.0;
      window.slog(rebuildProgressText(name, position, in.size(), elapsed), 1);
      window.processMessages();
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
