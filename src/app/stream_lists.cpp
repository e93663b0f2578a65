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

void TfMain::showStreams() {
  // Video boxes past the two outputs never hold a stream.
  for (int n = kVideoOutputs; n < 8; ++n) {
    window_.setEnabled(videoBox(n), false);
    window_.setCaption(videoBox(n), emptyCaption(StreamClass::Video));
    window_.setChecked(videoBox(n), false);
  }
  for (const StreamEntry& entry : streams_.entries()) {
    const ControlId box = streamBox(entry.slot);
    window_.setEnabled(box, entry.found);
    window_.setCaption(box, entry.caption);
    window_.setChecked(box, entry.chosen);
    // The playlist's label is also the hint of an audio or subtitle box.
    if (!entry.label.empty() && entry.slot.streamClass != StreamClass::Video) window_.setHint(box, entry.label);
  }
  cbVideoClick();
}

void TfMain::Resetcbs() {
  streams_.reset();
  showStreams();
}

void TfMain::Fillcbs() {
  streams_.fillFromScan(scan_);
  showStreams();
}

void TfMain::cbVideoClick() {
  const bool any = streams_.anyChosen();
  window_.setEnabled(ControlId::bDemux, any);
  window_.setEnabled(ControlId::bMkv, any);
  std::string ext = extensionOf(window_.text(ControlId::eEVOfile));
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
  if (ext == ".EVO") window_.setEnabled(ControlId::bRebuild, any);
}

}  // namespace tarnwick
