#include "engine/scanner.h"

#include "engine/file_io.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "analysers/ac3_header.h"
#include "analysers/dts_header.h"
#include "analysers/frame_counter.h"
#include "analysers/h264_header.h"
#include "analysers/mpeg2_header.h"
#include "analysers/subpicture_format.h"
#include "analysers/vc1_header.h"
#include "app/window.h"
#include "engine/file_io.h"
#include "engine/time_format.h"
#include "engine/writer.h"

namespace tarnwick {
namespace {

constexpr std::int64_t kProgressInterval = 0x400000;   // 4 MiB
constexpr std::int64_t kRepaintInterval = 0x4000000;   // 64 MiB
constexpr std::int64_t kFastCheckLimit = 300000000;    // bytes, decimal

// Start codes, ISO/IEC 13818-1 Table 2-18.
constexpr std::uint32_t kPrivateStream1 = 0x000001BD;
constexpr std::uint32_t kPaddingStream = 0x000001BE;
constexpr std::uint32_t kPrivateStream2 = 0x000001BF;
constexpr std::uint32_t kProgramStreamMap = 0x000001BC;
constexpr std::uint32_t kExtendedStreamId = 0x000001FD;
constexpr std::uint8_t kVc1ExtensionFirst = 0x55;
constexpr std::uint8_t kVc1ExtensionSecond = 0x56;

std::string hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

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
  // The current packet's header carried a nonzero PTS not yet used for a
  // subpicture record.
  bool RecordPending = false;
};

// Forwards an analyser's lines to the window and keeps them in the stream's
// record for machine-readable reports.
class RecordingSink final : public LogSink {
 public:
  RecordingSink(Window& window, StreamRecord& record) : window_(window), record_(record) {}
  void log(std::string_view message) override {
    window_.log(message);
    record_.details.push_back(parseLogMessage(message).text);
  }

 private:
  Window& window_;
  StreamRecord& record_;
};

class Scanner {
 public:
  Scanner(ScanState& state, Window& window, ScanMode mode)
      : s_(state), w_(window), analysis_(mode == ScanMode::Analysis), buf_(state.PackBuffer.get()) {}

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
  void payload(std::int64_t pos, std::int32_t n);
  void firstDetails(std::int64_t pos, std::int32_t n);
  void found(std::string_view prefix, int slot);
  void progress(std::int64_t position, std::int64_t size);
  void systemHeaderSummary();

