#include "disc/disc.h"

#include <filesystem>
#include <system_error>

#include "disc/folder_disc.h"

namespace tarnwick {

std::unique_ptr<Disc> openDisc(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return openFolderDisc(path);
  if (!std::filesystem::exists(path, error)) throw DiscError("Cannot open disc \"" + path + "\". It does not exist.");
  throw DiscError("Cannot open disc \"" + path + "\". It is not a folder, and disc images cannot be read here.");
}

}  // namespace tarnwick
