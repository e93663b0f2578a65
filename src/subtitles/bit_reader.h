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
      : data_(data), next_(begin), end_(begin <= end ? end : begin) {}

  // 1 to 24 bits at a time.
  std::uint32_t get(int bits) {
    if (held_ < bits) {
      refill();
      if (held_ < bits) {
        overrun_ = true;
        cache_ = 0;
        held_ = 0;
        return 0;
      }
    }
    const auto value = static_cast<std::uint32_t>(cache_ >> (64 - bits));
    cache_ <<= bits;
    held_ -= bits;
    return value;
  }
  // The bits still held past a byte boundary belong to the byte already
  // begun: the next read starts at the following byte.
  void alignToByte() {
    const int partial = held_ & 7;
    cache_ <<= partial;
    held_ -= partial;
  }
  bool overrun() const { return overrun_; }

 private:
  // Tops the cache up to at least 57 bits while bytes remain; the cache
  // holds its bits from the top, zeros below them.
  void refill() {
    if (end_ - next_ >= 8) {
      std::uint64_t word = 0;
      for (int i = 0; i < 8; ++i) word = word << 8 | data_[next_ + static_cast<std::size_t>(i)];
      const int take = (63 - held_) >> 3;  // whole bytes that fit
      word >>= 64 - 8 * take;
      cache_ |= word << (64 - 8 * take - held_);
      next_ += static_cast<std::size_t>(take);
      held_ += 8 * take;
      return;
    }
    while (held_ <= 56 && next_ < end_) {
      cache_ |= static_cast<std::uint64_t>(data_[next_++]) << (56 - held_);
      held_ += 8;
    }
  }

  const std::uint8_t* data_;
  std::size_t next_;  // the next byte to load into the cache
  std::size_t end_;
  std::uint64_t cache_ = 0;
  int held_ = 0;  // bits in the cache
  bool overrun_ = false;
};

inline std::uint32_t readBe16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0]) << 8 | p[1]; }
inline std::uint32_t readBe32(const std::uint8_t* p) { return readBe16(p) << 16 | readBe16(p + 2); }

}  // namespace tarnwick::subtitles
