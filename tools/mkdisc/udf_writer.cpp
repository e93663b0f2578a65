#include "udf_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

namespace tarnwick::mkdisc {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kBlock = 2048;
constexpr std::uint16_t kUdfRevision = 0x0250;
// Where the volume structures go (sectors of the image).
constexpr std::uint32_t kMainVds = 32;
constexpr std::uint32_t kReserveVds = 48;
constexpr std::uint32_t kIntegrity = 64;
constexpr std::uint32_t kAnchor = 256;
constexpr std::uint32_t kPartitionStart = 257;
// In the physical partition: the metadata file's and its mirror's entries,
// then the metadata itself from an allocation unit's boundary.
constexpr std::uint32_t kMetadataFileEntry = 0;
constexpr std::uint32_t kMirrorFileEntry = 1;
constexpr std::uint32_t kAllocationUnit = 32;
constexpr std::uint32_t kMetadataStart = kAllocationUnit;
// The partition references of the logical volume's two maps.
constexpr std::uint16_t kPhysical = 0;
constexpr std::uint16_t kMetadata = 1;

constexpr std::size_t kEntryHeader = 216;  // an extended file entry before its descriptors
constexpr std::size_t kInlineCapacity = kBlock - kEntryHeader;
constexpr std::size_t kLongAd = 16;
constexpr std::size_t kAedHeader = 24;

enum Tag : std::uint16_t {
  kPvd = 1,
  kAvdp = 2,
  kIuvd = 4,
  kPd = 5,
  kLvd = 6,
  kUsd = 7,
  kTd = 8,
  kLvid = 9,
  kFsd = 256,
  kFid = 257,
  kAed = 258,
  kEfe = 266,
};

void put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint16_t crc16(const std::uint8_t* p, std::size_t n) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= static_cast<std::uint16_t>(p[i] << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : crc << 1;
  }
  return crc;
}

// The descriptor tag of the `length` bytes at p, recorded at `location`.
void tag(std::uint8_t* p, std::uint16_t id, std::uint32_t location, std::size_t length) {
  put16(p, id);
  put16(p + 2, 3);
  put16(p + 6, 1);  // serial number
  put16(p + 10, static_cast<std::uint16_t>(length - 16));
  put32(p + 12, location);
  retagDescriptor(p);
}

// An entity identifier; `suffix` as the kind of identifier wants it.
void regid(std::uint8_t* p, const char* id, std::array<std::uint8_t, 8> suffix = {}) {
  std::memcpy(p + 1, id, std::min<std::size_t>(std::strlen(id), 23));
  std::memcpy(p + 24, suffix.data(), 8);
}
constexpr std::array<std::uint8_t, 8> kUdfSuffix = {0x50, 0x02, 0, 0, 0, 0, 0, 0};  // revision 2.50
void implementation(std::uint8_t* p) { regid(p, "*tarnwick-mkdisc"); }

void charspec(std::uint8_t* p) {
  p[0] = 0;
  std::memcpy(p + 1, "OSTA Compressed Unicode", 23);
}

// A fixed-length string: compression id 8, the bytes, the used length last.
void dstring(std::uint8_t* p, std::size_t size, const std::string& text) {
  const std::size_t n = std::min(text.size(), size - 2);
  p[0] = 8;
  std::memcpy(p + 1, text.data(), n);
  p[size - 1] = static_cast<std::uint8_t>(n + 1);
}

// Every date the same, so that the same tree gives the same image.
void timestamp(std::uint8_t* p) {
  put16(p, 0x1000);  // local time, offset 0
  put16(p + 2, 2006);
  p[4] = 6;
  p[5] = 1;
  p[6] = 12;
}

void longAd(std::uint8_t* p, std::uint32_t length, std::uint32_t block, std::uint16_t partition,
            std::uint32_t uniqueId = 0) {
  put32(p, length);
  put32(p + 4, block);
  put16(p + 8, partition);
  put32(p + 12, uniqueId);
}

