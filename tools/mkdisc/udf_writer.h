#pragma once
// Writes a folder tree as a UDF 2.50 image with a metadata partition, laid
// out as HD DVDs are: the volume structures, one physical partition, the
// file entries and directories in the metadata partition (and its mirror),
// the files' bytes in the physical partition. Nothing is mounted.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnwick::mkdisc {

// An extent holds less than 2^30 bytes: the longest one of whole blocks.
inline constexpr std::uint64_t kUdfMaxExtentBytes = (std::uint64_t{1} << 30) - 2048;

struct UdfImageOptions {
  std::string volumeName = "TARNWICK_SAMPLE";
  // Bytes per extent of a file (a multiple of 2048, at most kUdfMaxExtentBytes):
  // smaller values give many extents to a small file.
  std::uint64_t maxExtentBytes = kUdfMaxExtentBytes;
  // Allocation descriptors a file entry holds before the rest continue in an
  // allocation extent; 0: as many as fit in the entry.
  std::size_t adsInEntry = 0;
  // Descriptors per allocation extent before the next one continues; 0: as
  // many as fit in a block.
  std::size_t adsPerExtent = 0;
  // Lays each file's extents out last to first, so that a reader must follow
  // the extent map rather than the order of the blocks.
  bool scatterExtents = false;
};

struct UdfImageTotals {
  std::uint64_t blocks = 0;
  std::uint64_t files = 0;
  std::uint64_t folders = 0;
  std::uint64_t allocationExtents = 0;
};

// Writes `folder`'s tree to `image` (created or truncated). Runs of zeros in
// the files are not written: the image is sparse where they are. Throws
// std::runtime_error on an I/O failure or a tree UDF cannot hold.
UdfImageTotals writeUdfImage(const std::string& folder, const std::string& image, const UdfImageOptions& options = {});

// Sets the CRC (over the length the tag gives) and the checksum of the
// descriptor tag at p, as after a change to its descriptor.
void retagDescriptor(std::uint8_t* p);

}  // namespace tarnwick::mkdisc
