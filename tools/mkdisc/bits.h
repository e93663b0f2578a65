#pragma once
// Small byte and bit helpers shared by the essence synthesisers.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnwick::mkdisc {

using Bytes = std::vector<std::uint8_t>;

// Writes fields most significant bit first, as the video and subpicture headers are laid out.
class BitWriter {
 public:
  void put(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) putBit((value >> i) & 1u);
  }
  void putBit(unsigned bit) {
    cur_ = static_cast<std::uint8_t>((cur_ << 1) | (bit & 1u));
    if (++used_ == 8) flushByte();
  }
  // Pads to a byte boundary with `bit`.
  void align(unsigned bit) {
    while (used_ != 0) putBit(bit);
  }
  bool aligned() const { return used_ == 0; }
  const Bytes& bytes() const { return out_; }

 private:
  void flushByte() {
    out_.push_back(cur_);
    cur_ = 0;
    used_ = 0;
  }
  Bytes out_;
  std::uint8_t cur_ = 0;
  int used_ = 0;
};

inline void put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

inline void put32(Bytes& out, std::uint32_t v) {
  put16(out, v >> 16);
  put16(out, v & 0xFFFF);
}

inline void set16(Bytes& out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v >> 8);
  out[at + 1] = static_cast<std::uint8_t>(v);
}

inline void set32(Bytes& out, std::size_t at, std::uint32_t v) {
  set16(out, at, v >> 16);
  set16(out, at + 2, v & 0xFFFF);
}

// Whether 00 00 01 occurs anywhere in the bytes.
inline bool hasStartCodePrefix(const Bytes& b) {
  for (std::size_t i = 2; i < b.size(); ++i)
    if (b[i] == 1 && b[i - 1] == 0 && b[i - 2] == 0) return true;
  return false;
}

}  // namespace tarnwick::mkdisc
