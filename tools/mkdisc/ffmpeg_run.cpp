#include "ffmpeg_run.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace tarnwick::mkdisc {
namespace {

namespace fs = std::filesystem;

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

Bytes readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string commandOutput(const std::string& command) {
  std::string text;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    pclose(p);
  }
  return text;
}

// FNV-1a, 64 bits: a cache key, not a checksum against tampering.
std::string key(const std::string& text) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  char buf[24];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

fs::path cacheFolder() {
  if (const char* c = std::getenv("TARNWICK_MKDISC_CACHE"); c && *c)
    return std::string(c) == "off" ? fs::path() : fs::path(c);
  if (const char* x = std::getenv("XDG_CACHE_HOME"); x && *x) return fs::path(x) / "tarnwick-mkdisc";
  if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home) / ".cache" / "tarnwick-mkdisc";
  return {};
}

struct WorkFolder {
  fs::path path;
  WorkFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tarnwick-ffmpeg-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a temporary folder: " + tmpl);
    path = tmpl;
  }
  ~WorkFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

}  // namespace

bool ffmpegAvailable() { return std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") == 0; }

std::vector<Bytes> runFfmpeg(const std::string& arguments, const std::vector<std::string>& outputs, bool cached) {
  static const std::string version = commandOutput("ffmpeg -hide_banner -version 2>&1");
  const fs::path cache = cached ? cacheFolder() : fs::path();
  const std::string name = key(version + '\n' + arguments);
  std::vector<Bytes> files;
  std::error_code ec;
  if (!cache.empty()) {
    for (const std::string& out : outputs) {
      const fs::path kept = cache / (name + "-" + out);
      if (!fs::exists(kept, ec)) break;
      files.push_back(readAll(kept));
    }
    if (files.size() == outputs.size()) return files;
    files.clear();
  }

  WorkFolder work;
  const std::string command = "cd " + shellQuote(work.path.string()) +
                              " && ffmpeg -nostdin -hide_banner -v error -y " + arguments + " 2>ffmpeg.log";
  if (std::system(command.c_str()) != 0) {
    const Bytes log = readAll(work.path / "ffmpeg.log");
    throw std::runtime_error("ffmpeg failed (ffmpeg " + arguments + "): " + std::string(log.begin(), log.end()));
  }
  for (const std::string& out : outputs) files.push_back(readAll(work.path / out));

  // Each file goes in under a name of its own and is renamed into place, so
  // that discs made at the same time never read a half-written one.
  if (!cache.empty() && (fs::create_directories(cache, ec), fs::is_directory(cache, ec))) {
    for (const std::string& out : outputs) {
      const fs::path kept = cache / (name + "-" + out);
      const fs::path partial = cache / (name + "-" + out + "." + std::to_string(getpid()) + ".part");
      fs::copy_file(work.path / out, partial, fs::copy_options::overwrite_existing, ec);
      if (!ec) fs::rename(partial, kept, ec);
      if (ec) fs::remove(partial, ec);
    }
  }
  return files;
}

std::string fontFile(const Font& font) {
  std::error_code ec;
  if (!fs::exists(font.path, ec))
    throw std::runtime_error(std::string("the font ") + font.path + " is missing; install it (Debian: apt-get install " +
                             font.package + ")");
  return font.path;
}

}  // namespace tarnwick::mkdisc
