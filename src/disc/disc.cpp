#include "disc/disc.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "disc/folder_disc.h"
#ifdef TARNWICK_UDFREAD
#include "disc/udf_image.h"
#endif

namespace tarnwick {

bool isDisc(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return true;
  try {
    // The volume recognition sequence starts at byte 32768, one descriptor a
    // 2048-byte sector; "NSR02" or "NSR03" marks UDF.
    InputFile file(path);
    std::vector<std::uint8_t> head(65536);
    std::size_t got = 0;
    while (got < head.size()) {
      const std::size_t n = file.read(head.data() + got, head.size() - got);
      if (n == 0) break;
      got += n;
    }
    for (std::size_t at = 32768; at + 2048 <= got; at += 2048) {
      const char* id = reinterpret_cast<const char*>(head.data() + at + 1);
      if (std::memcmp(id, "NSR02", 5) == 0 || std::memcmp(id, "NSR03", 5) == 0) return true;
      if (std::memcmp(id, "BEA01", 5) != 0 && std::memcmp(id, "CD001", 5) != 0 && std::memcmp(id, "TEA01", 5) != 0)
        return false;
    }
  } catch (const FileError&) {
  }
  return false;
}

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
