#pragma once
// A disc image: a file or block device that holds a UDF file system. The
// directory and each file's extents come from libudfread; the files' bytes
// are read from the image at their extents by our own file layer, so that
// nothing is mounted or extracted.

#include <memory>
#include <string>
#include <vector>

#include "disc/disc.h"

namespace tarnwick {

// A DiscError naming the image and what is wrong when `path` holds no UDF
// file system, is truncated, or has a directory that loops.
std::unique_ptr<Disc> openImageDisc(const std::string& path);

// The extents of the file at `path` (a disc path) in `image`, as its open()
// reads them (none for a file read whole from its entry, and for a disc that
// is not an image); a DiscError when an extent lies past the image's end.
// For the checks and the fuzz target.
std::vector<FileExtent> imageExtents(const Disc& image, const std::string& path);

}  // namespace tarnwick
