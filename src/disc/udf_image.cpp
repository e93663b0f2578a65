#include "disc/udf_image.h"

#include <fcntl.h>
#include <unistd.h>
#include <udfread/blockinput.h>
#include <udfread/udfread.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <type_traits>

namespace tarnwick {
namespace {

constexpr std::int64_t kBlock = 2048;
// A file entry is one block: what is stored inside it is at most this long,
// and is read whole rather than mapped.
constexpr std::int64_t kInlineLimit = kBlock - 216;
// Blocks libudfread may read for one directory or file entry: a chain of
// allocation extents that runs in a circle ends here rather than never.
constexpr std::uint32_t kReadBudget = 1 << 16;
constexpr int kMaxDepth = 64;

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The disc path without empty names: "/A//b/" is "A/b".
std::string normal(const std::string& path) {
  std::string out;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) out += (out.empty() ? "" : "/") + path.substr(start, end - start);
    start = end + 1;
  }
  return out;
}

// The image as libudfread reads it: every block read is within the image,
// counted against a budget, and the first one of an operation is noted (the
// entry of a folder being opened, which tells a folder reached twice).
struct ImageInput {
  udfread_block_input base{};  // first: libudfread hands back its address
  int fd = -1;
  std::int64_t size = 0;
  std::uint32_t budget = kReadBudget;
  bool exhausted = false;
  std::optional<std::uint32_t> firstRead;

  void start() {
    budget = kReadBudget;
    exhausted = false;
    firstRead.reset();
  }

