#include "engine/scanner.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "analysers/ac3_header.h"
#include "analysers/dts_header.h"
#include "analysers/frame_counter.h"
#include "analysers/h264_header.h"
#include "analysers/mpeg2_header.h"
#include "analysers/number_format.h"
#include "analysers/subpicture_format.h"
#include "analysers/vc1_header.h"
#include "engine/file_io.h"
#include "engine/message_log.h"
#include "engine/stream_ids.h"
#include "engine/writer.h"

namespace tarnwick {
namespace {

constexpr std::int64_t kProgressInterval = 0x400000;   // 4 MiB
constexpr std::int64_t kRepaintInterval = 0x4000000;   // 64 MiB
constexpr std::int64_t kFastCheckLimit = 300000000;    // bytes, decimal
// DVD VOBs and EVOs are made of packs of this size; no packet of theirs
// crosses from one pack into the next.
constexpr std::int64_t kPackSize = 2048;
constexpr std::uint32_t kPackStartCode = 0x000001BA;

constexpr std::uint32_t startCode(std::uint8_t streamId) { return 0x00000100u | streamId; }
constexpr std::uint32_t kPrivateStream1 = startCode(kPrivateStream1Id);
constexpr std::uint32_t kPaddingStream = startCode(kPaddingStreamId);
constexpr std::uint32_t kPrivateStream2 = startCode(kPrivateStream2Id);
constexpr std::uint32_t kProgramStreamMap = startCode(kProgramStreamMapId);
constexpr std::uint32_t kExtendedStreamId = startCode(kExtendedStreamIdId);

// The scanner's registers: local to one run, kept across chunk refills.
struct Registers {
  std::uint32_t StartCode = 0;
  PayloadKind payloadKind = PayloadKind::NoPacket;
  bool InPayload = false;
  std::int32_t PacketRemaining = 0;
  std::uint8_t LengthBytesPending = 0;
  std::int32_t SkipRemaining = 0;
  std::uint8_t FixedHeaderPending = 0;
  std::uint8_t HeaderFlags = 0;
  std::uint8_t HeaderDataRemaining = 0;  // a byte: it wraps like PES_header_data_length would
  std::int32_t PtsPending = 0;
  std::int32_t PtsDtsPending = 0;
  std::int32_t ExtensionFlagsPending = 0;
  std::uint8_t ExtensionFlags = 0;
  std::int32_t PstdPending = 0;
  std::int32_t ExtensionFieldPending = 0;
  std::uint8_t SubstreamPending = 0;
  std::uint8_t LpcmHeaderPending = 0;
  std::int32_t TrueHdHeaderPending = 0;
  std::uint32_t TimestampAccumulator = 0;
  std::uint32_t CurrentPts = 0;
  std::uint32_t VideoPts = 0;
  std::uint32_t VideoDts = 0;
  std::uint32_t FirstAudioPts = 0;
  std::uint32_t FirstSubpicturePts = 0;
  VideoCodec videoCodec = VideoCodec::Mpeg2;
  std::int32_t VideoSlot = -1;
  std::uint32_t VideoStreamId = 0;
  AudioKind audioKind = AudioKind::DolbyDigital;
  std::int32_t AudioSlot = -1;
  std::uint32_t AudioSubstreamId = 0;
  std::int32_t SubpictureSlot = -1;
  std::uint32_t SubpictureStreamId = 0;
  std::int64_t ChunkLength = 0;
  std::int64_t ChunkStart = 0;  // the chunk's offset in the input
  // The current packet: where its start code stands in the input, and its
  // stream (the substream id once private stream 1 has given it, the
  // stream_id_extension for the extended stream id).
  std::int64_t PacketStart = 0;
  std::uint32_t PacketId = 0;
  bool PacketIdIsSubstream = false;
  // The packet is on the extended stream id: its stream_id_extension, not
  // its stream id, says what it carries.
  bool ExtendedStreamPacket = false;
  // The current packet's header carried a nonzero PTS not yet used for a
  // subpicture record.
  bool RecordPending = false;
  // Of the file's first PES headers, how many there were and how many said
  // their payload is scrambled.
  std::int32_t HeadersSeen = 0;
  std::int32_t ScrambledSeen = 0;
};

// An encrypted disc scrambles every payload: a few headers among the first
// that say so are enough, while a stray bit in a damaged file is not.
constexpr std::int32_t kScrambleWindow = 64;
constexpr std::int32_t kScrambledToStop = 16;

// Forwards an analyser's lines to the report and keeps them in the stream's
// record for machine-readable reports.
class RecordingSink final : public LogSink {
 public:
  RecordingSink(LogSink& report, StreamRecord& record) : report_(report), record_(record) {}
  void log(std::string_view message) override {
    report_.log(message);
    record_.details.push_back(parseLogMessage(message).text);
  }

