// Demux over arbitrary bytes: Read EVO ticks every stream it finds, then
// Demux writes them all (frame counting on) into a scratch folder.

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarnwick::fuzz::ReadInput read(data, size, true);
  if (read.window.enabled(tarnwick::ControlId::bDemux)) read.main.bDemuxClick();
  return 0;
}
