// Rebuild over arbitrary bytes: Read EVO, then some of the streams it found
// unticked (chosen by the input's last byte, so both keeping and dropping
// are fuzzed), then Rebuild into a scratch folder. Bytes whose pack
// headers do not stand every 2048 bytes end the run with a FileError, as
// they should.

#include <string>

#include "engine/file_io.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  fuzz::ReadInput read(data, size, false);
  const unsigned choice = size > 0 ? data[size - 1] : 0;
  int k = 0;
  for (ControlId box : outputBoxes())
    if (read.window.enabled(box) && ((choice >> (k++ % 8)) & 1) != 0) read.main.toggleBox(box, false);
  if (!read.window.enabled(ControlId::bRebuild)) return 0;
  try {
    read.main.bRebuildClick();
  } catch (const FileError& error) {
    if (std::string(error.what()).find("packs are not 2048 bytes long") == std::string::npos) throw;
  }
  return 0;
}
