#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/file_names.h"
#include "app/tf_main.h"

namespace tarnwick {

std::string VideoKindName(std::int32_t id) {
  if (id == 0x55 || id == 0x56) return "VC-1.stream";
  if (id == 0xE0 || id == 0xE1) return "MPEG-2.stream";
  if (id == 0xE2 || id == 0xE3) return "H.264.stream";
  return "No video stream";
}

std::string AudioKindName(std::int32_t id) {
  if (id >= 0x80 && id <= 0x87) return "DD.stream";
  if (id >= 0x88 && id <= 0x8F) return "DTSHD.stream";
  if (id >= 0xA0 && id <= 0xA7) return "LPCM.stream";
  if (id >= 0xB0 && id <= 0xB7) return "MLP.stream";
  if (id >= 0xC0 && id <= 0xCF) return "DD+.stream";
  return "No audio stream";
}

std::string SubpictureKindName(std::int32_t id) {
  if (id >= 0x20 && id <= 0x2F) return "Subpicture";
  if (id >= 0x60 && id <= 0x6F) return "Ext.Subpicture";
  return "No subpicture stream";
}

void TfMain::Resetcbs() {
  const auto reset = [&](ControlId box, const char* caption) {
    window_.setEnabled(box, false);
    window_.setCaption(box, caption);
    window_.setChecked(box, false);
  };
  for (int n = 0; n < 8; ++n) reset(videoBox(n), "No video stream");
  for (int n = 0; n < 16; ++n) reset(audioBox(n), "No audio stream");
  for (int n = 0; n < 16; ++n) reset(subBox(n), "No subpicture");
  cbVideoClick();
}

void TfMain::Fillcbs() {
  const auto fill = [&](ControlId box, std::int32_t slot, const std::string& kind, const char* format, int n) {
    const bool present = slot >= 0;
    window_.setEnabled(box, present);
    if (present) {
      char number[8];
      std::snprintf(number, sizeof number, format, n);
      window_.setCaption(box, kind + "." + number);
    }
    setBox(box, present);
  };
  for (int n = 0; n < 2; ++n) fill(videoBox(n), scan_.VideoSlots[n], VideoKindName(scan_.VideoSlots[n]), "%d", n);
  for (int n = 0; n < 16; ++n) fill(audioBox(n), scan_.AudioSlots[n], AudioKindName(scan_.AudioSlots[n]), "%02d", n);
  for (int n = 0; n < 16; ++n)
    fill(subBox(n), scan_.SubpictureSlots[n], SubpictureKindName(scan_.SubpictureSlots[n]), "%02d", n);
}

void TfMain::cbVideoClick() {
  bool any = false;
  for (int n = static_cast<int>(ControlId::cbVideo0); n < kControlCount && !any; ++n)
    any = window_.checked(static_cast<ControlId>(n));
  window_.setEnabled(ControlId::bDemux, any);
  std::string ext = extensionOf(window_.text(ControlId::eEVOfile));
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
  if (ext == ".EVO") window_.setEnabled(ControlId::bRebuild, any);
}

}  // namespace tarnwick
