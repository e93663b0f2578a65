#include "analysers/dts_header.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace tarnwick {
namespace {

// Sync words of the core frame and of the XCh and X96 extensions (ETSI TS 102 114).
constexpr std::uint32_t kCoreSync = 0x7FFE8001;
constexpr std::uint32_t kChannelExtensionSync = 0x5A5A5A5A;
constexpr std::uint32_t kX96Sync = 0x1D95F262;

// Report texts of the core frame header fields (TS 102 114), by code.
// AMODE: codes 16..63 are user defined.
constexpr const char* kAmode[16] = {
    "A (mono)",
    "A+B (dual mono)",
    "L + R (stereo)",
    "(L+R) + (L-R) (sum-difference)",
    "LT + RT (left and right total)",
    "C + L + R",
    "L + R + S",
    "C + L + R + S",
    "L + R + SL + SR",
    "C + L + R + SL + SR",
    "CL + CR + L + R + SL + SR",
    "C + L + R + LR + RR + OV",
    "CF + CR + LF + RF + LR + RR",
    "CL + C + CR + L + R + SL + SR",
    "CL + CR + L + R + SL1 + SL2 + SR1 + SR2",
    "CL + C + CR + L + R + SL + S + SR",
};

// Full-band channels by AMODE.
constexpr int kFullBandChannels[16] = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 6, 7, 8, 8};

// SFREQ.
constexpr const char* kSfreq[16] = {"Invalid",    "8 kHz",     "16 kHz",   "32 kHz",  "Invalid", "Invalid",
                                    "11,025 kHz", "22,05 kHz", "44,1 kHz", "Invalid", "Invalid", "12 kHz",
                                    "24 kHz",     "48 kHz",    "Invalid",  "Invalid"};

// RATE, in kbit/s.
constexpr const char* kRate[32] = {"32",   "56",   "64",   "96",   "112",  "128",  "192",      "224",
                                   "256",  "320",  "384",  "448",  "512",  "576",  "640",      "768",
                                   "960",  "1024", "1152", "1280", "1344", "1408", "1411,2",   "1472",
                                   "1536", "1920", "2048", "3072", "3840", "open", "Variable", "Loss-less"};

// EXT_AUDIO_ID.
constexpr const char* kExtAudioId[8] = {
    "Channel extension", "Reserved", "Frequency extension", "Channel and Frequency extension", "Reserved", "Reserved",
    "Reserved",          "Reserved"};

// LFF.
constexpr const char* kLff[4] = {"not present", "present (IF:128)", "present (IF:64)", "invalid"};

// PCMR.
constexpr const char* kPcmr[8] = {"16 bits", "16 bits, DTS ES", "20 bits", "20 bits, DTS ES",
                                  "",        "24 bits, DTS ES", "24 bits", ""};

// VERNUM: 7 is the current revision.
const char* revisionText(std::uint32_t vernum) {
  if (vernum < 7) return ", Future rev. (compatible)";
  if (vernum == 7) return ", Current";
  return ", Future rev. (incompatible";
}

// Most significant bit first, 24 to 32 bits loaded ahead in a 32-bit buffer;
// the position is shared with the sync search so that header bytes are not
// searched again. Bytes at or past validLength are never read: they load as
// zero bits, and a field that would take any of them fails, as does every
// field after it.
class BitReader {
 public:
  BitReader(const std::uint8_t* buffer, std::int64_t validLength, std::int64_t& position)
      : buffer_(buffer), validLength_(validLength), position_(position) {}

  void start() {
    const std::int64_t validBytes = validLength_ - position_;
    validBits_ = validBytes > 0 ? validBytes * 8 : 0;
    used_ = 0;
    count_ = 0;
    bits_ = 0;
    for (int k = 0; k < 4; ++k) bits_ = (bits_ << 8) | next();
  }

  std::uint32_t read(int n) {
    const std::uint32_t value = bits_ >> (32 - n);
    skip(n);
    return value;
  }

  void skip(int n) {
    if (used_ + n > validBits_) failed_ = true;
    used_ += n;
    for (int k = 0; k < n; ++k) {
      bits_ <<= 1;
      if (++count_ == 8) {
        bits_ |= next();
        count_ = 0;
      }
    }
  }

  // Every field read so far lay wholly within the valid bytes.
  bool ok() const { return !failed_; }
  std::uint32_t bits() const { return bits_; }

 private:
  std::uint8_t next() {
    const std::uint8_t b = position_ < validLength_ ? buffer_[position_] : 0;
    ++position_;
    return b;
  }

