#include "app/cli/box_names.h"

#include <cstdio>

namespace tarnwick::cli {

std::string boxName(ControlId box) {
  const StreamSlot b = boxSlot(box);
  char name[24];
  switch (b.streamClass) {
    case StreamClass::Video: std::snprintf(name, sizeof name, "video%d", b.slot); break;
    case StreamClass::Audio: std::snprintf(name, sizeof name, "audio%02d", b.slot); break;
    default: std::snprintf(name, sizeof name, "sub%02d", b.slot); break;
  }
  return name;
}

std::optional<ControlId> parseBoxName(std::string_view name) {
  // Few enough to compare against every name: no second spelling slips in.
  for (ControlId box : outputBoxes())
    if (boxName(box) == name) return box;
  return std::nullopt;
}

}  // namespace tarnwick::cli
