// Read XPL over arbitrary bytes, with FEATURE_1.EVO chosen so that a title
// naming it is cut out, listed and labelled.

#include "engine/file_io.h"
#include "fuzz_input.h"
#include "playlist/chapters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  const std::string path = (fuzz::scratchFolder() / "ADV_OBJ" / "VPLST000.XPL").string();
  fuzz::writeInput(path, data, size);
  ModelWindow window;
  TfMain main(window);
  main.FormActivate();
  main.WMDropFiles({(fuzz::scratchFolder() / "HVDVD_TS" / "FEATURE_1.EVO").string()});
  try {
    main.bReadXPLClick();
  } catch (const ConversionError&) {
    return 0;
  } catch (const NotAPlaylistError&) {
    return 0;
  }
  simpleChapters(main.playlistTitle());
  return 0;
}
