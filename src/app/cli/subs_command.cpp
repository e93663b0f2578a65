#include "app/cli/subs_command.h"

#include "app/cli/session.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "subtitles/pgs_reader.h"
#include "subtitles/sp_records.h"
#include "subtitles/subpicture_decoder.h"

namespace tarnwick {
namespace {

// Y'CbCr (video range) to 8-bit R'G'B'; HD frames use the BT.709 matrix,
// standard-definition ones BT.601.
std::array<std::uint8_t, 4> toRgba(const PaletteEntry& e, bool hd) {
  const double y = (e.y - 16) * 255.0 / 219.0;
  const double cb = (e.cb - 128) * 255.0 / 224.0;
  const double cr = (e.cr - 128) * 255.0 / 224.0;
  const double r = hd ? y + 1.5748 * cr : y + 1.402 * cr;
  const double g = hd ? y - 0.1873 * cb - 0.4681 * cr : y - 0.344136 * cb - 0.714136 * cr;
  const double b = hd ? y + 1.8556 * cb : y + 1.772 * cb;
  const auto clamp = [](double v) { return static_cast<std::uint8_t>(std::clamp(v + 0.5, 0.0, 255.0)); };
  return {clamp(r), clamp(g), clamp(b), e.alpha};
}

bool writePng(const std::string& path, const Caption& c, bool hd, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    error = std::strerror(errno);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(c.width) * 4);
  bool ok = png && info;
  // libpng reports its errors by a long jump back here.
  if (ok && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(c.width), static_cast<png_uint_32>(c.height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::array<std::array<std::uint8_t, 4>, 256> rgba{};
    for (int i = 0; i < 256; ++i) rgba[i] = toRgba(c.palette[i], hd);
    for (int y = 0; y < c.height; ++y) {
      const std::uint8_t* line = c.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(c.width);
      for (int x = 0; x < c.width; ++x) std::copy(rgba[line[x]].begin(), rgba[line[x]].end(), &row[4 * x]);
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
  } else {
    ok = false;
  }
  png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
  if (std::fclose(file) != 0) ok = false;
  if (!ok) error = "PNG write error";
  return ok;
}

// "h-mm-ss.mmm", file-name safe on every system.
std::string timeName(std::uint32_t ticks) {
  std::string t = formatTicks(ticks);
  std::replace(t.begin(), t.end(), ':', '-');
  return t;
}

}  // namespace

int runSubsPng(const std::string& supPath, const std::string& pngDir, LogSink& log) {
  std::ifstream in(supPath, std::ios::binary);
  if (!in) {
    log.log("Cannot open file \"" + supPath + "\". " + std::strerror(errno));
    return 1;
  }
  std::error_code ec;
  std::filesystem::create_directories(pngDir, ec);
  if (ec) {
    log.log("Cannot create folder \"" + pngDir + "\". " + ec.message());
    return 1;
  }
  std::uint8_t head[kSpRecordHeaderSize] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  const std::size_t got = static_cast<std::size_t>(in.gcount());
  in.clear();
  in.seekg(0);

  std::set<std::string> used;
  std::uint64_t written = 0;
  bool failed = false;
  const auto save = [&](const Caption& c, bool hd) {
    if (failed || c.width <= 0 || c.height <= 0) return;
    std::string name = timeName(c.start);
    for (int k = 2; used.count(name); ++k) name = timeName(c.start) + "_" + std::to_string(k);
    used.insert(name);
    const std::string path = (std::filesystem::path(pngDir) / (name + ".png")).string();
    std::string error;
    if (!writePng(path, c, hd, error)) {
      log.log("Cannot create file \"" + path + "\". " + error);
      failed = true;
      return;
    }
    ++written;
  };

  if (looksLikeSpRecords(head, got)) {
    // SP records keep no frame size; they come from HD DVD discs.
    SubpictureDecoder decoder(log);
    readSpRecords(in, log, [&](const std::uint8_t* unit, std::size_t size, std::uint32_t time) {
      if (std::optional<Caption> c = decoder.decode(unit, size, time)) save(*c, true);
    });
  } else if (got >= 2 && head[0] == 'P' && head[1] == 'G') {
    readPgs(in, log, [&](const Caption& c) { save(c, c.frameHeight == 0 || c.frameHeight > 576); });
  } else {
    log.log("\"" + supPath + "\" is neither a PGS stream nor SP records");
    return 1;
  }
  if (failed) return 1;
  log.log(std::to_string(written) + " captions written to " + pngDir);
  return 0;
}

}  // namespace tarnwick

namespace tarnwick::cli {

// tarnwick-cli subs --png DIR SUP_FILE
int runSubs(const Options& o) {
  ConsoleReport report(processStreams());
  return runSubsPng(o.input, o.pngDir, report);
}

}  // namespace tarnwick::cli