  ScanState& s_;
  Window& w_;
  const bool analysis_;
  std::uint8_t* const buf_;
  Registers r_;
  std::chrono::steady_clock::time_point runStart_;
};

void Scanner::found(std::string_view prefix, int slot) {
  if (!analysis_) return;
  std::string line(prefix);
  line += std::to_string(slot);
  line += " found!";
  w_.log(line);
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
  else if (r_.payloadKind == PayloadKind::Video && (r_.HeaderFlags & 0x01) != 0)
    r_.ExtensionFlagsPending = 1;
}

void Scanner::substreamId(std::uint8_t b) {
  const bool extended = (b & 0xE0) == 0x60;
  r_.SubpictureSlot = b & 0x1F;
  r_.SubpictureStreamId = b;
  if (s_.SubpictureSlots[r_.SubpictureSlot] == -1) {
    s_.SubpictureSlots[r_.SubpictureSlot] = b;
    if (analysis_) {
      found(extended ? "[b]Extended subpicture[/b] stream " : "[b]Subpicture[/b] stream ", r_.SubpictureSlot);
      r_.FirstSubpicturePts = r_.CurrentPts;
    }
  }
  if (analysis_ && !extended) r_.CurrentPts = 0;
  r_.SubstreamPending = 0;
  r_.payloadKind = PayloadKind::Subpicture;
  r_.InPayload = true;
}

// The substream id and the three bytes after it have passed.
void Scanner::audioDispatch() {
  const std::uint32_t id = r_.StartCode >> 24;
  r_.AudioSlot = static_cast<std::int32_t>(id & 0x0F);
  const char* prefix = nullptr;
  if (id >= 0x80 && id <= 0x87) {
    r_.audioKind = AudioKind::DolbyDigital;
    prefix = "[b]Dolby Digital[/b] audio stream ";
  } else if (id >= 0x88 && id <= 0x8F) {
    r_.audioKind = AudioKind::Dts;
    prefix = "[b]DTS HD (DTS)[/b] audio stream ";
  } else if (id >= 0xC0 && id <= 0xCF) {
    r_.audioKind = AudioKind::DolbyDigitalPlus;
    prefix = "[b]Dolby Digital[/b] Plus audio stream ";
  } else if (id >= 0xA0 && id <= 0xA7) {
    r_.audioKind = AudioKind::Lpcm;
    prefix = "[b]LPCM[/b] audio stream ";
  } else if (id >= 0xB0 && id <= 0xB7) {
    r_.audioKind = AudioKind::TrueHd;
    prefix = "[b]Dolby TrueHD (MLP)[/b] audio stream ";
  }
  if (prefix != nullptr) {
    r_.AudioSubstreamId = id;
    if (r_.audioKind == AudioKind::DolbyDigital || r_.audioKind == AudioKind::Dts ||
        r_.audioKind == AudioKind::TrueHd)
      r_.AudioSlot = static_cast<std::int32_t>(id & 7);
    if (s_.AudioSlots[r_.AudioSlot] < 0) {
      s_.AudioSlots[r_.AudioSlot] = static_cast<std::int32_t>(id);
      found(prefix, r_.AudioSlot);
      r_.FirstAudioPts = r_.CurrentPts;
    }
  }
  const auto slot = static_cast<std::uint32_t>(r_.AudioSlot);
  if (r_.audioKind == AudioKind::TrueHd) {
    if (id == (slot | 0xB0)) {
      r_.TrueHdHeaderPending = 1;
    } else {
      r_.payloadKind = PayloadKind::Discard;
      r_.InPayload = true;
    }
  } else if (r_.audioKind == AudioKind::Lpcm) {
    if (id == (slot | 0xA0)) {
      r_.LpcmHeaderPending = 3;
    } else {
      r_.payloadKind = PayloadKind::Discard;
      r_.InPayload = true;
    }
  } else {
    r_.payloadKind = id == (slot | r_.AudioSubstreamId) ? PayloadKind::Audio : PayloadKind::Discard;
    r_.InPayload = true;
  }
  r_.CurrentPts = 0;
}

// One byte step at pos; advances pos past the byte, or past a whole run.
void Scanner::step(std::int64_t& pos) {
  const std::uint8_t b = buf_[pos];
  r_.StartCode = (r_.StartCode << 8) | b;

  // A. payload run
  if (r_.InPayload) {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(r_.ChunkLength - pos, r_.PacketRemaining));
    if (r_.payloadKind == PayloadKind::Video || r_.payloadKind == PayloadKind::Audio ||
        r_.payloadKind == PayloadKind::Subpicture)
      payload(pos, n);
    r_.PacketRemaining -= n;
    pos += n;
    if (r_.PacketRemaining == 0) r_.InPayload = false;
    return;
  }

  // B. skipped packet: the rest of it within this chunk passes at once; only
  // its last four bytes matter to the start-code register.
  if (r_.SkipRemaining > 0) {
    const auto k = static_cast<std::int32_t>(std::min<std::int64_t>(r_.ChunkLength - pos, r_.SkipRemaining));
    for (std::int64_t i = std::max<std::int64_t>(pos + 1, pos + k - 4); i < pos + k; ++i)
      r_.StartCode = (r_.StartCode << 8) | buf_[i];
    r_.SkipRemaining -= k;
    r_.PacketRemaining -= k;
    pos += k;
    return;
  }
  ++pos;

