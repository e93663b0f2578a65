#include "analysers/ac3_header.h"

#include <string>

#include "analysers/number_format.h"

namespace tarnwick {
namespace {

constexpr std::uint16_t kSyncword = 0x0B77;

// Offsets into Ac3RateTable: sampling rates by fscod, then nominal bit rates
// by frmsizecod / 2 (ATSC A/52 Tables 5.6 and 5.18; frmsizecod 0..37).
constexpr std::size_t kSampleRateEntries = 4;
constexpr std::size_t kBitRateEntries = 19;

// Blocks per frame by numblkscod (A/52 Annex E).
constexpr std::uint32_t kBlocksPerFrame[4] = {1, 2, 3, 6};

// Audio coding mode by acmod, front/rear channels (A/52 Table 5.8).
constexpr const char* kModeName[8] = {"1+1", "1/0", "2/0", "3/0", "2/1", "3/1", "2/2", "3/2"};

// Full-band channels by acmod.
constexpr int kFullBandChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};

// lfeon's place in the A/52 byte that starts with acmod: behind cmixlev when
// there are three front channels, surmixlev when there are surround
// channels, dsurmod in 2/0 mode (A/52 5.4.2.4 to 5.4.2.7).
std::uint32_t a52Lfeon(std::uint8_t b) {
  const std::uint32_t acmod = b >> 5;
  int bits = 3;
  if ((acmod & 1) != 0 && acmod != 1) bits += 2;  // cmixlev
  if ((acmod & 4) != 0) bits += 2;                // surmixlev
  if (acmod == 2) bits += 2;                      // dsurmod
  return (b >> (7 - bits)) & 1u;
}

// bsid 11..16 announces the Annex E syntax; anything else is read as A/52 proper.
bool isEnhanced(std::uint32_t bsid) { return bsid >= 11 && bsid <= 16; }

}  // namespace

AudioChannels ReportAc3Header(const std::uint8_t* buffer, std::int32_t position, std::int32_t length,
                              std::int32_t stream, const std::array<std::uint32_t, 23>& Ac3RateTable, LogSink& sink) {
  AudioChannels channels;
  if (buffer == nullptr || position < 0 || length <= 0) return channels;

  std::uint16_t window = 0;
  bool locked = false;
  int countdown = 0;  // header bytes still to gather; 0 when idle
  std::uint32_t frmsiz = 0;
  std::uint32_t samplingRate = 0;
  std::uint32_t bitRate = 0;
  std::uint32_t blocksPerFrame = 0;
  std::uint32_t acmod = 0;
  std::uint32_t lfeon = 0;
  std::uint32_t bsid = 0;
  std::uint32_t bsmod = 0;

  const std::int64_t end = static_cast<std::int64_t>(position) + length;
  for (std::int64_t i = position; i < end; ++i) {
    const std::uint8_t b = buffer[i];
    window = static_cast<std::uint16_t>((window << 8) | b);
    if (window == kSyncword) {
      // A sync pattern inside a header being gathered is not gathered itself.
      if (!locked) {
        countdown = 5;
        locked = true;
      }
      continue;
    }
    if (countdown == 0) continue;

    switch (--countdown) {
      case 4:  // strmtyp, substreamid, then the top of frmsiz (crc1 in A/52 frames)
        frmsiz = (b & 0x07u) << 8;
        break;
      case 3:
        frmsiz |= b;
        break;
      case 2: {  // fscod + frmsizecod, or fscod + numblkscod + acmod + lfeon
        const std::uint32_t fscod = b >> 6;
        const std::uint32_t frmsizecod = b & 0x3Fu;
        samplingRate = Ac3RateTable[fscod];
        // frmsizecod 38..63 is reserved: no nominal rate, reported as 0.
        const std::uint32_t rateIndex = frmsizecod / 2;
        bitRate = rateIndex < kBitRateEntries ? Ac3RateTable[kSampleRateEntries + rateIndex] : 0;
        blocksPerFrame = kBlocksPerFrame[(b >> 4) & 0x03u];
        acmod = (b >> 1) & 0x07u;
        lfeon = b & 0x01u;
        break;
      }
      case 1:
        bsid = b >> 3;
        bsmod = b & 0x07u;  // dialnorm's top bits in Annex E frames
        break;
      case 0: {
        const std::string rate = formatGeneral(samplingRate / 1000.0);
        if (isEnhanced(bsid)) {
          const std::uint32_t frameBytes = (frmsiz + 1) * 2;
          if (samplingRate == 0) {
            // fscod 3 (the half rates of fscod2) is not decoded, so neither is the rate.
            locked = false;
            bitRate = 0;
          } else {
            // 256 samples per block at the frame's own sampling rate.
            bitRate = static_cast<std::uint32_t>(static_cast<std::uint64_t>(frameBytes) * 8 * samplingRate /
                                                 (blocksPerFrame * 256));
          }
          sink.log("   Stream " + std::to_string(stream) + " is [b]Dolby Digital Plus[/b]");
          sink.log("   frame size = " + std::to_string(frameBytes) +
                   ", number of blocks per frame = " + std::to_string(blocksPerFrame));
          sink.log("   bitrate = " + std::to_string(bitRate / 1000) + " kbit/s, sampling rate = " + rate + " kHz");
          sink.log("   mode = " + std::string(kModeName[acmod]) + ", bsid = " + std::to_string(bsid) +
                   ", LFE present = " + std::to_string(lfeon));
        } else {
          acmod = b >> 5;
          lfeon = a52Lfeon(b);
          if (samplingRate == 0 || bitRate == 0) locked = false;
          sink.log("   Stream " + std::to_string(stream) + " is [b]Dolby Digital[/b]");
          sink.log("   bitrate = " + std::to_string(bitRate / 1000) + " kbit/s, sampling rate = " + rate + " kHz");
          sink.log("   mode = " + std::string(kModeName[acmod]) + ", bsid = " + std::to_string(bsid) +
                   ", bsmod =" + std::to_string(bsmod));
        }
        // A header taken as valid stays the only one read.
        if (locked) channels = {kFullBandChannels[acmod], lfeon == 1};
        break;
      }
    }
  }
  return channels;
}

}  // namespace tarnwick
