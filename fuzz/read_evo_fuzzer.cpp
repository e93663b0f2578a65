// Read EVO over arbitrary bytes, with details and frame counting on and the
// fast check off, so that every byte is scanned; inputs longer than one
// 0x40000-byte read carry the scanner's state from chunk to chunk.

#include "app/model_window.h"
#include "app/tf_main.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  const std::string path = (fuzz::scratchFolder() / "HVDVD_TS" / "FEATURE_1.EVO").string();
  fuzz::writeInput(path, data, size);
  ModelWindow window;
  TfMain main(window);
  main.FormActivate();
  window.setChecked(ControlId::cbContinue, false);
  window.setChecked(ControlId::cbFastCheck, false);
  window.setChecked(ControlId::cbDetails, true);
  window.setChecked(ControlId::cbCountFr, true);
  main.WMDropFiles({path});
  main.bCheckClick();
  return 0;
}
