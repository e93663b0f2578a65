// Read EVO over arbitrary bytes, with details and frame counting on and the
// fast check off, so that every byte is scanned; inputs longer than one
// 0x40000-byte read carry the scanner's state from chunk to chunk.

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarnwick::fuzz::ReadInput read(data, size, true);
  return 0;
}