 private:
  LogSink& report_;
  StreamRecord& record_;
};

// Takes an analyser's lines where the report shows none: Dolby Digital's
// header is read only for its channels.
class QuietSink final : public LogSink {
 public:
  void log(std::string_view) override {}
};

class Scanner {
 public:
  Scanner(ScanState& state, const ScanOptions& options, RunReport& report, ScanMode mode)
      : s_(state), options_(options), w_(report), analysis_(mode == ScanMode::Analysis), buf_(state.PackBuffer.get()) {}

  void run();

 private:
  void scanChunk();
  void step(std::int64_t& pos);
  void skipBetweenPackets(std::int64_t& pos);
  void headerDone();
  void abortPacket();
  bool consumeHeaderByte();
  void timestampByte(std::int32_t phase, std::uint8_t b);
  void afterTimestamp();
  void substreamId(std::uint8_t b);
  void audioDispatch();
  void lpcmFormatByte(std::uint8_t b, std::int64_t pos);
  void payload(std::int64_t pos, std::int32_t n);
  void firstDetails(std::int64_t pos, std::int32_t n);
  void found(std::string_view prefix, int slot);
  // Whether the packet's stream owns its slot (taking it when it is free);
  // a stream that does not is left out, logged once per scan.
  bool owns(StreamClass c, std::int32_t& owner, std::uint32_t id, int slot, bool substream);
  void leaveOut(StreamClass c, std::uint32_t id, int slot, std::int32_t owner, bool substream);
  // Shows where the scan stands; true when the run is to stop.
  bool progress(std::int64_t position, std::int64_t size);
  void systemHeaderSummary();
  // How much of a run of n bytes at pos belongs to the packet: all of it,
  // unless the packs have been 2048 bytes so far and the run crosses into
  // the next pack. Sets cut when it does.
  std::int64_t withinPack(std::int64_t pos, std::int64_t n, bool& cut) const;
  void packetCut();

