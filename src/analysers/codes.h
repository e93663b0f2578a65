#pragma once
// Stream kind codes shared by the scanner, the analysers and the writer.

#include <cstdint>

namespace tarnwick {

enum class VideoCodec : std::uint8_t { Mpeg2 = 0, H264 = 1, Vc1 = 2 };

enum class AudioKind : std::uint8_t { DolbyDigital = 0, DolbyDigitalPlus = 1, Dts = 2, Lpcm = 3, TrueHd = 4 };

// The channels an audio frame header announces: full-band channels (0 when
// no header was read or it names no fixed layout) and whether a
// low-frequency effects channel comes with them.
struct AudioChannels {
  int fullBand = 0;
  bool lfe = false;
  bool operator==(const AudioChannels&) const = default;
};

enum class PayloadKind : std::uint8_t {
  Video = 0,
  Audio = 1,         // accepted private-stream-1 audio
  Discard = 2,
  SkipPacket = 3,
  MpegAudio = 4,
  Substream = 5,     // private stream 1, substream not known yet
  Subpicture = 6,
  NoPacket = 8,
};

}  // namespace tarnwick
