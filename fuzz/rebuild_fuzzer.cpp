// Rebuild over arbitrary bytes: Read EVO, then some of the streams it found
// unticked (chosen by the input's last byte, so both keeping and dropping
// are fuzzed), then Rebuild into a scratch folder.

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  fuzz::ReadInput read(data, size, false);
  const unsigned choice = size > 0 ? data[size - 1] : 0;
  int k = 0;
  for (ControlId box : outputBoxes())
    if (read.window.enabled(box) && ((choice >> (k++ % 8)) & 1) != 0) read.main.toggleBox(box, false);
  if (read.window.enabled(ControlId::bRebuild)) read.main.bRebuildClick();
  return 0;
}
