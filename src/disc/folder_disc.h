#pragma once
// A disc copied to a folder: the disc's own folders under it.

#include <memory>
#include <string>

#include "disc/disc.h"

namespace tarnwick {

std::unique_ptr<Disc> openFolderDisc(const std::string& path);

}  // namespace tarnwick
