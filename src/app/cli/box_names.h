#pragma once
// The stream boxes by the names the command line gives them: video0, video1,
// audio00 … audio15, sub00 … sub15.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/window.h"

namespace tarnwick::cli {

std::string boxName(ControlId box);
std::optional<ControlId> parseBoxName(std::string_view name);

}  // namespace tarnwick::cli
