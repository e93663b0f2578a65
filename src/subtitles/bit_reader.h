#pragma once
// Reads bit fields most significant bit first from [begin, end) and never
// past it: a read past the end returns zeros and sets a sticky flag that the
// caller checks once after a run or a line.

#include <cstddef>
#include <cstdint>

namespace tarnwick::subtitles {

class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t begin, std::size_t end)
      : data_(data), bit_(begin * 8), end_(end * 8) {}

  std::uint32_t get(int bits) {
    std::uint32_t v = 0;
    for (int i = 0; i < bits; ++i) {
      v <<= 1;
      if (bit_ >= end_) {
        overrun_ = true;
        continue;
      }
      v |= (data_[bit_ >> 3] >> (7 - (bit_ & 7))) & 1u;
      ++bit_;
    }
    return v;
  }
  void alignToByte() { bit_ = (bit_ + 7) & ~static_cast<std::size_t>(7); }
  bool overrun() const { return overrun_; }

 private:
  const std::uint8_t* data_;
  std::size_t bit_;
  std::size_t end_;
  bool overrun_ = false;
};

inline std::uint32_t readBe16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0]) << 8 | p[1]; }
inline std::uint32_t readBe32(const std::uint8_t* p) { return readBe16(p) << 16 | readBe16(p + 2); }

}  // namespace tarnwick::subtitles