  const std::uint8_t* buffer_;
  std::int64_t validLength_;
  std::int64_t& position_;
  std::uint32_t bits_ = 0;
  int count_ = 0;          // bits used from the newest byte
  std::int64_t used_ = 0;  // bits read or skipped since start
  std::int64_t validBits_ = 0;
  bool failed_ = false;
};

// Reads the core frame header that follows a sync word, in bit-stream order,
// and logs it field by field. False when a field ran past the valid bytes:
// the fields before it are logged, nothing after.
// The first header to reach LFF gives `channels`.
bool reportCoreHeader(BitReader& reader, LogSink& sink, AudioChannels& channels) {
  reader.start();
  reader.skip(1);  // FTYPE
  const std::uint32_t SHORT = reader.read(5);
  if (!reader.ok()) return false;
  sink.log("   PCM core samples = " + std::to_string(SHORT + 1));

  const std::uint32_t CPF = reader.read(1);
  const std::uint32_t NBLKS = reader.read(7);
  if (!reader.ok()) return false;
  sink.log("   PCM sample blocks = " + std::to_string(NBLKS + 1));

  const std::uint32_t FSIZE = reader.read(14);
  if (!reader.ok()) return false;
  sink.log("   Primary frame byte size = " + std::to_string(FSIZE));

  const std::uint32_t AMODE = reader.read(6);
  if (!reader.ok()) return false;
  sink.log(std::string("   Audio channel arrangement = ") + (AMODE < 16 ? kAmode[AMODE] : "User defined"));

  const std::uint32_t SFREQ = reader.read(4);
  if (!reader.ok()) return false;
  sink.log(std::string("   Core audio sampling frequency = ") + kSfreq[SFREQ]);

  const std::uint32_t RATE = reader.read(5);
  if (!reader.ok()) return false;
  sink.log(std::string("   Transmission bitrate = ") + kRate[RATE] + " kbit/s");

  reader.skip(5);  // FixedBit, DYNF, TIMEF, AUXF, HDCD
  const std::uint32_t EXT_AUDIO_ID = reader.read(3);
  const std::uint32_t EXT_AUDIO = reader.read(1);
  if (!reader.ok()) return false;
  if (EXT_AUDIO == 1) sink.log(std::string("   Extension audio = ") + kExtAudioId[EXT_AUDIO_ID]);

  reader.skip(1);  // ASPF
  const std::uint32_t LFF = reader.read(2);
  if (!reader.ok()) return false;
  sink.log(std::string("   LFE present = ") + kLff[LFF]);
  // Codes 16..63 are user defined: no layout to count.
  if (channels.fullBand == 0 && AMODE < 16) channels = {kFullBandChannels[AMODE], LFF == 1 || LFF == 2};

  reader.skip(1);  // HFLAG
  if (CPF == 1) {
    const std::uint32_t HCRC = reader.read(16);
    if (!reader.ok()) return false;
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(HCRC));
    sink.log(std::string("   Header CRC = ") + hex);
  }

  reader.skip(1);  // FILTS
  const std::uint32_t VERNUM = reader.read(4);
  if (!reader.ok()) return false;
  sink.log("   Encoder software rev. = " + std::to_string(VERNUM) + revisionText(VERNUM));

  reader.skip(2);  // CHIST
  const std::uint32_t PCMR = reader.read(3);
  if (!reader.ok()) return false;
  sink.log(std::string("   Source PCM resolution = ") + kPcmr[PCMR]);
  return true;
}

}  // namespace

AudioChannels ReportDtsHeader(const std::uint8_t* buffer, std::size_t validLength, std::int32_t position,
                              std::int32_t length, LogSink& sink) {
  AudioChannels channels;
  if (buffer == nullptr || position < 0) return channels;
  const auto valid = static_cast<std::int64_t>(validLength);
  // The run's last byte is never shifted in, so a sync word ending on it is not seen.
  const std::int64_t end = std::min(static_cast<std::int64_t>(position) + length - 1, valid);

  std::int64_t pos = position;
  std::uint32_t window = 0;
  BitReader reader(buffer, valid, pos);
  while (pos < end) {
    window = (window << 8) | buffer[pos++];
    if (window == kCoreSync) {
      // The header's bytes are consumed; the search resumes behind them.
      if (!reportCoreHeader(reader, sink, channels)) return channels;
      window = reader.bits();
    } else if (window == kChannelExtensionSync) {
      sink.log("   Channel extension found");
    } else if (window == kX96Sync) {
      sink.log("   96 kHz extensiond found");
    }
  }
  return channels;
}

}  // namespace tarnwick