// A file identifier in OSTA compressed Unicode: 8 bits a character where
// every one fits, else 16.
std::vector<std::uint8_t> cs0(const std::string& utf8) {
  std::vector<std::uint32_t> chars;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    std::uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + static_cast<std::size_t>(k) < utf8.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3F);
    chars.push_back(cp > 0xFFFF ? 0xFFFD : cp);
    i += static_cast<std::size_t>(extra) + 1;
  }
  const bool narrow = std::all_of(chars.begin(), chars.end(), [](std::uint32_t c) { return c < 0x100; });
  std::vector<std::uint8_t> out{static_cast<std::uint8_t>(narrow ? 8 : 16)};
  for (std::uint32_t c : chars) {
    if (!narrow) out.push_back(static_cast<std::uint8_t>(c >> 8));
    out.push_back(static_cast<std::uint8_t>(c));
  }
  if (out.size() > 255) throw std::runtime_error("name too long for UDF: " + utf8);
  return out;
}

std::size_t fidSize(std::size_t nameBytes) { return (38 + nameBytes + 3) & ~std::size_t{3}; }

std::uint64_t blocksOf(std::uint64_t bytes) { return (bytes + kBlock - 1) / kBlock; }

struct Node {
  std::string name;
  fs::path path;
  bool folder = false;
  std::uint64_t size = 0;
  std::vector<std::unique_ptr<Node>> children;
  Node* parent = nullptr;
  std::uint32_t uniqueId = 0;
  std::uint32_t entry = 0;  // metadata block of the file entry
  // A folder's identifiers, in the entry or from dirBlock on.
  std::vector<std::uint8_t> fids;
  std::uint32_t dirBlock = 0;
  // A file's bytes: from dataBlock on in the physical partition, in extents;
  // the descriptors beyond the entry go to allocation extents.
  std::uint32_t dataBlock = 0;
  std::vector<std::uint32_t> aedBlocks;

  bool inlineData() const { return folder ? fids.size() <= kInlineCapacity : size <= kInlineCapacity; }
};

std::unique_ptr<Node> scan(const fs::path& path, Node* parent) {
  auto node = std::make_unique<Node>();
  node->path = path;
  node->name = path.filename().string();
  node->parent = parent;
  node->folder = fs::is_directory(path);
  if (!node->folder) {
    node->size = fs::file_size(path);
    return node;
  }
  std::vector<fs::path> names;
  for (const fs::directory_entry& e : fs::directory_iterator(path)) names.push_back(e.path());
  std::sort(names.begin(), names.end());
  for (const fs::path& p : names) node->children.push_back(scan(p, node.get()));
  return node;
}

class Writer {
 public:
  Writer(const std::string& folder, const std::string& image, const UdfImageOptions& options)
      : image_(image), options_(options) {
    if (options_.maxExtentBytes == 0 || options_.maxExtentBytes % kBlock != 0 ||
        options_.maxExtentBytes > kUdfMaxExtentBytes)
      throw std::runtime_error("extent size must be a multiple of 2048 below 2^30");
    const std::size_t entryFit = kInlineCapacity / kLongAd;
    const std::size_t extentFit = (kBlock - kAedHeader) / kLongAd;
    adsInEntry_ = options_.adsInEntry == 0 ? entryFit : std::min(options_.adsInEntry, entryFit);
    adsPerExtent_ = options_.adsPerExtent == 0 ? extentFit : std::min(options_.adsPerExtent, extentFit);
    if (adsInEntry_ < 2 || adsPerExtent_ < 2) throw std::runtime_error("a descriptor list needs room for two");
    if (!fs::is_directory(folder)) throw std::runtime_error(folder + " is not a folder");
    root_ = scan(folder, nullptr);
  }

