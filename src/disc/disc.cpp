#include "disc/disc.h"

#include <filesystem>
#include <system_error>

#include "disc/folder_disc.h"
#ifdef TARNWICK_UDFREAD
#include "disc/udf_image.h"
#endif

namespace tarnwick {

std::unique_ptr<Disc> openDisc(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return openFolderDisc(path);
  if (!std::filesystem::exists(path, error)) throw DiscError("Cannot open disc \"" + path + "\". It does not exist.");
#ifdef TARNWICK_UDFREAD
  // Anything else is an image if it holds a UDF file system, whatever its name.
  return openImageDisc(path);
#else
  throw DiscError("Cannot open disc \"" + path + "\". This build reads disc folders only: mount the image (Windows "
                  "mounts an .iso when you open it) and give the mounted drive or its folder.");
#endif
}

}  // namespace tarnwick
