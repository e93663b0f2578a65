#pragma once
// A disc as input: a folder that holds the disc's folders (HVDVD_TS/,
// ADV_OBJ/, or a DVD's VIDEO_TS/), or a file or block device that holds a
// UDF file system (an image). Both answer the same questions, by paths
// relative to the disc's root with "/" between names ("HVDVD_TS/FEATURE_1.EVO").

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/file_io.h"

namespace tarnwick {

// A disc that cannot be read as one; the text names the disc and what is
// wrong, as the user sees it.
class DiscError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DiscEntry {
  std::string name;  // as stored on the disc
  bool folder = false;
  std::int64_t size = 0;
};

class Disc {
 public:
  virtual ~Disc() = default;

  // The folder or the image the user named.
  virtual const std::string& location() const = 0;
  virtual bool isImage() const = 0;
  // The entries of a folder of the disc ("" is the root), in the order the
  // disc stores them; empty when there is no such folder. Names are matched
  // without regard to case, as on the disc players' file systems.
  virtual std::vector<DiscEntry> list(const std::string& folder) const = 0;
  // The entry at `path`, if there is one.
  virtual std::optional<DiscEntry> find(const std::string& path) const = 0;
  // The whole of a small file (a playlist), at most `limit` bytes of it.
  virtual std::string readSmall(const std::string& path, std::size_t limit) const = 0;
  // A file of the disc as the commands read it.
  virtual InputFile open(const std::string& path) const = 0;
  // Where a file of the disc is on this computer's file system, when it is
  // one of its own files (a disc folder); none inside an image.
  virtual std::optional<std::string> localPath(const std::string&) const { return std::nullopt; }
};

// A folder, or a file whose content is a UDF file system (its volume
// recognition sequence names one) rather than an EVO or VOB.
bool isDisc(const std::string& path);

// The disc at `path`: a folder, or a file or block device whose content is a
// UDF file system (decided by content, not by the name). A DiscError for
// anything else.
std::unique_ptr<Disc> openDisc(const std::string& path);

}  // namespace tarnwick
