#include "app/stream_lists.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/tf_main.h"
#include "engine/file_names.h"

namespace tarnwick {

const char* emptyCaption(StreamClass streamClass) {
  switch (streamClass) {
    case StreamClass::Video: return "No video stream";
    case StreamClass::Audio: return "No audio stream";
    default: return "No subpicture";
  }
}

std::string foundCaption(const ScanState& scan, StreamSlot s) {
  char number[8];
  std::snprintf(number, sizeof number, s.streamClass == StreamClass::Video ? "%d" : "%02d", s.slot);
  return kindName(s.streamClass, scan.slot(s).id) + "." + number;
}

std::string outputFolder(const std::string& workdir, const std::string& evoFolder) {
  // No output folder: write beside the input.
  std::string folder = workdir.empty() ? evoFolder : workdir;
  if (!folder.empty() && !endsWithSeparator(folder)) folder += kSeparator;
  return folder;
}

std::string demuxFileName(const std::string& folder, const std::string& baseName, const std::string& caption,
                          const std::string& ext) {
  return folder + baseName + "." + safeNamePart(caption) + "." + safeNamePart(ext);
}

std::string rebuildFileName(const std::string& folder, const std::string& baseName) {
  return folder + safeNamePart(baseName) + ".rebuilt.EVO";
}

void TfMain::Resetcbs() {
  const auto reset = [&](ControlId box) {
    window_.setEnabled(box, false);
    window_.setCaption(box, emptyCaption(boxSlot(box).streamClass));
    window_.setChecked(box, false);
  };
  for (int n = 0; n < 8; ++n) reset(videoBox(n));
  for (ControlId box : outputBoxes())
    if (boxSlot(box).streamClass != StreamClass::Video) reset(box);
  cbVideoClick();
}

void TfMain::Fillcbs() {
  for (ControlId box : outputBoxes()) {
    const StreamSlot s = boxSlot(box);
    const bool present = scan_.slot(s).id >= 0;
    window_.setEnabled(box, present);
    if (present) window_.setCaption(box, foundCaption(scan_, s));
    setBox(box, present);
  }
}

void TfMain::cbVideoClick() {
  bool any = false;
  for (int n = static_cast<int>(ControlId::cbVideo0); n < kControlCount && !any; ++n)
    any = window_.checked(static_cast<ControlId>(n));
  window_.setEnabled(ControlId::bDemux, any);
  window_.setEnabled(ControlId::bMkv, any);
  std::string ext = extensionOf(window_.text(ControlId::eEVOfile));
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
  if (ext == ".EVO") window_.setEnabled(ControlId::bRebuild, any);
}

}  // namespace tarnwick
