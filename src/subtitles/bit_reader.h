#pragma once
// Reads bit fields most significant bit first from [begin, end) and never
// past it: a read past the end returns zero and sets a sticky flag that the
// caller checks once after a run or a line.

#include <cstddef>
#include <cstdint>

namespace tarnwick::subtitles {

class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t begin, std::size_t end)
      : data_(data), bit_(begin * 8), end_(end * 8), endByte_(end) {}

  // 1 to 24 bits at a time.
  std::uint32_t get(int bits) {
    if (end_ - bit_ < static_cast<std::size_t>(bits) || bit_ > end_) {
      overrun_ = true;
      bit_ = end_;
      return 0;
    }
    const std::size_t byte = bit_ >> 3;
    std::uint32_t window = 0;
    if (byte + 4 <= endByte_) {
      window = static_cast<std::uint32_t>(data_[byte]) << 24 | static_cast<std::uint32_t>(data_[byte + 1]) << 16 |
               static_cast<std::uint32_t>(data_[byte + 2]) << 8 | data_[byte + 3];
    } else {
      for (std::size_t i = 0; i < 4; ++i) window = window << 8 | (byte + i < endByte_ ? data_[byte + i] : 0u);
    }
    const std::uint32_t value = (window << (bit_ & 7)) >> (32 - bits);
    bit_ += static_cast<std::size_t>(bits);
    return value;
  }
  void alignToByte() { bit_ = (bit_ + 7) & ~static_cast<std::size_t>(7); }
  bool overrun() const { return overrun_; }

 private:
  const std::uint8_t* data_;
  std::size_t bit_;
  std::size_t end_;
  std::size_t endByte_;
  bool overrun_ = false;
};

inline std::uint32_t readBe16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0]) << 8 | p[1]; }
inline std::uint32_t readBe32(const std::uint8_t* p) { return readBe16(p) << 16 | readBe16(p + 2); }

}  // namespace tarnwick::subtitles
