// A disc image over arbitrary bytes (mutations of small UDF 2.50 images):
// opening it, its directory, each file's extent map and reading each file
// must end in the image's bytes or in a DiscError/FileError, never outside
// the image.

#include <cstdlib>
#include <functional>

#include "disc/disc.h"
#include "disc/udf_image.h"
#include "engine/file_io.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  const std::string path = (fuzz::scratchFolder() / "image.iso").string();
  fuzz::writeInput(path, data, size);
  std::unique_ptr<Disc> disc;
  try {
    disc = openDisc(path);
  } catch (const DiscError&) {
    return 0;
  }
  std::vector<std::uint8_t> buffer(1 << 16);
  std::int64_t budget = std::int64_t{8} << 20;  // bytes read per input, all files together
  const std::function<void(const std::string&, int)> visit = [&](const std::string& folder, int depth) {
    if (depth > 70) std::abort();  // the walk at open refuses deeper folders
    for (const DiscEntry& entry : disc->list(folder)) {
      const std::string child = folder.empty() ? entry.name : folder + "/" + entry.name;
      if (entry.folder) {
        visit(child, depth + 1);
        continue;
      }
      try {
        std::int64_t logical = 0;
        for (const FileExtent& e : imageExtents(*disc, child)) {
          // Runs end to end from 0, each inside the image.
          if (e.logical != logical || e.length <= 0 || e.offset < 0 ||
              e.offset + e.length > static_cast<std::int64_t>(size))
            std::abort();
          logical += e.length;
        }
        InputFile file = disc->open(child);
        if (logical != 0 && logical != file.size()) std::abort();
        disc->readSmall(child, 4096);
        while (budget > 0 && file.position() < file.size()) {
          const std::size_t got = file.readChunk(buffer.data(), buffer.size());
          if (got == 0) break;
          budget -= static_cast<std::int64_t>(got);
        }
      } catch (const DiscError&) {
      } catch (const FileError&) {
      }
    }
  };
  visit("", 0);
  return 0;
}
