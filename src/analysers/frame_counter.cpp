#include "analysers/frame_counter.h"

#include <cstring>

namespace tarnwick {

void CountPictureStarts(const std::uint8_t* buffer, std::int32_t position, std::int32_t length, VideoCodec codec,
                        std::int32_t& count, std::uint32_t& window, LogSink& sink) {
  if (length <= 0) return;
  std::uint8_t marker = 0;
  switch (codec) {
    case VideoCodec::Mpeg2: marker = 0x00; break;
    case VideoCodec::H264: marker = 0x09; break;
    case VideoCodec::Vc1: marker = 0x0D; break;
    default:
      for (std::int32_t i = 0; i < length; ++i) sink.log("Unidentified video stream type!");
      return;
  }
  const std::uint32_t wanted = 0x00000100u | marker;
  const std::uint8_t* run = buffer + position;
  const auto n = static_cast<std::size_t>(length);

  // Markers ending in the first three bytes may begin in the previous run:
  // go through those bytes with the carried window.
  const std::size_t head = n < 3 ? n : 3;
  std::uint32_t w = window;
  for (std::size_t i = 0; i < head; ++i) {
    w = (w << 8) | run[i];
    if (w == wanted) ++count;
  }
  // Every later marker lies wholly inside the run: find its 01 byte quickly.
  if (n > 3) {
    const std::uint8_t* p = run + 2;
    const std::uint8_t* const last = run + n - 1;  // the 01 byte needs one byte after it
    while (p < last) {
      p = static_cast<const std::uint8_t*>(std::memchr(p, 0x01, static_cast<std::size_t>(last - p)));
      if (p == nullptr) break;
      if (p[1] == marker && p[-1] == 0 && p[-2] == 0) ++count;
      ++p;
    }
    w = (std::uint32_t{run[n - 4]} << 24) | (std::uint32_t{run[n - 3]} << 16) | (std::uint32_t{run[n - 2]} << 8) |
        run[n - 1];
  }
  window = w;
}

}  // namespace tarnwick
