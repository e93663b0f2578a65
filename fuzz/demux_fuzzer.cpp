// Demux over arbitrary bytes: Read EVO ticks every stream it finds, then
// Demux writes them all (frame counting on) into a scratch folder.

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
  window.setText(ControlId::eWorkdir, (fuzz::scratchFolder() / "out").string());
  main.WMDropFiles({path});
  main.bCheckClick();
  if (window.enabled(ControlId::bDemux)) main.bDemuxClick();
  return 0;
}