  UdfImageTotals write() {
    layOut(*root_);
    metadataBlocks_ = (nextMeta_ + kAllocationUnit - 1) / kAllocationUnit * kAllocationUnit;
    nextData_ = kMetadataStart + 2 * metadataBlocks_;
    placeData(*root_);
    partitionBlocks_ = nextData_;
    const std::uint64_t total = std::uint64_t{kPartitionStart} + partitionBlocks_ + 1;
    if (total > 0xFFFFFFFFu) throw std::runtime_error("tree too large for one UDF image");
    totals_.blocks = total;

    fd_ = ::open(image_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) fail("cannot create");
    try {
      if (::ftruncate(fd_, static_cast<off_t>(total * kBlock)) != 0) fail("cannot size");
      writeVolume(static_cast<std::uint32_t>(total));
      writeMetadata();
      copyData(*root_);
      if (::close(std::exchange(fd_, -1)) != 0) fail("cannot close");
    } catch (...) {
      if (fd_ >= 0) ::close(fd_);
      throw;
    }
    return totals_;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error(what + " " + image_ + ": " + std::strerror(errno));
  }

  void pwriteAll(const std::uint8_t* p, std::size_t n, std::uint64_t at) const {
    while (n > 0) {
      const ssize_t put = ::pwrite(fd_, p, n, static_cast<off_t>(at));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) fail("cannot write");
      p += put;
      n -= static_cast<std::size_t>(put);
      at += static_cast<std::uint64_t>(put);
    }
  }

  void writeSector(std::uint32_t sector, const std::uint8_t* p, std::size_t n) const {
    pwriteAll(p, n, std::uint64_t{sector} * kBlock);
  }

  std::uint64_t extentsOf(const Node& n) const {
    return (n.size + options_.maxExtentBytes - 1) / options_.maxExtentBytes;
  }

  // Unique ids, the metadata blocks of entries, folders' identifiers and
  // allocation extents.
  void layOut(Node& node) {
    node.uniqueId = node.parent == nullptr ? 0 : nextUniqueId_++;
    node.entry = nextMeta_++;
    if (node.folder) {
      ++totals_.folders;
      for (auto& child : node.children) layOut(*child);
      node.fids = identifiers(node);
      if (!node.inlineData()) {
        node.dirBlock = nextMeta_;
        nextMeta_ += static_cast<std::uint32_t>(blocksOf(node.fids.size()));
      }
      return;
    }
    ++totals_.files;
    if (node.inlineData()) return;
    std::uint64_t left = extentsOf(node);
    if (left <= adsInEntry_) return;
    left -= adsInEntry_ - 1;
    while (left > 0) {
      node.aedBlocks.push_back(nextMeta_++);
      ++totals_.allocationExtents;
      left -= left <= adsPerExtent_ ? left : adsPerExtent_ - 1;
    }
  }

  void placeData(Node& node) {
    if (node.folder) {
      for (auto& child : node.children) placeData(*child);
    } else if (!node.inlineData()) {
      // Each file from a 64 KiB boundary of the image, as discs align their
      // files to error-correction blocks; reads out of the image then start
      // on a page of it, as they do in a loose file.
      const std::uint64_t absolute = kPartitionStart + std::uint64_t{nextData_};
      nextData_ += static_cast<std::uint32_t>((kAllocationUnit - absolute % kAllocationUnit) % kAllocationUnit);
      node.dataBlock = nextData_;
      const std::uint64_t next = nextData_ + blocksOf(node.size);
      if (next > 0xFFFFFFF0u) throw std::runtime_error("tree too large for one UDF image");
      nextData_ = static_cast<std::uint32_t>(next);
    }
  }

  std::vector<std::uint8_t> fid(std::uint8_t characteristics, const std::vector<std::uint8_t>& name,
                                const Node& target) const {
    std::vector<std::uint8_t> d(fidSize(name.size()), 0);
    put16(&d[16], 1);
    d[18] = characteristics;
    d[19] = static_cast<std::uint8_t>(name.size());
    longAd(&d[20], kBlock, target.entry, kMetadata, target.uniqueId);
    std::copy(name.begin(), name.end(), d.begin() + 38);
    return d;
  }

  // The folder's identifiers; their tags are made when the blocks are known.
  std::vector<std::uint8_t> identifiers(const Node& node) const {
    std::vector<std::uint8_t> out = fid(0x0A, {}, node.parent ? *node.parent : node);
    for (const auto& child : node.children) {
      const std::vector<std::uint8_t> d = fid(child->folder ? 0x02 : 0x00, cs0(child->name), *child);
      out.insert(out.end(), d.begin(), d.end());
    }
    return out;
  }

  // Tags each identifier of a folder whose bytes start at `block`.
  static void tagIdentifiers(std::uint8_t* p, std::size_t n, std::uint32_t block) {
    std::size_t at = 0;
    while (at < n) {
      const std::size_t size = fidSize(p[at + 19]);
      tag(p + at, kFid, block + static_cast<std::uint32_t>(at / kBlock), size);
      at += size;
    }
  }

  void writeVolume(std::uint32_t total) {
    std::vector<std::uint8_t> b(kBlock);
    const auto clear = [&] { std::fill(b.begin(), b.end(), 0); };
    for (const auto& [sector, id] : {std::pair{16u, "BEA01"}, std::pair{17u, "NSR03"}, std::pair{18u, "TEA01"}}) {
      clear();
      b[0] = 0;
      std::memcpy(&b[1], id, 5);
      b[6] = 1;
      writeSector(sector, b.data(), kBlock);
    }
    for (std::uint32_t base : {kMainVds, kReserveVds}) {
      std::uint32_t s = base;
      // Primary volume descriptor.
      clear();
      put32(&b[16], 0);
      dstring(&b[24], 32, options_.volumeName);
      put16(&b[56], 1);
      put16(&b[58], 1);
      put16(&b[60], 3);
      put16(&b[62], 3);
      put32(&b[64], 1);
      put32(&b[68], 1);
      dstring(&b[72], 128, "0000000000000000" + options_.volumeName);
      charspec(&b[200]);
      charspec(&b[264]);
      implementation(&b[388]);
      timestamp(&b[376]);
      tag(b.data(), kPvd, s, 512);
      writeSector(s++, b.data(), kBlock);
      // Implementation use volume descriptor.
      clear();
      put32(&b[16], 1);
      regid(&b[20], "*UDF LV Info", kUdfSuffix);
      charspec(&b[52]);
      dstring(&b[116], 128, options_.volumeName);
      implementation(&b[52 + 64 + 128 + 36 * 3]);
      tag(b.data(), kIuvd, s, 512);
      writeSector(s++, b.data(), kBlock);
      // Partition descriptor: read-only, so no space bitmap.
      clear();
      put32(&b[16], 2);
      put16(&b[20], 1);
      put16(&b[22], 0);
      regid(&b[24], "+NSR03");
      put32(&b[184], 1);
      put32(&b[188], kPartitionStart);
      put32(&b[192], partitionBlocks_);
      implementation(&b[196]);
      tag(b.data(), kPd, s, 512);
      writeSector(s++, b.data(), kBlock);
      // Logical volume descriptor: the physical partition, and the
      // metadata partition in it.
      clear();
      put32(&b[16], 3);
      charspec(&b[20]);
      dstring(&b[84], 128, options_.volumeName);
      put32(&b[212], kBlock);
      regid(&b[216], "*OSTA UDF Compliant", {0x50, 0x02, 0x03, 0, 0, 0, 0, 0});  // hard and soft write-protected
      longAd(&b[248], kBlock, 0, kMetadata);  // the file set descriptor
      put32(&b[264], 6 + 64);
      put32(&b[268], 2);
      implementation(&b[272]);
      put32(&b[432], 2 * kBlock);
      put32(&b[436], kIntegrity);
      std::uint8_t* map = &b[440];
      map[0] = 1;
      map[1] = 6;
      put16(map + 2, 1);
      put16(map + 4, 0);
      map += 6;
      map[0] = 2;
      map[1] = 64;
      regid(map + 4, "*UDF Metadata Partition", kUdfSuffix);
      put16(map + 36, 1);
      put16(map + 38, 0);
      put32(map + 40, kMetadataFileEntry);
      put32(map + 44, kMirrorFileEntry);
      put32(map + 48, 0xFFFFFFFFu);  // no bitmap: the volume is read-only
      put32(map + 52, kAllocationUnit);
      put16(map + 56, 1);
      map[58] = 1;  // the mirror holds its own copy
      tag(b.data(), kLvd, s, 440 + 70);
      writeSector(s++, b.data(), kBlock);
      // Unallocated space descriptor: none.
      clear();
      put32(&b[16], 4);
      tag(b.data(), kUsd, s, 24);
      writeSector(s++, b.data(), kBlock);
      clear();
      tag(b.data(), kTd, s, 512);
      writeSector(s++, b.data(), kBlock);
    }
    // Logical volume integrity: closed, with the counts readers show.
    clear();
    timestamp(&b[16]);
    put32(&b[28], 1);
    put64(&b[40], nextUniqueId_);
    put32(&b[72], 2);
    put32(&b[76], 46);
    put32(&b[80], 0);
    put32(&b[84], 0);
    put32(&b[88], partitionBlocks_);
    put32(&b[92], metadataBlocks_);
    std::uint8_t* iu = &b[96];
    implementation(iu);
    put32(iu + 32, static_cast<std::uint32_t>(totals_.files));
    put32(iu + 36, static_cast<std::uint32_t>(totals_.folders));
    put16(iu + 40, kUdfRevision);
    put16(iu + 42, kUdfRevision);
    put16(iu + 44, kUdfRevision);
    tag(b.data(), kLvid, kIntegrity, 96 + 46);
    writeSector(kIntegrity, b.data(), kBlock);
    clear();
    tag(b.data(), kTd, kIntegrity + 1, 512);
    writeSector(kIntegrity + 1, b.data(), kBlock);
    // The anchors: at 256 and in the last sector.
    for (std::uint32_t s : {kAnchor, total - 1}) {
      clear();
      put32(&b[16], 16 * kBlock);
      put32(&b[20], kMainVds);
      put32(&b[24], 16 * kBlock);
      put32(&b[28], kReserveVds);
      tag(b.data(), kAvdp, s, 512);
      writeSector(s, b.data(), kBlock);
    }
    // The metadata file and its mirror: one extent each.
    for (const auto& [at, type, start] : {std::tuple{kMetadataFileEntry, 250, kMetadataStart},
                                          std::tuple{kMirrorFileEntry, 251, kMetadataStart + metadataBlocks_}}) {
      clear();
      const std::uint64_t bytes = std::uint64_t{metadataBlocks_} * kBlock;
      entryHeader(b.data(), static_cast<std::uint8_t>(type), 0, bytes, metadataBlocks_, 0, 0);
      put32(&b[212], 8);
      put32(&b[216], static_cast<std::uint32_t>(bytes));
      put32(&b[220], start);
      tag(b.data(), kEfe, at, kEntryHeader + 8);
      writeSector(kPartitionStart + at, b.data(), kBlock);
    }
  }

  // An extended file entry's fields before its descriptors.
  void entryHeader(std::uint8_t* p, std::uint8_t fileType, std::uint16_t allocation, std::uint64_t length,
                   std::uint64_t blocks, std::uint32_t uniqueId, std::uint16_t links) const {
    put16(p + 16 + 4, 4);  // strategy 4
    put16(p + 16 + 8, 1);
    p[16 + 11] = fileType;
    put16(p + 16 + 18, allocation);
    put32(p + 36, 0xFFFFFFFFu);
    put32(p + 40, 0xFFFFFFFFu);
    put32(p + 44, 0x14A5);  // read and execute for all
    put16(p + 48, links);
    put64(p + 56, length);
    put64(p + 64, length);
    put64(p + 72, blocks);
    for (int at : {80, 92, 104, 116}) timestamp(p + at);
    put32(p + 128, 1);
    implementation(p + 168);
    put64(p + 200, uniqueId);
  }

  void writeMetadata() {
    meta_.assign(std::size_t{metadataBlocks_} * kBlock, 0);
    // File set descriptor, and the descriptor that ends the set.
    std::uint8_t* f = &meta_[0];
    timestamp(f + 16);
    put16(f + 28, 3);
    put16(f + 30, 3);
    put32(f + 32, 1);
    put32(f + 36, 1);
    charspec(f + 48);
    dstring(f + 112, 128, options_.volumeName);
    charspec(f + 240);
    dstring(f + 304, 32, options_.volumeName);
    longAd(f + 400, kBlock, root_->entry, kMetadata);
    regid(f + 416, "*OSTA UDF Compliant", {0x50, 0x02, 0x03, 0, 0, 0, 0, 0});
    tag(f, kFsd, 0, 512);
    tag(&meta_[kBlock], kTd, 1, 512);
    entries(*root_);
    writeSector(kPartitionStart + kMetadataStart, meta_.data(), meta_.size());
    writeSector(kPartitionStart + kMetadataStart + metadataBlocks_, meta_.data(), meta_.size());
  }

  std::uint8_t* metaBlock(std::uint32_t block) { return &meta_[std::size_t{block} * kBlock]; }

  void entries(Node& node) {
    std::uint8_t* e = metaBlock(node.entry);
    if (node.folder) {
      std::uint16_t links = 1;
      for (auto& child : node.children) {
        if (child->folder) ++links;
        entries(*child);
      }
      const std::uint64_t length = node.fids.size();
      if (node.inlineData()) {
        entryHeader(e, 4, 3, length, 0, node.uniqueId, links);
        put32(e + 212, static_cast<std::uint32_t>(length));
        std::copy(node.fids.begin(), node.fids.end(), e + kEntryHeader);
        tagIdentifiers(e + kEntryHeader, node.fids.size(), node.entry);
        tag(e, kEfe, node.entry, kEntryHeader + length);
      } else {
        entryHeader(e, 4, 1, length, blocksOf(length), node.uniqueId, links);
        put32(e + 212, kLongAd);
        longAd(e + kEntryHeader, static_cast<std::uint32_t>(length), node.dirBlock, kMetadata);
        std::copy(node.fids.begin(), node.fids.end(), metaBlock(node.dirBlock));
        tagIdentifiers(metaBlock(node.dirBlock), node.fids.size(), node.dirBlock);
        tag(e, kEfe, node.entry, kEntryHeader + kLongAd);
      }
      return;
    }
    if (node.inlineData()) {
      entryHeader(e, 5, 3, node.size, 0, node.uniqueId, 1);
      put32(e + 212, static_cast<std::uint32_t>(node.size));
      readWhole(node, e + kEntryHeader);
      tag(e, kEfe, node.entry, kEntryHeader + node.size);
      return;
    }
    // The file's extents, as many in the entry as it takes; the rest in a
    // chain of allocation extents, each list's last descriptor naming the next.
    entryHeader(e, 5, 1, node.size, blocksOf(node.size), node.uniqueId, 1);
    const std::uint64_t count = extentsOf(node);
    std::uint64_t k = 0;
    std::uint8_t* list = e;
    std::size_t headerSize = kEntryHeader;
    std::uint32_t listBlock = node.entry;
    Tag listTag = kEfe;
    std::size_t room = adsInEntry_;
    std::size_t aed = 0;
    std::uint32_t previous = 0;
    for (;;) {
      const bool last = count - k <= room;
      const std::size_t here = last ? static_cast<std::size_t>(count - k) : room - 1;
      std::uint8_t* ad = list + headerSize;
      for (std::size_t i = 0; i < here; ++i, ++k, ad += kLongAd) {
        const std::uint64_t from = k * options_.maxExtentBytes;
        const auto length = static_cast<std::uint32_t>(std::min(options_.maxExtentBytes, node.size - from));
        longAd(ad, length, extentBlock(node, from, length), kPhysical);
      }
      std::size_t used = here * kLongAd;
      if (!last) {
        const std::uint32_t next = node.aedBlocks[aed];
        const std::size_t nextCount = std::min<std::uint64_t>(count - k, adsPerExtent_);
        longAd(ad, 0xC0000000u | static_cast<std::uint32_t>(kAedHeader + nextCount * kLongAd), next, kMetadata);
        used += kLongAd;
      }
      put32(list + (listTag == kEfe ? 212 : 20), static_cast<std::uint32_t>(used));
      if (listTag == kAed) put32(list + 16, previous);
      tag(list, listTag, listBlock, headerSize + used);
      if (last) break;
      previous = listBlock;
      listBlock = node.aedBlocks[aed++];
      list = metaBlock(listBlock);
      headerSize = kAedHeader;
      listTag = kAed;
      room = adsPerExtent_;
    }
  }

  // The block where the extent of `length` bytes from `from` starts.
  std::uint32_t extentBlock(const Node& node, std::uint64_t from, std::uint64_t length) const {
    if (!options_.scatterExtents) return node.dataBlock + static_cast<std::uint32_t>(from / kBlock);
    return node.dataBlock + static_cast<std::uint32_t>(blocksOf(node.size) - blocksOf(from + length));
  }

  void readWhole(const Node& node, std::uint8_t* out) const {
    const int in = ::open(node.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw std::runtime_error("cannot open " + node.path.string() + ": " + std::strerror(errno));
    std::size_t got = 0;
    while (got < node.size) {
      const ssize_t n = ::read(in, out + got, node.size - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ::close(in);
        throw std::runtime_error("cannot read " + node.path.string());
      }
      got += static_cast<std::size_t>(n);
    }
    ::close(in);
  }

  // The file's bytes at their blocks; holes and runs of zeros are left
  // unwritten, as holes of the image.
  void copyData(const Node& node) {
    if (node.folder) {
      for (const auto& child : node.children) copyData(*child);
      return;
    }
    if (node.inlineData()) return;
    const int in = ::open(node.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw std::runtime_error("cannot open " + node.path.string() + ": " + std::strerror(errno));
    constexpr std::size_t kChunk = 1 << 20;
    std::vector<std::uint8_t> buf(kChunk);
    try {
      for (std::uint64_t from = 0; from < node.size; from += options_.maxExtentBytes) {
        const std::uint64_t end = std::min(node.size, from + options_.maxExtentBytes);
        const std::uint64_t base =
            (std::uint64_t{kPartitionStart} + extentBlock(node, from, end - from)) * kBlock - from;
        std::uint64_t at = from;
        while (at < end) {
          const off_t data = ::lseek(in, static_cast<off_t>(at), SEEK_DATA);
          if (data < 0 && errno == ENXIO) break;  // a hole to the end
          if (data > static_cast<off_t>(at)) at = std::min<std::uint64_t>(end, static_cast<std::uint64_t>(data));
          if (at >= end) break;
          const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, end - at));
          std::size_t got = 0;
          while (got < want) {
            const ssize_t n = ::pread(in, buf.data() + got, want - got, static_cast<off_t>(at + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw std::runtime_error("cannot read " + node.path.string());
            got += static_cast<std::size_t>(n);
          }
          const bool zero = buf[0] == 0 && std::memcmp(buf.data(), buf.data() + 1, got - 1) == 0;
          if (!zero) pwriteAll(buf.data(), got, base + at);
          at += got;
        }
      }
    } catch (...) {
      ::close(in);
      throw;
    }
    ::close(in);
  }

  std::string image_;
  UdfImageOptions options_;
  std::size_t adsInEntry_ = 0;
  std::size_t adsPerExtent_ = 0;
  std::unique_ptr<Node> root_;
  std::uint32_t nextUniqueId_ = 16;  // ids below 16 are reserved
  std::uint32_t nextMeta_ = 2;       // after the file set descriptor and its terminator
  std::uint32_t metadataBlocks_ = 0;
  std::uint32_t nextData_ = 0;
  std::uint32_t partitionBlocks_ = 0;
  std::vector<std::uint8_t> meta_;
  UdfImageTotals totals_;
  int fd_ = -1;
};

}  // namespace

UdfImageTotals writeUdfImage(const std::string& folder, const std::string& image, const UdfImageOptions& options) {
  return Writer(folder, image, options).write();
}

void retagDescriptor(std::uint8_t* p) {
  const std::uint16_t crc = crc16(p + 16, static_cast<std::size_t>(p[10] | p[11] << 8));
  p[8] = static_cast<std::uint8_t>(crc);
  p[9] = static_cast<std::uint8_t>(crc >> 8);
  std::uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = static_cast<std::uint8_t>(sum + p[i]);
  p[4] = sum;
}

}  // namespace tarnwick::mkdisc