  // C. recognised start codes
  const std::uint32_t code = r_.StartCode;
  if ((code & 0xFFFFFF00u) == 0x00000100u) {
    const std::uint8_t id = code & 0xFF;
    bool packetStart = true;
    if (id >= 0xE0 && id <= 0xE3) {
      r_.VideoStreamId = id;
      r_.VideoSlot = id & 1;
      const bool h264 = id >= 0xE2;
      if (s_.VideoSlots[r_.VideoSlot] == -1) {
        s_.VideoSlots[r_.VideoSlot] = id;
        found(h264 ? "H.264 video stream " : "MPEG-2 video stream ", r_.VideoSlot);
        if (!h264) r_.VideoPts = r_.CurrentPts;
      }
      r_.videoCodec = h264 ? VideoCodec::H264 : VideoCodec::Mpeg2;
      r_.payloadKind = PayloadKind::Video;
    } else if (code == kExtendedStreamId) {
      r_.videoCodec = VideoCodec::Vc1;
      r_.payloadKind = PayloadKind::Video;
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
        r_.InPayload = true;
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
      if (x == kVc1ExtensionFirst || x == kVc1ExtensionSecond) {
        r_.VideoStreamId = x;
        r_.VideoSlot = x - kVc1ExtensionFirst;
        if (s_.VideoSlots[r_.VideoSlot] == -1) {
          s_.VideoSlots[r_.VideoSlot] = x;
          found("[b]VC-1[/b] video stream ", r_.VideoSlot);
          r_.VideoPts = r_.CurrentPts;
        }
        r_.payloadKind = PayloadKind::Video;
      } else {
        r_.payloadKind = PayloadKind::Discard;
      }
      if (r_.HeaderDataRemaining == 0) r_.InPayload = true;
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
    if (r_.SubstreamPending == 3 && ((b & 0xE0) == 0x20 || (b & 0xE0) == 0x60))
      substreamId(b);
    else if (r_.SubstreamPending == 0)
      audioDispatch();
    return;
  }

  // N, O. the rest of the LPCM and Dolby TrueHD headers
  if (r_.LpcmHeaderPending > 0) {
    if (!consumeHeaderByte()) return;
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

void Scanner::firstDetails(std::int64_t pos, std::int32_t n) {
  const auto position = static_cast<std::int32_t>(pos);
  auto report = [&](StreamRecord& record, std::uint32_t pts, std::uint32_t id) {
    record.details.clear();
    RecordingSink sink(w_, record);
    sink.log("   First PTS = " + hex(pts, 8));
    sink.log("   Stream id = " + hex(id, 2));
    return sink;
  };
  switch (r_.payloadKind) {
    case PayloadKind::Audio:
      if (r_.AudioSlot >= 0 && r_.AudioSlot < 16 && !s_.AudioReported[r_.AudioSlot]) {
        s_.AudioReported[r_.AudioSlot] = true;
        auto sink = report(s_.audioRecords[r_.AudioSlot], r_.FirstAudioPts, r_.AudioSubstreamId);
        if (r_.FirstAudioPts < s_.EarliestPts) s_.EarliestPts = r_.FirstAudioPts;
        if (r_.audioKind == AudioKind::DolbyDigitalPlus)
          ReportAc3Header(buf_, position, n, r_.AudioSlot, s_.Ac3RateTable, sink);
        else if (r_.audioKind == AudioKind::Dts)
          ReportDtsHeader(buf_, static_cast<std::size_t>(r_.ChunkLength), position, n, sink);
      }
      break;
    case PayloadKind::Video:
      if (r_.VideoSlot >= 0 && r_.VideoSlot < 2 && !s_.VideoReported[r_.VideoSlot]) {
        s_.VideoReported[r_.VideoSlot] = true;
        auto sink = report(s_.videoRecords[r_.VideoSlot], r_.VideoPts, r_.VideoStreamId);
        if (r_.VideoPts < s_.EarliestPts) s_.EarliestPts = r_.VideoPts;
        switch (r_.videoCodec) {
          case VideoCodec::Vc1: ReportVc1Header(buf_, position, n, r_.VideoPts, sink); break;
          case VideoCodec::H264: ReportH264Header(buf_, position, n, sink); break;
          case VideoCodec::Mpeg2: ReportMpeg2Header(buf_, position, n, r_.VideoPts, sink); break;
        }
      }
      break;
    case PayloadKind::Subpicture:
      if (r_.SubpictureSlot >= 0 && r_.SubpictureSlot < 16 && !s_.SubpictureReported[r_.SubpictureSlot]) {
        s_.SubpictureReported[r_.SubpictureSlot] = true;
        auto sink = report(s_.subpictureRecords[r_.SubpictureSlot], r_.FirstSubpicturePts, r_.SubpictureStreamId);
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
      (analysis_ || s_.videoSelected[r_.VideoSlot]) && w_.checked(ControlId::cbCountFr)) {
    CountPictureStarts(buf_, position, n, r_.videoCodec, s_.VideoFrameCounts[r_.VideoSlot],
                       s_.FrameCountWindow[r_.VideoSlot], w_);
  }
  if (analysis_) {
    // Record the first time stamp of every stream, with or without details,
    // for machine-readable reports.
    StreamRecord* record = nullptr;
    std::uint32_t pts = 0;
    if (r_.payloadKind == PayloadKind::Audio && r_.AudioSlot >= 0 && r_.AudioSlot < 16) {
      record = &s_.audioRecords[r_.AudioSlot];
      pts = r_.FirstAudioPts;
    } else if (r_.payloadKind == PayloadKind::Video && r_.VideoSlot >= 0 && r_.VideoSlot < 2) {
      record = &s_.videoRecords[r_.VideoSlot];
      pts = r_.VideoPts;
    } else if (r_.payloadKind == PayloadKind::Subpicture && r_.SubpictureSlot >= 0) {
      record = &s_.subpictureRecords[r_.SubpictureSlot];
      pts = r_.FirstSubpicturePts;
    }
    if (record != nullptr && !record->hasFirstPts) {
      record->hasFirstPts = true;
      record->firstPts = pts;
    }
    if (w_.checked(ControlId::cbDetails)) firstDetails(pos, n);
  } else {
    PayloadContext ctx;
    ctx.kind = r_.payloadKind;
    ctx.videoSlot = r_.VideoSlot;
    ctx.audioSlot = r_.AudioSlot;
    ctx.subpictureSlot = r_.SubpictureSlot;
    ctx.currentPts = &r_.CurrentPts;
    ctx.recordPending = &r_.RecordPending;
    writePayload(s_, ctx, position, n);
  }
}

void Scanner::progress(std::int64_t position, std::int64_t size) {
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart_).count() / 86400.0;
  const double total = elapsed * static_cast<double>(size) / static_cast<double>(position);
  const double remaining = total - elapsed + 1.0 / 86400.0;
  std::string text = std::to_string(position / 0x100000) + "/" + std::to_string(size / 0x100000) +
                     " Mbytes, Remaining time: " + formatLongTime(remaining);
  w_.slog(text, 1);
  w_.processMessages();
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
  w_.setEnabled(ControlId::bCancel, true);
  // However the run ends, Cancel is not left enabled with nothing to cancel.
  struct CancelOff {
    Window& w;
    ~CancelOff() { w.setEnabled(ControlId::bCancel, false); }
  } cancelOff{w_};
  s_.CancelRequested = false;
  s_.ExtractionRunning = !analysis_;
  runStart_ = std::chrono::steady_clock::now();
  s_.fillAc3RateTable();
  s_.resetSlots();
  s_.FrameCountWindow = {};
  if (analysis_) {
    for (auto& record : s_.videoRecords) record = {};
    for (auto& record : s_.audioRecords) record = {};
    for (auto& record : s_.subpictureRecords) record = {};
  }

  InputFile& in = *s_.InputStream;
  while (in.position() < in.size() && !s_.CancelRequested) {
    r_.ChunkLength = static_cast<std::int64_t>(in.readChunk(buf_, kPackBufferSize));
    const std::int64_t position = in.position();
    if (position % kProgressInterval == 0) progress(position, in.size());
    if (analysis_ && position > kFastCheckLimit && w_.checked(ControlId::cbFastCheck)) s_.CancelRequested = true;
    if (position % kRepaintInterval == 0) w_.repaint();
    if (analysis_ && position == static_cast<std::int64_t>(kPackBufferSize)) systemHeaderSummary();
    scanChunk();
  }
  if (s_.CancelRequested) s_.VideoFrameCounts = {};
}

}  // namespace

void demux(ScanState& state, Window& window, ScanMode mode) {
  Scanner scanner(state, window, mode);
  scanner.run();
}

}  // namespace tarnwick
