#include "disc/folder_disc.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace tarnwick {

namespace {

namespace fs = std::filesystem;

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::toupper(x) == std::toupper(y);
         });
}

class FolderDisc : public Disc {
 public:
  explicit FolderDisc(std::string location) : location_(std::move(location)) {}

  const std::string& location() const override { return location_; }
  bool isImage() const override { return false; }

  std::vector<DiscEntry> list(const std::string& folder) const override {
    std::vector<DiscEntry> entries;
    const std::optional<fs::path> where = resolve(folder);
    std::error_code error;
    if (!where || !fs::is_directory(*where, error)) return entries;
    for (const fs::directory_entry& item : fs::directory_iterator(*where, error)) {
      DiscEntry entry;
      entry.name = item.path().filename().string();
      entry.folder = item.is_directory(error);
      if (!entry.folder) entry.size = static_cast<std::int64_t>(item.file_size(error));
      entries.push_back(std::move(entry));
    }
    // A folder lists in no fixed order: by name, as a disc's directory would.
    std::sort(entries.begin(), entries.end(), [](const DiscEntry& a, const DiscEntry& b) { return a.name < b.name; });
    return entries;
  }

  std::optional<DiscEntry> find(const std::string& path) const override {
    const std::optional<fs::path> where = resolve(path);
    std::error_code error;
    if (!where || !fs::exists(*where, error)) return std::nullopt;
    DiscEntry entry;
    entry.name = where->filename().string();
    entry.folder = fs::is_directory(*where, error);
    if (!entry.folder) entry.size = static_cast<std::int64_t>(fs::file_size(*where, error));
    return entry;
  }

  std::string readSmall(const std::string& path, std::size_t limit) const override {
    InputFile file = open(path);
    std::string bytes(static_cast<std::size_t>(std::min<std::int64_t>(file.size(), static_cast<std::int64_t>(limit))),
                      '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
      const std::size_t n = file.read(reinterpret_cast<std::uint8_t*>(bytes.data()) + got, bytes.size() - got);
      if (n == 0) break;
      got += n;
    }
    bytes.resize(got);
    return bytes;
  }

  std::optional<std::string> localPath(const std::string& path) const override {
    const std::optional<fs::path> where = resolve(path);
    if (!where) return std::nullopt;
    return where->string();
  }

  InputFile open(const std::string& path) const override {
    const std::optional<fs::path> where = resolve(path);
    return InputFile(where ? where->string() : (fs::path(location_) / path).string());
  }

 private:
  // The path on this file system of a disc path, each name matched without
  // regard to case; none when a name is missing.
  std::optional<fs::path> resolve(const std::string& path) const {
    fs::path at(location_);
    std::size_t start = 0;
    while (start < path.size()) {
      std::size_t end = path.find('/', start);
      if (end == std::string::npos) end = path.size();
      const std::string name = path.substr(start, end - start);
      start = end + 1;
      if (name.empty()) continue;
      std::error_code error;
      if (fs::exists(at / name, error)) {
        at /= name;
        continue;
      }
      bool found = false;
      for (const fs::directory_entry& item : fs::directory_iterator(at, error))
        if (sameName(item.path().filename().string(), name)) {
          at = item.path();
          found = true;
          break;
        }
      if (!found) return std::nullopt;
    }
    return at;
  }

  std::string location_;
};

}  // namespace

std::unique_ptr<Disc> openFolderDisc(const std::string& path) { return std::make_unique<FolderDisc>(path); }

}  // namespace tarnwick