  static int read(udfread_block_input* input, std::uint32_t lba, void* buffer, std::uint32_t blocks, int) {
    auto* self = reinterpret_cast<ImageInput*>(input);
    if (blocks > self->budget) {
      self->exhausted = true;
      return -1;
    }
    self->budget -= blocks;
    if (!self->firstRead) self->firstRead = lba;
    const std::int64_t inImage = self->size / kBlock;
    if (static_cast<std::int64_t>(lba) >= inImage) return 0;
    blocks = static_cast<std::uint32_t>(std::min<std::int64_t>(blocks, inImage - lba));
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    const std::size_t want = std::size_t{blocks} * kBlock;
    while (done < want) {
      const ssize_t got = ::pread(self->fd, out + done, want - done, static_cast<off_t>(lba) * kBlock +
                                                                        static_cast<off_t>(done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    return static_cast<int>(done / kBlock);
  }

  static std::uint32_t blocksOf(udfread_block_input* input) {
    auto* self = reinterpret_cast<ImageInput*>(input);
    return static_cast<std::uint32_t>(std::min<std::int64_t>(self->size / kBlock, 0xFFFFFFFF));
  }
};

std::uint32_t get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

struct Node {
  DiscEntry entry;
  std::string stored;              // the path as the disc stores it, for libudfread
  std::vector<std::string> items;  // a folder's entries, as keys of the index
};

class UdfImageDisc : public Disc {
 public:
  explicit UdfImageDisc(std::string location) : location_(std::move(location)) {
    input_.base.read = &ImageInput::read;
    input_.base.size = &ImageInput::blocksOf;
    input_.fd = ::open(location_.c_str(), O_RDONLY | O_CLOEXEC);
    if (input_.fd < 0) throw DiscError("Cannot open disc \"" + location_ + "\". " + std::strerror(errno));
    try {
      // A block device tells its size by seeking to its end.
      input_.size = ::lseek(input_.fd, 0, SEEK_END);
      if (input_.size < 0) fail(std::strerror(errno));
      checkVolume();
      udf_ = udfread_init();
      if (udf_ == nullptr) fail("Out of memory.");
      input_.start();
      if (udfread_open_input(udf_, &input_.base) < 0)
        fail("Its UDF file system cannot be read: its volume or file set descriptors are damaged.");
      Node root;
      root.entry.folder = true;
      index_.emplace("", root);
      UDFDIR* dir = guarded([&] { return udfread_opendir(udf_, "/"); }, "");
      if (dir == nullptr) fail("Its root folder cannot be read.");
      try {
        walk(dir, "", "", 0);
      } catch (...) {
        udfread_closedir(dir);
        throw;
      }
      udfread_closedir(dir);
    } catch (...) {
      release();
      throw;
    }
  }

  ~UdfImageDisc() override { release(); }

  const std::string& location() const override { return location_; }
  bool isImage() const override { return true; }

  std::vector<DiscEntry> list(const std::string& folder) const override {
    std::vector<DiscEntry> out;
    const auto it = index_.find(upper(normal(folder)));
    if (it == index_.end() || !it->second.entry.folder) return out;
    for (const std::string& key : it->second.items) out.push_back(index_.at(key).entry);
    return out;
  }

  std::optional<DiscEntry> find(const std::string& path) const override {
    const auto it = index_.find(upper(normal(path)));
    if (it == index_.end()) return std::nullopt;
    return it->second.entry;
  }

  std::string readSmall(const std::string& path, std::size_t limit) const override {
    const Node& node = file(path);
    UDFFILE* f = openFile(node);
    std::string bytes(static_cast<std::size_t>(std::min<std::int64_t>(node.entry.size, static_cast<std::int64_t>(limit))),
                      '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
      input_.start();  // the budget is for following descriptors, not for reading bytes
      const ssize_t n = udfread_file_read(f, bytes.data() + got, std::min<std::size_t>(bytes.size() - got, 1 << 20));
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    udfread_file_close(f);
    if (got < bytes.size()) fail("\"" + node.stored + "\" cannot be read whole.");
    return bytes;
  }

  InputFile open(const std::string& path) const override {
    const Node& node = file(path);
    const std::string name = location_ + "/" + node.stored;
    if (node.entry.size <= kInlineLimit) return InputFile(name, readSmall(path, static_cast<std::size_t>(kInlineLimit)));
    return InputFile(location_, name, extents(node));
  }

  std::vector<FileExtent> extentsOf(const std::string& path) const {
    const Node& node = file(path);
    if (node.entry.size <= kInlineLimit) return {};
    return extents(node);
  }

 private:
  [[noreturn]] void fail(const std::string& why) const {
    throw DiscError("Cannot open disc image \"" + location_ + "\". " + why);
  }

  void release() {
    if (udf_ != nullptr) udfread_close(udf_);
    udf_ = nullptr;
    if (input_.fd >= 0) ::close(input_.fd);
    input_.fd = -1;
  }

  // A UDF volume by its content: the recognition sequence, then the
  // partition, which must lie inside the image.
  void checkVolume() const {
    std::uint8_t b[kBlock];
    const auto block = [&](std::int64_t n) {
      if ((n + 1) * kBlock > input_.size) return false;
      return ::pread(input_.fd, b, kBlock, static_cast<off_t>(n * kBlock)) == kBlock;
    };
    bool beginning = false;
    bool nsr = false;
    // After the ISO 9660 descriptors a bridge disc may have: up to the first
    // unrecorded one.
    for (std::int64_t n = 16; n < 256 && block(n) && !nsr; ++n) {
      if (std::memcmp(b, "\0\0\0\0\0\0", 6) == 0) break;
      if (std::memcmp(b, "\0BEA01", 6) == 0) beginning = true;
      if (beginning && (std::memcmp(b, "\0NSR02", 6) == 0 || std::memcmp(b, "\0NSR03", 6) == 0)) nsr = true;
    }
    if (!nsr) fail("It holds no UDF file system.");
    if (!block(256)) fail(truncated(257 * kBlock));
    if ((b[0] | b[1] << 8) != 2) return;  // no anchor here: libudfread looks at the end
    const std::int64_t vds = get32(b + 20);
    const std::int64_t vdsBlocks = std::min<std::int64_t>(get32(b + 16) / kBlock, 64);
    for (std::int64_t n = vds; n < vds + vdsBlocks; ++n) {
      if (!block(n)) fail(truncated((n + 1) * kBlock));
      const int id = b[0] | b[1] << 8;
      if (id == 8) break;
      if (id == 5) {
        const std::int64_t end = (std::int64_t{get32(b + 188)} + get32(b + 192)) * kBlock;
        if (end > input_.size) fail(truncated(end));
      }
    }
  }

  std::string truncated(std::int64_t needs) const {
    return "It is truncated: its file system needs " + std::to_string(needs) + " bytes, and the image has " +
           std::to_string(input_.size) + ".";
  }

  // Runs one libudfread call on a fresh read budget.
  template <typename Call>
  std::invoke_result_t<Call> guarded(Call call, const std::string& what) const {
    input_.start();
    auto result = call();
    if (input_.exhausted) {
      // What the call opened before it ran out is closed, not left behind.
      if constexpr (std::is_same_v<decltype(result), UDFFILE*>) {
        if (result != nullptr) udfread_file_close(result);
      } else if constexpr (std::is_same_v<decltype(result), UDFDIR*>) {
        if (result != nullptr) udfread_closedir(result);
      }
      fail("The allocation descriptors of \"" + what + "\" run in a circle.");
    }
    return result;
  }

  void walk(UDFDIR* dir, const std::string& key, const std::string& stored, int depth) {
    udfread_dirent item{};
    std::vector<std::pair<std::string, bool>> names;
    while (udfread_readdir(dir, &item) != nullptr) {
      const std::string name = item.d_name;
      if (name == "." || name == ".." || name.empty()) continue;
      names.emplace_back(name, item.d_type == UDF_DT_DIR);
    }
    for (const auto& entry : names) {
      // Plain names, not a structured binding: lambdas below capture them.
      const std::string& name = entry.first;
      const bool folder = entry.second;
      const std::string childStored = stored.empty() ? name : stored + "/" + name;
      const std::string childKey = upper(childStored);
      if (index_.count(childKey) != 0) continue;  // the same name twice: the first one holds
      Node node;
      node.entry.name = name;
      node.entry.folder = folder;
      node.stored = childStored;
      if (folder) {
        if (depth + 1 > kMaxDepth) fail("Its folders nest deeper than " + std::to_string(kMaxDepth) + " levels.");
        UDFDIR* sub = guarded([&] { return udfread_opendir_at(dir, name.c_str()); }, childStored);
        // Each folder's entry is read once; a folder reached again loops.
        if (sub == nullptr) fail("Its folder \"" + childStored + "\" cannot be read.");
        if (input_.firstRead && !folderEntries_.insert(*input_.firstRead).second) {
          udfread_closedir(sub);
          fail("Its folder \"" + childStored + "\" loops back to a folder that holds it.");
        }
        index_.emplace(childKey, node);
        index_.at(key).items.push_back(childKey);
        try {
          walk(sub, childKey, childStored, depth + 1);
        } catch (...) {
          udfread_closedir(sub);
          throw;
        }
        udfread_closedir(sub);
      } else {
        UDFFILE* f = guarded([&] { return udfread_file_openat(dir, name.c_str()); }, childStored);
        if (f == nullptr) fail("The entry of \"" + childStored + "\" cannot be read.");
        node.entry.size = udfread_file_size(f);
        udfread_file_close(f);
        if (node.entry.size < 0) fail("The entry of \"" + childStored + "\" cannot be read.");
        index_.emplace(childKey, node);
        index_.at(key).items.push_back(childKey);
      }
    }
  }

  const Node& file(const std::string& path) const {
    const auto it = index_.find(upper(normal(path)));
    if (it == index_.end() || it->second.entry.folder)
      throw cannotOpen(location_ + "/" + normal(path), "It is not a file of the disc.");
    return it->second;
  }

  UDFFILE* openFile(const Node& node) const {
    UDFFILE* f = guarded([&] { return udfread_file_open(udf_, ("/" + node.stored).c_str()); }, node.stored);
    if (f == nullptr) fail("The entry of \"" + node.stored + "\" cannot be read.");
    return f;
  }

  // The file's blocks, block by block (libudfread tells no extents), joined
  // into runs; each must lie inside the image.
  std::vector<FileExtent> extents(const Node& node) const {
    UDFFILE* f = openFile(node);
    std::vector<FileExtent> out;
    const std::int64_t size = node.entry.size;
    const std::int64_t blocks = (size + kBlock - 1) / kBlock;
    const auto bad = [&](const std::string& why) {
      udfread_file_close(f);
      fail("\"" + node.stored + "\" " + why);
    };
    for (std::int64_t n = 0; n < blocks; ++n) {
      if (n > 0xFFFFFFFF) bad("is larger than its extents.");
      const std::uint32_t lba = udfread_file_lba(f, static_cast<std::uint32_t>(n));
      if (lba == 0) bad("has no extent for its byte " + std::to_string(n * kBlock) + ".");
      const std::int64_t at = std::int64_t{lba} * kBlock;
      const std::int64_t length = std::min(kBlock, size - n * kBlock);
      if (at + length > input_.size)
        bad("has an extent that points past the image's end (to byte " + std::to_string(at + length) +
            " of " + std::to_string(input_.size) + ").");
      if (!out.empty() && out.back().offset + out.back().length == at)
        out.back().length += length;
      else
        out.push_back({n * kBlock, at, length});
    }
    udfread_file_close(f);
    return out;
  }

  std::string location_;
  mutable ImageInput input_;
  udfread* udf_ = nullptr;
  std::map<std::string, Node> index_;  // by the upper-case path
  std::set<std::uint32_t> folderEntries_;
};

}  // namespace

std::unique_ptr<Disc> openImageDisc(const std::string& path) { return std::make_unique<UdfImageDisc>(path); }

std::vector<FileExtent> imageExtents(const Disc& image, const std::string& path) {
  const auto* disc = dynamic_cast<const UdfImageDisc*>(&image);
  if (disc == nullptr) return {};
  return disc->extentsOf(path);
}

}  // namespace tarnwick