  ScanState& s_;
  const ScanOptions options_;
  RunReport& w_;
  const bool analysis_;
  std::uint8_t* const buf_;
  Registers r_;
  std::chrono::steady_clock::time_point runStart_;
  // Pack headers seen in this scan, and whether one stood off the 2048-byte
  // grid (then packs are not known to be 2048 bytes, and nothing is cut).
  bool packSeen_ = false;
  bool packOffGrid_ = false;
  // Streams whose cut packet was logged in this scan, by stream id (and
  // stream_id_extension) and by substream id.
  std::array<bool, 256> cutLogged_{};
  std::array<bool, 256> cutLoggedSubstream_{};
};

void Scanner::found(std::string_view prefix, int slot) {
  if (!analysis_) return;
  std::string line(prefix);
  line += std::to_string(slot);
  line += " found!";
  w_.log(line);
}

bool Scanner::owns(StreamClass c, std::int32_t& owner, std::uint32_t id, int slot, bool substream) {
  if (owner == -1 || owner == static_cast<std::int32_t>(id)) return true;
  leaveOut(c, id, slot, owner, substream);
  return false;
}

void Scanner::leaveOut(StreamClass c, std::uint32_t id, int slot, std::int32_t owner, bool substream) {
  bool& marked = (substream ? s_.leftOutSubstreamIds : s_.leftOutStreamIds)[id & 0xFF];
  if (marked) return;
  marked = true;
  s_.leftOut.push_back({c, static_cast<std::int32_t>(id), slot, owner});
  if (!analysis_) return;
  const char* word = c == StreamClass::Video ? "video" : c == StreamClass::Audio ? "audio" : "subpicture";
  // Two streams in one output would be neither: the first one seen keeps it.
  if (owner >= 0)
    w_.log("Stream " + formatHex(id, 2) + " shares " + word + " slot " + std::to_string(slot) + " with stream " +
           formatHex(static_cast<std::uint32_t>(owner), 2) + " and is left out.");
  else
    w_.log("Stream " + formatHex(id, 2) + " is a " + word + " stream that no box holds and is left out.");
}

// A packet whose PES_packet_length runs out inside its own header ends there;
// scanning resumes at the next start code.
void Scanner::abortPacket() {
  r_.FixedHeaderPending = 0;
  r_.HeaderDataRemaining = 0;
  r_.PtsPending = 0;
  r_.PtsDtsPending = 0;
  r_.ExtensionFlagsPending = 0;
  r_.PstdPending = 0;
  r_.ExtensionFieldPending = 0;
  r_.SubstreamPending = 0;
  r_.LpcmHeaderPending = 0;
  r_.TrueHdHeaderPending = 0;
  r_.InPayload = false;
  r_.PacketRemaining = 0;
  r_.RecordPending = false;
}

// Every header byte belongs to the packet: one whose length is already used
// up cannot have more header, so the packet is dropped.
bool Scanner::consumeHeaderByte() {
  if (r_.PacketRemaining <= 0) {
    abortPacket();
    return false;
  }
  --r_.PacketRemaining;
  return true;
}

void Scanner::headerDone() {
  if (r_.payloadKind == PayloadKind::Substream)
    r_.SubstreamPending = 4;
  else
    r_.InPayload = true;
}

// PTS/DTS bits, ISO/IEC 13818-1 2.4.3.7; phase counts down 4..0 within one
// five-byte field. Bit 32 is dropped.
void Scanner::timestampByte(std::int32_t phase, std::uint8_t b) {
  switch (phase) {
    case 4: r_.TimestampAccumulator = static_cast<std::uint32_t>(b & 0x06) << 29; break;
    case 3: r_.TimestampAccumulator |= static_cast<std::uint32_t>(b) << 22; break;
    case 2: r_.TimestampAccumulator |= static_cast<std::uint32_t>(b & 0xFE) << 14; break;
    case 1: r_.TimestampAccumulator |= static_cast<std::uint32_t>(b) << 7; break;
    case 0: r_.TimestampAccumulator |= static_cast<std::uint32_t>(b & 0xFE) >> 1; break;
    default: break;
  }
}

void Scanner::afterTimestamp() {
  if (r_.HeaderDataRemaining == 0)
    headerDone();
  else if ((r_.payloadKind == PayloadKind::Video || r_.ExtendedStreamPacket) && (r_.HeaderFlags & 0x01) != 0)
    r_.ExtensionFlagsPending = 1;
}

void Scanner::substreamId(std::uint8_t b) {
  const bool extended = isExtendedSubpictureId(b);
  r_.PacketId = b;
  r_.PacketIdIsSubstream = true;
  r_.SubpictureSlot = subpictureSlotOf(b);
  r_.SubpictureStreamId = b;
  std::int32_t& slotId = s_.SubpictureSlots[r_.SubpictureSlot].id;
  const bool owner = owns(StreamClass::Subpicture, slotId, b, r_.SubpictureSlot, true);
  if (slotId == -1) {
    slotId = b;
    if (analysis_) {
      found(kindOf(IdField::Substream, b)->foundPrefix, r_.SubpictureSlot);
      r_.FirstSubpicturePts = r_.CurrentPts;
    }
  }
  if (analysis_ && !extended) r_.CurrentPts = 0;
  r_.SubstreamPending = 0;
  r_.payloadKind = owner ? PayloadKind::Subpicture : PayloadKind::Discard;
  r_.InPayload = true;
}

// The substream id and the three bytes after it have passed.
void Scanner::audioDispatch() {
  const std::uint32_t id = r_.StartCode >> 24;
  r_.PacketId = id;
  r_.PacketIdIsSubstream = true;
  // An id of no known kind (0x90-0x9F, 0xA8-0xAF, 0xB8-0xBF) owns no slot:
  // read with the kind of the packet before it, LPCM A8 or TrueHD B8 would
  // land in the output of the stream that owns slot 8.
  const StreamKindRow* row = kindOf(IdField::Substream, id);
  if (row == nullptr || !row->audioKind) {
    r_.payloadKind = PayloadKind::Discard;
    r_.InPayload = true;
    r_.CurrentPts = 0;
    return;
  }
  r_.audioKind = *row->audioKind;
  r_.AudioSubstreamId = id;
  r_.AudioSlot = slotIn(*row, id);
  std::int32_t& slotId = s_.AudioSlots[r_.AudioSlot].id;
  if (!owns(StreamClass::Audio, slotId, id, r_.AudioSlot, true)) {
    r_.payloadKind = PayloadKind::Discard;
    r_.InPayload = true;
    r_.CurrentPts = 0;
    return;
  }
  if (slotId < 0) {
    slotId = static_cast<std::int32_t>(id);
    found(row->foundPrefix, r_.AudioSlot);
    r_.FirstAudioPts = r_.CurrentPts;
  }
  // The rest of the substream header: one more byte for Dolby TrueHD, three
  // for LPCM; the other kinds' payload begins here.
  if (r_.audioKind == AudioKind::TrueHd) {
    r_.TrueHdHeaderPending = 1;
  } else if (r_.audioKind == AudioKind::Lpcm) {
    r_.LpcmHeaderPending = 3;
  } else {
    r_.payloadKind = PayloadKind::Audio;
    r_.InPayload = true;
  }
  r_.CurrentPts = 0;
}

// The format byte of an LPCM header (quantisation, frequency, channels) of
// the stream that owns the slot: the first one is the stream's format, the
// first one after it that says another is kept as its change. The frame
// number and dynamic range around it change from packet to packet.
void Scanner::lpcmFormatByte(std::uint8_t b, std::int64_t pos) {
  constexpr std::uint8_t kFormatBits = 0xF7;  // all but the reserved bit
  SlotState& slot = s_.AudioSlots[static_cast<std::size_t>(r_.AudioSlot)];
  std::optional<LpcmFormat>& first = slot.lpcmFormat;
  if (!first) {
    first = lpcmFormatOf(b);
  } else if ((b & kFormatBits) != (first->code & kFormatBits) && !slot.lpcmFormatChange) {
    slot.lpcmFormatChange = LpcmFormatChange{s_.InputStream->path(), r_.ChunkStart + pos, *first, lpcmFormatOf(b)};
  }
}

// One byte step at pos; advances pos past the byte, or past a whole run.
void Scanner::step(std::int64_t& pos) {
  const std::uint8_t b = buf_[pos];
  r_.StartCode = (r_.StartCode << 8) | b;

  // A. payload run
  bool cut = false;
  if (r_.InPayload) {
    const auto n = static_cast<std::int32_t>(
        withinPack(pos, std::min<std::int64_t>(r_.ChunkLength - pos, r_.PacketRemaining), cut));
    if (!cut || n > 0) {
      if (r_.payloadKind == PayloadKind::Video || r_.payloadKind == PayloadKind::Audio ||
          r_.payloadKind == PayloadKind::Subpicture)
        payload(pos, n);
      r_.PacketRemaining -= n;
      pos += n;
    }
    if (cut) packetCut();
    if (r_.PacketRemaining == 0) r_.InPayload = false;
    // A cut right at the pack's start leaves its first byte to the steps
    // below, as any byte between packets.
    if (!cut || n > 0) return;
  }

  // B. skipped packet: the rest of it within this chunk passes at once; only
  // its last four bytes matter to the start-code register.
  if (r_.SkipRemaining > 0) {
    const auto k = static_cast<std::int32_t>(
        withinPack(pos, std::min<std::int64_t>(r_.ChunkLength - pos, r_.SkipRemaining), cut));
    for (std::int64_t i = std::max<std::int64_t>(pos + 1, pos + k - 4); i < pos + k; ++i)
      r_.StartCode = (r_.StartCode << 8) | buf_[i];
    r_.SkipRemaining -= k;
    r_.PacketRemaining -= k;
    pos += k;
    if (cut) {
      packetCut();
      r_.SkipRemaining = 0;
    }
    if (!cut || k > 0) return;
  }
  ++pos;

  // C. recognised start codes
  const std::uint32_t code = r_.StartCode;
  if (code == kPackStartCode) {
    packSeen_ = true;
    if ((r_.ChunkStart + pos - 4) % kPackSize != 0) packOffGrid_ = true;
  }
  if ((code & 0xFFFFFF00u) == 0x00000100u) {
    const std::uint8_t id = code & 0xFF;
    bool packetStart = true;
    if (isMpegVideoId(id)) {
      r_.VideoStreamId = id;
      r_.VideoSlot = id & 1;
      const bool h264 = isH264Id(id);
      std::int32_t& slotId = s_.VideoSlots[r_.VideoSlot].id;
      if (slotId == -1) {
        slotId = id;
        found(kindOf(IdField::StreamId, id)->foundPrefix, r_.VideoSlot);
        if (!h264) r_.VideoPts = r_.CurrentPts;
      }
      r_.videoCodec = h264 ? VideoCodec::H264 : VideoCodec::Mpeg2;
      r_.payloadKind = owns(StreamClass::Video, slotId, id, r_.VideoSlot, false)
                           ? PayloadKind::Video
                           : PayloadKind::Discard;
    } else if (code == kExtendedStreamId) {
      // Nothing of it is video of a box until its stream_id_extension says
      // so: without one, or with one no box holds, it reaches no output.
      r_.videoCodec = VideoCodec::Vc1;
      r_.payloadKind = PayloadKind::Discard;
    } else if (id >= 0xC0 && id <= 0xCF) {
      r_.payloadKind = PayloadKind::MpegAudio;
    } else if (code == kPrivateStream1) {
      r_.payloadKind = PayloadKind::Substream;
    } else if (code == kProgramStreamMap || code == kPaddingStream || code == kPrivateStream2) {
      r_.payloadKind = PayloadKind::SkipPacket;
    } else {
      packetStart = false;
    }
    if (packetStart) {
      r_.LengthBytesPending = 2;
      r_.RecordPending = false;
      r_.PacketStart = r_.ChunkStart + pos - 4;
      r_.PacketId = id;
      r_.PacketIdIsSubstream = false;
      r_.ExtendedStreamPacket = code == kExtendedStreamId;
      return;
    }
  }

  // D, E. PES_packet_length
  if (r_.LengthBytesPending == 2) {
    r_.LengthBytesPending = 1;
    return;
  }
  if (r_.LengthBytesPending == 1) {
    r_.LengthBytesPending = 0;
    r_.PacketRemaining = static_cast<std::int32_t>(r_.StartCode & 0xFFFF);
    if (r_.payloadKind == PayloadKind::SkipPacket)
      r_.SkipRemaining = r_.PacketRemaining;
    else
      r_.FixedHeaderPending = 3;
    return;
  }

  // F. the two flag bytes and PES_header_data_length
  if (r_.FixedHeaderPending > 0) {
    if (!consumeHeaderByte()) return;
    --r_.FixedHeaderPending;
    // '10', then PES_scrambling_control: nonzero means an encrypted payload.
    if (r_.FixedHeaderPending == 2 && r_.HeadersSeen < kScrambleWindow && (b & 0xC0) == 0x80) {
      ++r_.HeadersSeen;
      if ((b & 0x30) != 0 && ++r_.ScrambledSeen == kScrambledToStop)
        throw EncryptedInputError(s_.InputStream->path() + " is encrypted; Tarnwick reads decrypted discs only.");
    }
    if (r_.FixedHeaderPending == 1) r_.HeaderFlags = b;
    if (r_.FixedHeaderPending == 0) {
      r_.HeaderDataRemaining = b;
      if ((r_.HeaderFlags & 0xC0) == 0x80) r_.PtsPending = 5;
      if ((r_.HeaderFlags & 0xC0) == 0xC0) r_.PtsDtsPending = 10;
      if ((r_.HeaderFlags & 0xC1) == 0x01) r_.ExtensionFlagsPending = 1;
      if (r_.HeaderDataRemaining == 0) headerDone();
    }
    return;
  }

  // G. a lone PTS
  if (r_.PtsPending > 0) {
    if (!consumeHeaderByte()) return;
    --r_.PtsPending;
    --r_.HeaderDataRemaining;
    timestampByte(r_.PtsPending, b);
    if (r_.PtsPending == 0) {
      r_.CurrentPts = r_.TimestampAccumulator;
      r_.RecordPending = r_.CurrentPts != 0;
      afterTimestamp();
    }
    return;
  }

  // H. a PTS followed by a DTS
  if (r_.PtsDtsPending > 0) {
    if (!consumeHeaderByte()) return;
    --r_.PtsDtsPending;
    --r_.HeaderDataRemaining;
    const std::int32_t phase = r_.PtsDtsPending;
    timestampByte(phase >= 5 ? phase - 5 : phase, b);
    if (phase == 5) {
      r_.CurrentPts = r_.VideoPts = r_.TimestampAccumulator;
      r_.RecordPending = r_.CurrentPts != 0;
    } else if (phase == 0) {
      r_.VideoDts = r_.TimestampAccumulator;
      afterTimestamp();
    }
    return;
  }

  // I. the PES extension flags
  if (r_.ExtensionFlagsPending > 0) {
    if (!consumeHeaderByte()) return;
    --r_.ExtensionFlagsPending;
    --r_.HeaderDataRemaining;
    r_.ExtensionFlags = b;
    if ((b & 0x10) != 0)
      r_.PstdPending = 2;
    else if ((b & 0x01) != 0)
      r_.ExtensionFieldPending = 2;
    return;
  }

  // J. P-STD buffer field
  if (r_.PstdPending > 0) {
    if (!consumeHeaderByte()) return;
    --r_.PstdPending;
    --r_.HeaderDataRemaining;
    if (r_.PstdPending == 0) {
      if ((r_.ExtensionFlags & 0x01) != 0)
        r_.ExtensionFieldPending = 2;
      else if (r_.HeaderDataRemaining == 0)
        headerDone();  // private stream 1: the substream id comes next
    }
    return;
  }

  // K. PES_extension_field_length and stream_id_extension
  if (r_.ExtensionFieldPending > 0) {
    if (!consumeHeaderByte()) return;
    --r_.ExtensionFieldPending;
    --r_.HeaderDataRemaining;
    if (r_.ExtensionFieldPending == 0) {
      const std::uint8_t x = b & 0x7F;
      // Only the extended stream id is named by its extension; on any other
      // stream id the field says nothing about the packet's stream.
      if (!r_.ExtendedStreamPacket) {
        if (r_.HeaderDataRemaining == 0) headerDone();
        return;
      }
      r_.PacketId = x;
      if (isVc1Extension(x)) {
        r_.VideoStreamId = x;
        r_.VideoSlot = slotIn(kindRow(StreamKind::Vc1Video), x);
        std::int32_t& slotId = s_.VideoSlots[r_.VideoSlot].id;
        if (slotId == -1) {
          slotId = x;
          found(kindRow(StreamKind::Vc1Video).foundPrefix, r_.VideoSlot);
          r_.VideoPts = r_.CurrentPts;
        }
        r_.payloadKind = owns(StreamClass::Video, slotId, x, r_.VideoSlot, false)
                             ? PayloadKind::Video
                             : PayloadKind::Discard;
      } else {
        if (isUnboxedVc1Extension(x)) leaveOut(StreamClass::Video, x, -1, -1, false);
        r_.payloadKind = PayloadKind::Discard;
      }
      if (r_.HeaderDataRemaining == 0) headerDone();
    }
    return;
  }

  // L. stuffing and fields not parsed
  if (r_.HeaderDataRemaining > 0) {
    if (!consumeHeaderByte()) return;
    --r_.HeaderDataRemaining;
    if (r_.HeaderDataRemaining == 0) headerDone();
    return;
  }

  // M. private-stream-1 substream header
  if (r_.SubstreamPending > 0) {
    if (!consumeHeaderByte()) return;
    --r_.SubstreamPending;
    if (r_.SubstreamPending == 3 && isSubpictureId(b))
      substreamId(b);
    else if (r_.SubstreamPending == 0)
      audioDispatch();
    return;
  }

  // N, O. the rest of the LPCM and Dolby TrueHD headers
  if (r_.LpcmHeaderPending > 0) {
    if (!consumeHeaderByte()) return;
    if (r_.LpcmHeaderPending == 2) lpcmFormatByte(b, pos - 1);
    if (--r_.LpcmHeaderPending == 0) {
      r_.payloadKind = PayloadKind::Audio;
      r_.InPayload = true;
    }
    return;
  }
  if (r_.TrueHdHeaderPending > 0) {
    if (!consumeHeaderByte()) return;
    if (--r_.TrueHdHeaderPending == 0) {
      r_.payloadKind = PayloadKind::Audio;
      r_.InPayload = true;
    }
    return;
  }
  // P. pack headers, system headers, anything between packets
  if (b != 0x01) skipBetweenPackets(pos);
}

// Between packets only a start code can change the state, and one can only
// be recognised right after a 01 byte: pass over everything before the next
// 01 at once, keeping the start-code register as the bytes would leave it.
void Scanner::skipBetweenPackets(std::int64_t& pos) {
  if (pos >= r_.ChunkLength) return;
  const void* hit = std::memchr(buf_ + pos, 0x01, static_cast<std::size_t>(r_.ChunkLength - pos));
  const std::int64_t stop = hit != nullptr ? static_cast<const std::uint8_t*>(hit) - buf_ + 1 : r_.ChunkLength;
  for (std::int64_t i = std::max(pos, stop - 4); i < stop; ++i) r_.StartCode = (r_.StartCode << 8) | buf_[i];
  pos = stop;
}

std::int64_t Scanner::withinPack(std::int64_t pos, std::int64_t n, bool& cut) const {
  cut = false;
  if (!packSeen_ || packOffGrid_ || n <= 0) return n;
  // The first pack boundary at or after pos; a packet ends there only when
  // the next pack's header is what stands there.
  const std::int64_t boundary = pos + (kPackSize - (r_.ChunkStart + pos) % kPackSize) % kPackSize;
  if (boundary >= pos + n || boundary + 4 > r_.ChunkLength) return n;
  const std::uint8_t* p = buf_ + boundary;
  if (p[0] != 0x00 || p[1] != 0x00 || p[2] != 0x01 || p[3] != 0xBA) return n;
  cut = true;
  return boundary - pos;
}

// The packet's length reached past the end of its pack (a damaged length):
// what follows is the next pack, not this packet's data.
void Scanner::packetCut() {
  r_.PacketRemaining = 0;
  r_.InPayload = false;
  bool& logged = (r_.PacketIdIsSubstream ? cutLoggedSubstream_ : cutLogged_)[r_.PacketId & 0xFF];
  if (logged) return;
  logged = true;
  w_.log("Stream " + formatHex(r_.PacketId, 2) + ": packet at byte " + std::to_string(r_.PacketStart) +
         " runs past its pack; cut there.");
}

void Scanner::firstDetails(std::int64_t pos, std::int32_t n) {
  const auto position = static_cast<std::int32_t>(pos);
  auto report = [&](StreamRecord& record, std::uint32_t pts, std::uint32_t id) {
    record.details.clear();
    RecordingSink sink(w_, record);
    sink.log("   First PTS = " + formatHex(pts, 8));
    sink.log("   Stream id = " + formatHex(id, 2));
    return sink;
  };
  switch (r_.payloadKind) {
    case PayloadKind::Audio:
      if (r_.AudioSlot >= 0 && r_.AudioSlot < 16 && !s_.AudioSlots[r_.AudioSlot].Reported) {
        s_.AudioSlots[r_.AudioSlot].Reported = true;
        StreamRecord& record = s_.AudioSlots[r_.AudioSlot].record;
        auto sink = report(record, r_.FirstAudioPts, r_.AudioSubstreamId);
        if (r_.FirstAudioPts < s_.EarliestPts) s_.EarliestPts = r_.FirstAudioPts;
        if (r_.audioKind == AudioKind::DolbyDigitalPlus) {
          record.channels = ReportAc3Header(buf_, position, n, r_.AudioSlot, s_.Ac3RateTable, sink);
        } else if (r_.audioKind == AudioKind::Dts) {
          record.channels = ReportDtsHeader(buf_, static_cast<std::size_t>(r_.ChunkLength), position, n, sink);
        } else if (r_.audioKind == AudioKind::DolbyDigital) {
          QuietSink quiet;
          record.channels = ReportAc3Header(buf_, position, n, r_.AudioSlot, s_.Ac3RateTable, quiet);
        }
      }
      break;
    case PayloadKind::Video:
      if (r_.VideoSlot >= 0 && r_.VideoSlot < 2 && !s_.VideoSlots[r_.VideoSlot].Reported) {
        s_.VideoSlots[r_.VideoSlot].Reported = true;
        auto sink = report(s_.VideoSlots[r_.VideoSlot].record, r_.VideoPts, r_.VideoStreamId);
        if (r_.VideoPts < s_.EarliestPts) s_.EarliestPts = r_.VideoPts;
        switch (r_.videoCodec) {
          case VideoCodec::Vc1: ReportVc1Header(buf_, position, n, r_.VideoPts, sink); break;
          case VideoCodec::H264:
            ReportH264Header(buf_, position, n, sink);
            s_.VideoSlots[r_.VideoSlot].record.frameRate = H264FrameRate(buf_, position, n);
            break;
          case VideoCodec::Mpeg2: ReportMpeg2Header(buf_, position, n, r_.VideoPts, sink); break;
        }
      }
      break;
    case PayloadKind::Subpicture:
      if (r_.SubpictureSlot >= 0 && r_.SubpictureSlot < 16 && !s_.SubpictureSlots[r_.SubpictureSlot].Reported) {
        s_.SubpictureSlots[r_.SubpictureSlot].Reported = true;
        auto sink = report(s_.SubpictureSlots[r_.SubpictureSlot].record, r_.FirstSubpicturePts, r_.SubpictureStreamId);
        ReportSubpictureFormat(buf_, static_cast<std::size_t>(r_.ChunkLength), position, sink);
      }
      break;
    default:
      break;
  }
}

void Scanner::payload(std::int64_t pos, std::int32_t n) {
  const auto position = static_cast<std::int32_t>(pos);
  if (r_.payloadKind == PayloadKind::Video && r_.VideoSlot >= 0 && r_.VideoSlot < 2 &&
      (analysis_ || s_.VideoSlots[static_cast<std::size_t>(r_.VideoSlot)].output) && options_.countFrames) {
    SlotState& video = s_.VideoSlots[static_cast<std::size_t>(r_.VideoSlot)];
    CountPictureStarts(buf_, position, n, r_.videoCodec, video.VideoFrameCounts, video.frameCountWindow, w_);
  }
  if (analysis_) {
    // Record the first time stamp of every stream, with or without details,
    // for machine-readable reports.
    StreamRecord* record = nullptr;
    std::uint32_t pts = 0;
    if (r_.payloadKind == PayloadKind::Audio && r_.AudioSlot >= 0 && r_.AudioSlot < 16) {
      record = &s_.AudioSlots[r_.AudioSlot].record;
      pts = r_.FirstAudioPts;
    } else if (r_.payloadKind == PayloadKind::Video && r_.VideoSlot >= 0 && r_.VideoSlot < 2) {
      record = &s_.VideoSlots[r_.VideoSlot].record;
      pts = r_.VideoPts;
    } else if (r_.payloadKind == PayloadKind::Subpicture && r_.SubpictureSlot >= 0) {
      record = &s_.SubpictureSlots[r_.SubpictureSlot].record;
      pts = r_.FirstSubpicturePts;
    }
    if (record != nullptr && !record->hasFirstPts) {
      record->hasFirstPts = true;
      record->firstPts = pts;
    }
    if (options_.details) firstDetails(pos, n);
  } else {
    PayloadContext ctx;
    ctx.kind = r_.payloadKind;
    ctx.videoSlot = r_.VideoSlot;
    ctx.audioSlot = r_.AudioSlot;
    ctx.subpictureSlot = r_.SubpictureSlot;
    ctx.currentPts = &r_.CurrentPts;
    ctx.recordPending = &r_.RecordPending;
    ctx.log = &w_;
    writePayload(s_, ctx, position, n);
  }
}

bool Scanner::progress(std::int64_t position, std::int64_t size) {
  RunProgress p;
  p.position = position;
  p.size = size;
  p.elapsedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart_).count();
  return w_.progressPoint(p);
}

void Scanner::systemHeaderSummary() {
  // A system header right behind a 14-byte pack header (ISO/IEC 13818-1 2.5.3.5).
  if (buf_[16] != 0x01 || buf_[17] != 0xBB) return;
  const int videoBound = buf_[24] & 0x1F;
  const int audioBound = buf_[23] >> 2;
  w_.log("It contains " + std::to_string(videoBound) + " video stream" + (videoBound > 1 ? "s" : "") + " and " +
         std::to_string(audioBound) + " audio stream" + (audioBound > 1 ? "s." : "."));
}

void Scanner::scanChunk() {
  std::int64_t pos = 0;
  while (pos < r_.ChunkLength) step(pos);
}

void Scanner::run() {
  CancellableScope cancellable(w_);
  s_.scanStop = ScanStop::None;
  s_.ExtractionRunning = !analysis_;
  runStart_ = std::chrono::steady_clock::now();
  s_.fillAc3RateTable();
  // Demux: a slot with an output keeps the stream Read EVO put in its box, in
  // every file, so that another stream met first in that slot (the second
  // file of a feature may order them otherwise) is left out with its line
  // rather than written into the same file.
  std::vector<std::pair<SlotState*, std::int32_t>> owners;
  if (!analysis_)
    for (std::span<SlotState> table : s_.slotTables())
      for (SlotState& slot : table)
        if (slot.output && slot.id >= 0) owners.emplace_back(&slot, slot.id);
  s_.resetSlots();
  for (const auto& [slot, id] : owners) slot->id = id;
  for (SlotState& video : s_.VideoSlots) video.frameCountWindow = 0;
  if (analysis_)
    for (std::span<SlotState> table : s_.slotTables())
      for (SlotState& slot : table) slot.record = {};

  InputFile& in = *s_.InputStream;
  while (in.position() < in.size() && s_.scanStop == ScanStop::None) {
    r_.ChunkStart = in.position();
    r_.ChunkLength = static_cast<std::int64_t>(in.readChunk(buf_, kPackBufferSize));
    const std::int64_t position = in.position();
    if (position % kProgressInterval == 0 && progress(position, in.size()))
      s_.scanStop = ScanStop::Cancelled;
    else if (analysis_ && position > kFastCheckLimit && options_.fastCheck)
      s_.scanStop = ScanStop::FastCheckLimit;
    if (position % kRepaintInterval == 0) w_.repaint();
    if (analysis_ && position == static_cast<std::int64_t>(kPackBufferSize)) systemHeaderSummary();
    scanChunk();
  }
  // The counts of part of a file would mislead: a scan stopped by Cancel or
  // by the fast-check limit leaves none.
  if (s_.scanStop != ScanStop::None) s_.resetVideoFrameCounts();
}

}  // namespace

void demux(ScanState& state, const ScanOptions& options, RunReport& report, ScanMode mode) {
  Scanner scanner(state, options, report, mode);
  scanner.run();
}

}  // namespace tarnwick
