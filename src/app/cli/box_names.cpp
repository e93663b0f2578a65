#include "app/cli/box_names.h"

#include <cstdio>

namespace tarnwick::cli {

const std::vector<ControlId>& outputBoxes() {
  static const std::vector<ControlId> boxes = [] {
    std::vector<ControlId> all;
    for (int n = 0; n < 2; ++n) all.push_back(videoBox(n));
    for (int n = 0; n < 16; ++n) all.push_back(audioBox(n));
    for (int n = 0; n < 16; ++n) all.push_back(subBox(n));
    return all;
  }();
  return boxes;
}

std::string boxName(ControlId box) {
  const int id = static_cast<int>(box);
  char name[24];
  if (id < static_cast<int>(ControlId::cbAudio00))
    std::snprintf(name, sizeof name, "video%d", id - static_cast<int>(ControlId::cbVideo0));
  else if (id < static_cast<int>(ControlId::cbSub00))
    std::snprintf(name, sizeof name, "audio%02d", id - static_cast<int>(ControlId::cbAudio00));
  else
    std::snprintf(name, sizeof name, "sub%02d", id - static_cast<int>(ControlId::cbSub00));
  return name;
}

std::optional<ControlId> parseBoxName(std::string_view name) {
  // Few enough to compare against every name: no second spelling slips in.
  for (ControlId box : outputBoxes())
    if (boxName(box) == name) return box;
  return std::nullopt;
}

}  // namespace tarnwick::cli
