#include "app/window.h"

#include <array>
#include <cstdio>

namespace tarnwick {

void Window::slog(std::string_view text, int panel) {
  setStatusPanel(panel, " " + std::string(text));
  if (panel == 1) setStatusHint(std::string(text));
}

std::vector<TreeNode> initialPlaylistTree() {
  return {{"Video", {}}, {"Audio", {}}, {"Subpicture", {}}, {"Chapter", {}}};
}

const std::array<ControlId, 34>& outputBoxes() {
  static const std::array<ControlId, 34> boxes = [] {
    std::array<ControlId, 34> all{};
    std::size_t k = 0;
    for (int n = 0; n < 2; ++n) all[k++] = videoBox(n);
    for (int n = 0; n < 16; ++n) all[k++] = audioBox(n);
    for (int n = 0; n < 16; ++n) all[k++] = subBox(n);
    return all;
  }();
  return boxes;
}

std::string controlName(ControlId id) {
  static constexpr std::array<const char*, static_cast<int>(ControlId::cbVideo0)> kNames = {
      "eEVOfile", "eXPLfile", "eWorkdir", "eVideoExt", "eAudioExt", "eSubExt",     "bbEVO",      "bCheck",    "bbXPL",
      "bReadXPL", "bDemux",   "bRebuild", "bCancel",   "bClear",    "cbContinue", "cbFastCheck", "cbCountFr", "cbDetails", "cbPgs", "bMkv", "eMkvmerge"};
  const int n = static_cast<int>(id);
  if (n < static_cast<int>(ControlId::cbVideo0)) return kNames[static_cast<std::size_t>(n)];
  char text[32];
  if (n < static_cast<int>(ControlId::cbAudio00)) return "cbVideo" + std::to_string(n - static_cast<int>(ControlId::cbVideo0));
  const bool audio = n < static_cast<int>(ControlId::cbSub00);
  const int k = n - static_cast<int>(audio ? ControlId::cbAudio00 : ControlId::cbSub00);
  std::snprintf(text, sizeof text, "%s%02d", audio ? "cbAudio" : "cbSub", k);
  return text;
}

}  // namespace tarnwick
