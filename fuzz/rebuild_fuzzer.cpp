// Rebuild over arbitrary bytes: Read EVO, then some of the streams it found
// unticked (chosen by the input's last byte, so both keeping and dropping
// are fuzzed), then Rebuild into a scratch folder.

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
  window.setChecked(ControlId::cbDetails, false);
  window.setText(ControlId::eWorkdir, (fuzz::scratchFolder() / "out").string());
  main.WMDropFiles({path});
  main.bCheckClick();
  const unsigned choice = size > 0 ? data[size - 1] : 0;
  int k = 0;
  for (ControlId box : outputBoxes())
    if (window.enabled(box) && ((choice >> (k++ % 8)) & 1) != 0) main.toggleBox(box, false);
  if (window.enabled(ControlId::bRebuild)) main.bRebuildClick();
  return 0;
}
