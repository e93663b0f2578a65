#include <cstdint>
#include <string>

#include "app/busy_scope.h"
#include "app/file_names.h"
#include "app/input_scope.h"
#include "app/tf_main.h"
#include "engine/scanner.h"
#include "engine/time_format.h"

namespace tarnwick {

void TfMain::bCheckClick() {
  if (busy_) return;
  BusyScope busy(*this, {ControlId::bbEVO, ControlId::bbXPL, ControlId::bReadXPL});
  window_.setEnabled(ControlId::bCheck, false);
  window_.setEnabled(ControlId::bDemux, false);
  window_.setEnabled(ControlId::bRebuild, false);
  Resetcbs();
  window_.showPage(0);
  scan_.VideoFrameCounts = {};
  scan_.EarliestPts = 0xFFFFFFFF;
  const Continuation second = continuationSetUp();

  window_.log("Opening file [b]" + files_.EvoFileName + "[/b]");
  InputScope inputScope(scan_);
  scan_.InputStream.emplace(window_.text(ControlId::eEVOfile));
  window_.slog("Reading " + namePart(scan_.InputStream->path()), 0);
  window_.log("File size: " + std::to_string(scan_.InputStream->size() / 1048576) + " Mbytes.");
  demux(scan_, window_, ScanMode::Analysis);

  continueOnSecond(second, "Reading", [&] { demux(scan_, window_, ScanMode::Analysis); });
  scan_.InputStream.reset();

  Fillcbs();
  logDone();
  for (int n = 0; n < 2; ++n) {
    const std::int32_t count = scan_.VideoFrameCounts[n];
    if (count <= 0) continue;
    // Pictures at 24000/1001 per second, computed in this order.
    const double days = static_cast<double>(count) / 24000 * 1001 / 86400;
    window_.log(std::to_string(count) + " frames ([b]" + formatLongTime(days) + " s[/b]) count in video stream " +
                std::to_string(n) + ".");
  }
  if (static_cast<std::int64_t>(scan_.VideoFrameCounts[0]) + scan_.VideoFrameCounts[1] > 0) window_.log("");
  window_.setEnabled(ControlId::bCheck, true);
  cbVideoClick();
}

}  // namespace tarnwick
