#include "matroska/frame_ends.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <vector>

#include "engine/file_io.h"

namespace tarnwick {
namespace {

constexpr std::size_t kWindow = 64 * 1024;  // over four of the largest DTS frames

// The bytes a header needs before its frame size can be read.
std::size_t headerLength(AudioKind kind) { return kind == AudioKind::Dts ? 10 : 6; }

// Dolby Digital frame sizes in 16-bit words at 48 kHz come from the bit
// rate; 44.1 kHz rounds down and adds a word in the odd codes; 32 kHz is
// three words a kbit/s.
constexpr std::array<int, 19> kAc3Kbps = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160,
                                           192, 224, 256, 320, 384, 448, 512, 576, 640};

bool isDtsCore(const std::uint8_t* p) { return p[0] == 0x7F && p[1] == 0xFE && p[2] == 0x80 && p[3] == 0x01; }

// The size of the frame whose header starts at p (headerLength bytes are
// there), 0 when no valid header starts there.
std::size_t frameSize(const std::uint8_t* p, AudioKind kind) {
  if (kind == AudioKind::Dts) {
    if (isDtsCore(p)) {
      const std::size_t fsize = (static_cast<std::size_t>(p[5] & 0x03) << 12) | (static_cast<std::size_t>(p[6]) << 4) |
                                (p[7] >> 4);
      return fsize >= 95 ? fsize + 1 : 0;
    }
    if (p[0] == 0x64 && p[1] == 0x58 && p[2] == 0x20 && p[3] == 0x25) {
      // The extension substream of DTS-HD: after 8 user bits and a 2-bit
      // index, one bit chooses 8+16 or 12+20 bits of header and frame size.
      std::uint64_t bits = 0;
      for (int i = 4; i < 10; ++i) bits = bits << 8 | p[i];
      const int wide = static_cast<int>(bits >> 37 & 1);
      const int headerBits = wide ? 12 : 8, sizeBits = wide ? 20 : 16;
      const int sizeShift = 37 - headerBits - sizeBits;
      const std::size_t header = static_cast<std::size_t>(bits >> (37 - headerBits) & ((1u << headerBits) - 1)) + 1;
      const std::size_t size = static_cast<std::size_t>(bits >> sizeShift & ((1u << sizeBits) - 1)) + 1;
      return size >= header && header >= 16 ? size : 0;
    }
    return 0;
  }
  if (p[0] != 0x0B || p[1] != 0x77) return 0;
  const int bsid = p[5] >> 3;
  if (bsid > 10 && bsid <= 16) return ((static_cast<std::size_t>(p[2] & 0x07) << 8 | p[3]) + 1) * 2;
  if (bsid > 10) return 0;
  const int fscod = p[4] >> 6, code = p[4] & 0x3F;
  if (fscod == 3 || code > 37) return 0;
  const int kbps = kAc3Kbps[static_cast<std::size_t>(code / 2)];
  const int words = fscod == 0 ? 2 * kbps : fscod == 2 ? 3 * kbps : kbps * 96000 / 44100 + (code & 1);
  return static_cast<std::size_t>(words) * 2;
}

struct Walk {
  int headers = 0;          // valid headers met in a row
  std::size_t wholeEnd = 0;  // where the last frame that lies whole in the bytes ends
};

// Follows frames from `from` until the bytes end; nullopt when a header
// that is all there is not valid.
std::optional<Walk> walk(const std::uint8_t* data, std::size_t size, std::size_t from, AudioKind kind) {
  Walk w;
  std::size_t at = from;
  std::size_t coreAt = size;  // the DTS core frame whose extensions follow, if any
  w.wholeEnd = at;
  while (size - at >= headerLength(kind)) {
    const std::size_t frame = frameSize(data + at, kind);
    if (frame == 0) return std::nullopt;
    ++w.headers;
    if (frame > size - at) {
      // A DTS-HD frame is a core and the extensions after it: mkvmerge
      // drops the core with an incomplete extension.
      if (kind == AudioKind::Dts && !isDtsCore(data + at) && coreAt < at) w.wholeEnd = coreAt;
      break;
    }
    if (kind == AudioKind::Dts && isDtsCore(data + at)) coreAt = at;
    at += frame;
    w.wholeEnd = at;
  }
  return w;
}

// The first place where two or more frames follow each other to the end of
// the bytes, with where their last whole frame ends.
std::optional<std::pair<std::size_t, std::size_t>> firstRun(const std::uint8_t* data, std::size_t size,
                                                            AudioKind kind) {
  for (std::size_t i = 0; i + headerLength(kind) <= size; ++i) {
    const std::optional<Walk> w = walk(data, size, i, kind);
    if (w && w->headers >= 2) return std::pair{i, w->wholeEnd};
  }
  return std::nullopt;
}

std::vector<std::uint8_t> readAt(std::ifstream& in, std::int64_t offset, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  in.seekg(offset);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return bytes;
}

}  // namespace

std::optional<FrameEnds> audioFrameEnds(const std::string& path, AudioKind kind) {
  if (kind != AudioKind::DolbyDigital && kind != AudioKind::DolbyDigitalPlus && kind != AudioKind::Dts)
    return std::nullopt;
  std::ifstream in(pathFromUtf8(path), std::ios::binary | std::ios::ate);
  if (!in) return std::nullopt;
  const std::int64_t size = in.tellg();
  if (size <= 0) return std::nullopt;
  const std::size_t window = static_cast<std::size_t>(std::min<std::int64_t>(size, kWindow));
  const std::vector<std::uint8_t> head = readAt(in, 0, window);
  const std::vector<std::uint8_t> tail = readAt(in, size - static_cast<std::int64_t>(window), window);
  if (head.size() != window || tail.size() != window) return std::nullopt;
  const auto first = firstRun(head.data(), head.size(), kind);
  const auto last = firstRun(tail.data(), tail.size(), kind);
  if (!first || !last) return std::nullopt;
  return FrameEnds{static_cast<std::int64_t>(first->first), static_cast<std::int64_t>(window - last->second)};
}

}  // namespace tarnwick
