// Disc images: what tarnwick-mkdisc's UDF writer puts in an image, read back
// by libudfread's own reader and by udfinfo (the peers) and by our Disc,
// whose files are read from the image at their extents; and the images that
// must be refused, each with what is wrong.

#include <fcntl.h>
#include <sys/stat.h>
#include <udfread/udfread.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <random>

#include "disc/disc.h"
#include "disc/udf_image.h"
#include "engine/file_io.h"
#include "rebuild/rebuild.h"
#include "support/recording_report.h"
#include "support/run_process.h"
#include "support/temp_dir.h"
#include "udf_writer.h"

namespace tarnwick {
namespace {

using mkdisc::UdfImageOptions;
using mkdisc::writeUdfImage;
using test::TempDir;
using ::testing::HasSubstr;

std::string randomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// libudfread's own reading of a file of the image: the oracle.
std::string udfreadBytes(const std::string& image, const std::string& path) {
  udfread* udf = udfread_init();
  if (udfread_open(udf, image.c_str()) < 0) {
    udfread_close(udf);
    return "<image not opened>";
  }
  UDFFILE* f = udfread_file_open(udf, ("/" + path).c_str());
  std::string out;
  if (f != nullptr) {
    char buf[65536];
    for (ssize_t n; (n = udfread_file_read(f, buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    udfread_file_close(f);
  } else {
    out = "<file not opened>";
  }
  udfread_close(udf);
  return out;
}

// Reads the whole of `file` in pieces of the given sizes, in turn.
std::string readInPieces(InputFile& file, const std::vector<std::size_t>& sizes) {
  std::string out;
  std::vector<std::uint8_t> buf(1 << 20);
  for (std::size_t i = 0; file.position() < file.size(); ++i) {
    const std::size_t n = file.readChunk(buf.data(), sizes[i % sizes.size()]);
    if (n == 0) break;
    out.append(reinterpret_cast<const char*>(buf.data()), n);
  }
  return out;
}

// A disc tree with every kind of file an image stores: an EVO in many
// extents, a playlist in blocks, a file inside its entry, an empty file, a
// name outside Latin-1, and a folder too long to sit inside its entry.
struct SampleTree {
  TempDir dir;
  std::filesystem::path root = dir.path() / "disc";
  std::map<std::string, std::string> files;

  SampleTree() {
    files["HVDVD_TS/FEATURE_1.EVO"] = randomBytes(3 * 1024 * 1024 + 1234, 1);
    files["ADV_OBJ/VPLST000.XPL"] = randomBytes(5000, 2);
    files["ADV_OBJ/TINY.TXT"] = "small";
    files["ADV_OBJ/EMPTY"] = "";
    files["EXTRA/\xe6\x97\xa5\xe6\x9c\xac.txt"] = randomBytes(3000, 3);
    for (int i = 0; i < 60; ++i) files["MANY/FILE_NAMED_AT_LENGTH_" + std::to_string(i)] = std::to_string(i);
    for (const auto& [path, bytes] : files) writeFile(root / path, bytes);
  }
};

TEST(UdfImage, ReadsAsTheLooseFilesThroughLibudfreadAndOurExtents) {
  SampleTree tree;
  const std::string image = tree.dir / "disc.iso";
  UdfImageOptions options;
  options.maxExtentBytes = 64 * 1024;  // 49 extents for the EVO
  options.adsInEntry = 3;
  options.adsPerExtent = 5;
  options.scatterExtents = true;
  const mkdisc::UdfImageTotals totals = writeUdfImage(tree.root.string(), image, options);
  EXPECT_GE(totals.allocationExtents, 10u);

  const std::unique_ptr<Disc> disc = openDisc(image);
  ASSERT_TRUE(disc->isImage());
  const std::int64_t imageSize = static_cast<std::int64_t>(std::filesystem::file_size(image));
  for (const auto& [path, bytes] : tree.files) {
    SCOPED_TRACE(path);
    EXPECT_EQ(udfreadBytes(image, path), bytes);
    const std::optional<DiscEntry> entry = disc->find(path);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->size, static_cast<std::int64_t>(bytes.size()));
    InputFile whole = disc->open(path);
    EXPECT_EQ(whole.size(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(readInPieces(whole, {0x40000}), bytes);
    // Reads of odd sizes end inside extents and cross from one to the next.
    InputFile odd = disc->open(path);
    EXPECT_EQ(readInPieces(odd, {3000, 70001, 2048, 1}), bytes);
    for (const FileExtent& e : imageExtents(*disc, path)) {
      EXPECT_GE(e.offset, 0);
      EXPECT_LE(e.offset + e.length, imageSize);
    }
  }
  // Laid out back to front, the EVO's extents are each a run of their own.
  EXPECT_EQ(imageExtents(*disc, "HVDVD_TS/FEATURE_1.EVO").size(), 49u);

  // Names match without regard to case; folders list in the disc's order.
  ASSERT_TRUE(disc->find("hvdvd_ts/feature_1.evo").has_value());
  std::vector<std::string> names;
  for (const DiscEntry& e : disc->list("adv_obj")) names.push_back(e.name);
  EXPECT_THAT(names, ::testing::ElementsAre("EMPTY", "TINY.TXT", "VPLST000.XPL"));
  EXPECT_EQ(disc->list("MANY").size(), 60u);
  EXPECT_EQ(disc->readSmall("ADV_OBJ/VPLST000.XPL", 100), tree.files["ADV_OBJ/VPLST000.XPL"].substr(0, 100));

  // The kernel's copy out of the image takes each piece from its extent.
  const std::string& evo = tree.files["HVDVD_TS/FEATURE_1.EVO"];
  const std::string copied = tree.dir / "copy.bin";
  {
    InputFile source = disc->open("HVDVD_TS/FEATURE_1.EVO");
    OutputFile out(copied);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(evo.data());
    out.writeCopyOf(bytes + 1000, 200000, source, 1000);  // across four extents
    out.write(bytes + 201000, 5);
    out.writeCopyOf(bytes + 201005, evo.size() - 201005, source, 201005);
    out.close();
  }
  EXPECT_TRUE(readFile(copied) == evo.substr(1000)) << "the copy differs from the file";

  // udfinfo, an independent reader, takes it as UDF 2.50.
  const test::ProcessResult info = test::runProcess({"udfinfo", image});
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_THAT(info.out, HasSubstr("udfrev=2.50"));
  EXPECT_THAT(info.out, HasSubstr("numfiles=" + std::to_string(tree.files.size())));
}

// The sample disc of tarnwick-mkdisc --image: the image lists what the disc
// folder lists, and every file reads as the loose one, by libudfread and by us.
TEST(UdfImage, SampleDiscImageHoldsTheDiscFolder) {
  TempDir dir;
  const std::string folder = dir / "disc";
  const std::string image = dir / "disc.iso";
  const test::ProcessResult made = test::runProcess({TARNWICK_MKDISC, folder, "--image", image});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::unique_ptr<Disc> loose = openDisc(folder);
  const std::unique_ptr<Disc> disc = openDisc(image);
  ASSERT_FALSE(loose->isImage());
  ASSERT_TRUE(disc->isImage());
  int files = 0;
  const std::function<void(const std::string&)> compare = [&](const std::string& path) {
    std::vector<std::string> expected, got;
    for (const DiscEntry& e : loose->list(path)) expected.push_back(e.name + (e.folder ? "/" : " ") + std::to_string(e.size));
    for (const DiscEntry& e : disc->list(path)) got.push_back(e.name + (e.folder ? "/" : " ") + std::to_string(e.size));
    EXPECT_EQ(got, expected) << path;
    for (const DiscEntry& e : loose->list(path)) {
      const std::string child = path.empty() ? e.name : path + "/" + e.name;
      if (e.folder) {
        compare(child);
        continue;
      }
      ++files;
      const std::string bytes = readFile((std::filesystem::path(folder) / child).string());
      EXPECT_TRUE(udfreadBytes(image, child) == bytes) << child << ": libudfread reads other bytes";
      InputFile in = disc->open(child);
      EXPECT_TRUE(readInPieces(in, {0x40000}) == bytes) << child << ": we read other bytes";
      EXPECT_EQ(in.path(), image + "/" + child);
    }
  };
  compare("");
  EXPECT_EQ(files, 5);  // the feature's two EVO files, the extra's, the trailer's and the playlist

  // Rebuild keeping every stream copies its packs in the kernel: out of an
  // image whose EVO lies in scattered 64 KiB extents, each copy must take its
  // bytes from the right places, giving what the loose file gives.
  const std::string scattered = dir / "scattered.iso";
  UdfImageOptions options;
  options.maxExtentBytes = 64 * 1024;
  options.scatterExtents = true;
  writeUdfImage(folder, scattered, options);
  const std::unique_ptr<Disc> scatteredDisc = openDisc(scattered);
  const auto rebuild = [&](InputFile input, const std::string& out) {
    ScanState state;
    state.InputStream.emplace(std::move(input));
    state.VideoSlots[0].output.emplace(out);
    RebuildState rebuildState;
    StreamSelection selection;
    selection.chosen.fill(true);
    test::RecordingReport report;
    Rebuild(state, rebuildState, selection, report);
    state.VideoSlots[0].output->close();
    return readFile(out);
  };
  const std::string fromFolder = rebuild(InputFile(folder + "/HVDVD_TS/FEATURE_1.EVO"), dir / "loose.EVO");
  const std::string fromImage = rebuild(scatteredDisc->open("HVDVD_TS/FEATURE_1.EVO"), dir / "image.EVO");
  EXPECT_GT(fromFolder.size(), std::filesystem::file_size(folder + "/HVDVD_TS/FEATURE_1.EVO") / 2);
  EXPECT_GT(imageExtents(*scatteredDisc, "HVDVD_TS/FEATURE_1.EVO").size(), 50u);
  EXPECT_TRUE(fromImage == fromFolder) << "the rebuild out of the image differs";
}

// A 5 GiB EVO that is mostly a hole: five extents, their descriptors
// continued in an allocation extent; the image is as sparse as the file.
TEST(UdfImage, FileOverFourGibSpansExtentsAndAContinuedChain) {
  TempDir dir;
  const std::filesystem::path root = dir.path() / "disc";
  const std::filesystem::path evo = root / "HVDVD_TS" / "FEATURE_1.EVO";
  std::filesystem::create_directories(evo.parent_path());
  const std::int64_t size = (std::int64_t{5} << 30) + 4321;
  const std::vector<std::int64_t> marks = {0, (std::int64_t{1} << 30) - 2048 - 50,  // across the first boundary
                                           std::int64_t{4} << 30,
                                           size - 100};
  {
    const int fd = ::open(evo.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    for (std::size_t i = 0; i < marks.size(); ++i) {
      const std::string mark = randomBytes(100, static_cast<unsigned>(10 + i));
      ASSERT_EQ(::pwrite(fd, mark.data(), mark.size(), marks[i]), 100);
    }
    ::close(fd);
  }
  const std::string image = dir / "big.iso";
  UdfImageOptions options;
  options.adsInEntry = 3;
  options.scatterExtents = true;
  const mkdisc::UdfImageTotals totals = writeUdfImage(root.string(), image, options);
  EXPECT_EQ(totals.allocationExtents, 1u);
  struct stat st {};
  ASSERT_EQ(::stat(image.c_str(), &st), 0);
  EXPECT_GT(st.st_size, size);
  EXPECT_LT(st.st_blocks * 512, 64 << 20) << "the image is not sparse";

  const std::unique_ptr<Disc> disc = openDisc(image);
  const std::vector<FileExtent> extents = imageExtents(*disc, "HVDVD_TS/FEATURE_1.EVO");
  ASSERT_EQ(extents.size(), 6u);  // five of under 2^30 bytes, and the rest
  std::int64_t logical = 0;
  for (const FileExtent& e : extents) {
    EXPECT_EQ(e.logical, logical);
    EXPECT_LT(e.length, std::int64_t{1} << 30);
    logical += e.length;
  }
  EXPECT_EQ(logical, size);

  udfread* udf = udfread_init();
  ASSERT_GE(udfread_open(udf, image.c_str()), 0);
  UDFFILE* oracle = udfread_file_open(udf, "/HVDVD_TS/FEATURE_1.EVO");
  ASSERT_NE(oracle, nullptr);
  EXPECT_EQ(udfread_file_size(oracle), size);
  InputFile file = disc->open("HVDVD_TS/FEATURE_1.EVO");
  EXPECT_EQ(file.size(), size);
  const int fd = ::open(image.c_str(), O_RDONLY);
  for (std::size_t i = 0; i < marks.size(); ++i) {
    SCOPED_TRACE(marks[i]);
    const std::string mark = randomBytes(100, static_cast<unsigned>(10 + i));
    std::string expected(200, '\0');
    expected.replace(50, 100, mark);
    const std::int64_t from = std::max<std::int64_t>(0, marks[i] - 50);
    expected = expected.substr(static_cast<std::size_t>(from - (marks[i] - 50)));
    expected.resize(static_cast<std::size_t>(std::min<std::int64_t>(expected.size(), size - from)));
    // libudfread's reader, and the image at the offsets our map gives.
    std::string got(expected.size(), '\0');
    ASSERT_EQ(udfread_file_seek(oracle, from, UDF_SEEK_SET), from);
    ASSERT_EQ(udfread_file_read(oracle, got.data(), got.size()), static_cast<ssize_t>(got.size()));
    EXPECT_TRUE(got == expected) << "libudfread reads other bytes";
    std::string ours;
    for (std::int64_t at = from; at < from + static_cast<std::int64_t>(expected.size());) {
      const InputFile::Span span = file.span(at);
      ASSERT_GT(span.length, 0);
      const std::size_t n = static_cast<std::size_t>(
          std::min<std::int64_t>(span.length, from + static_cast<std::int64_t>(expected.size()) - at));
      std::string piece(n, '\0');
      ASSERT_EQ(::pread(fd, piece.data(), n, span.offset), static_cast<ssize_t>(n));
      ours += piece;
      at += static_cast<std::int64_t>(n);
    }
    EXPECT_TRUE(ours == expected) << "our extent map points at other bytes";
  }
  ::close(fd);
  udfread_file_close(oracle);
  udfread_close(udf);
}

// --- Damaged images -------------------------------------------------------

// Makes the tag at p right again after its descriptor was changed.
void retag(std::uint8_t* p) { mkdisc::retagDescriptor(p); }

// The file identifier of `name` (8-bit characters) in the image, and the
// extended file entry (one per block) that holds it inside.
std::uint8_t* findIdentifier(std::string& image, const std::string& name, std::uint8_t** entry) {
  auto* bytes = reinterpret_cast<std::uint8_t*>(image.data());
  for (std::size_t block = 0; block + 2048 <= image.size(); block += 2048) {
    if ((bytes[block] | bytes[block + 1] << 8) != 266) continue;
    for (std::size_t at = block + 216; at + 38 + name.size() + 1 <= block + 2048; at += 4) {
      std::uint8_t* f = bytes + at;
      if ((f[0] | f[1] << 8) == 257 && f[19] == name.size() + 1 && f[38] == 8 &&
          std::memcmp(f + 39, name.data(), name.size()) == 0) {
        *entry = bytes + block;
        return f;
      }
    }
  }
  return nullptr;
}

TEST(UdfImage, BadImagesSayWhatIsWrong) {
  TempDir dir;
  const std::filesystem::path root = dir.path() / "disc";
  writeFile(root / "HVDVD_TS" / "FEATURE_1.EVO", randomBytes(300000, 4));
  std::filesystem::create_directories(root / "A" / "B");
  const std::string good = dir / "good.iso";
  UdfImageOptions options;  // the EVO's descriptors in a chain of allocation extents
  options.maxExtentBytes = 16 * 1024;
  options.adsInEntry = 3;
  options.adsPerExtent = 3;
  writeUdfImage(root.string(), good, options);
  const std::string goodBytes = readFile(good);

  struct Row {
    const char* defect;
    std::function<void(std::string&)> damage;
    const char* says;
    bool atOpenOfTheFile;
  };
  const std::vector<Row> rows = {
      {"not a UDF file system", [](std::string& s) { s = randomBytes(1 << 20, 5); }, "holds no UDF file system",
       false},
      {"an ISO 9660 volume without UDF", [](std::string& s) {
         s.assign(40 * 2048, '\0');
         std::memcpy(&s[16 * 2048], "\x01" "CD001", 6);
       }, "holds no UDF file system", false},
      {"truncated image", [](std::string& s) { s.resize(s.size() - 100 * 2048); }, "is truncated", false},
      {"cut before the anchor", [](std::string& s) { s.resize(200 * 2048); }, "is truncated", false},
      {"extent past the image's end",
       [](std::string& s) {
         auto* bytes = reinterpret_cast<std::uint8_t*>(s.data());
         for (std::size_t b = 0; b + 2048 <= s.size(); b += 2048) {
           std::uint8_t* e = bytes + b;
           // The EVO's entry: a file (type 5) whose descriptors are long ones.
           if ((e[0] | e[1] << 8) != 266 || e[27] != 5 || (e[34] & 7) != 1) continue;
           e[216 + 4] = 0x00;
           e[216 + 5] = 0xFF;
           e[216 + 6] = 0x7F;
           retag(e);
         }
       },
       "points past the image's end", true},
      {"allocation extents in a circle",
       [](std::string& s) {
         auto* bytes = reinterpret_cast<std::uint8_t*>(s.data());
         for (std::size_t b = 0; b + 2048 <= s.size(); b += 2048) {
           std::uint8_t* e = bytes + b;
           if ((e[0] | e[1] << 8) != 258) continue;
           std::memcpy(e + 24 + 2 * 16 + 4, e + 12, 4);  // its continuation names itself
           retag(e);
         }
       },
       "run in a circle", false},
      {"folder that loops",
       [](std::string& s) {
         std::uint8_t* holderA = nullptr;
         std::uint8_t* holderB = nullptr;
         const std::uint8_t* a = findIdentifier(s, "A", &holderA);
         std::uint8_t* b = findIdentifier(s, "B", &holderB);
         ASSERT_TRUE(a && b);
         std::memcpy(b + 24, a + 24, 4);  // B's entry is A's
         retag(b);
         retag(holderB);
       },
       "loops back", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.defect);
    std::string bytes = goodBytes;
    row.damage(bytes);
    const std::string image = dir / "bad.iso";
    writeFile(image, bytes);
    try {
      const std::unique_ptr<Disc> disc = openDisc(image);
      ASSERT_TRUE(row.atOpenOfTheFile) << "opened";
      disc->open("HVDVD_TS/FEATURE_1.EVO");
      ADD_FAILURE() << "the file opened";
    } catch (const DiscError& e) {
      EXPECT_THAT(e.what(), HasSubstr("\"" + image + "\""));
      EXPECT_THAT(e.what(), HasSubstr(row.says));
    }
  }
}

}  // namespace
}  // namespace tarnwick
