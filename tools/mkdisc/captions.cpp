#include "captions.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace tarnwick::mkdisc {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLatinFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr const char* kJapaneseFont = "/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf";
constexpr int kLanguages = 3;

// The first caption number from `first` on that has a large picture.
std::uint64_t firstLarge(std::uint64_t first) {
  while (!hasLargeCaption(first)) ++first;
  return first;
}

const char* fontFile(CaptionLanguage l) { return l == CaptionLanguage::Japanese ? kJapaneseFont : kLatinFont; }

const char* words(CaptionLanguage l) {
  switch (l) {
    case CaptionLanguage::English: return "English";
    case CaptionLanguage::Japanese: return "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語
    case CaptionLanguage::German: return "Deutsch";
  }
  return "";
}

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string readText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The captions numbered first .. first+count-1, every language, and the
// large ones of the languages that want them.
struct Batch {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  std::array<bool, kLanguages> hasLarge{};
  std::array<std::array<std::string, 2>, kLanguages> frames;  // [language][large]
  bool holds(std::uint64_t number, int language, bool large) const {
    return count != 0 && number >= first && number < first + count && (!large || hasLarge[language]);
  }
};

class Renderer {
 public:
  CaptionPicture picture(CaptionLanguage language, std::uint64_t number, bool large) {
    const int l = static_cast<int>(language);
    if (large) wantLarge_[l] = true;
    // The first few stay, as each title starts its numbers again at 1; later
    // ones come in runs that replace each other as the feature goes on.
    Batch& b = number <= kFirstCount ? first_ : later_;
    if (!b.holds(number, l, large)) {
      const std::uint64_t first = number <= kFirstCount ? 1 : kFirstCount + 1 + (number - kFirstCount - 1) / kLaterCount * kLaterCount;
      b = render(first, number <= kFirstCount ? kFirstCount : kLaterCount);
    }
    CaptionPicture p;
    p.width = large ? kLargeCaptionWidth : kCaptionWidth;
    p.height = large ? kLargeCaptionHeight : kCaptionHeight;
    const std::size_t size = static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height);
    const std::string& frames = b.frames[l][large ? 1 : 0];
    const std::size_t at = static_cast<std::size_t>(large ? (number - firstLarge(b.first)) / 4 : number - b.first) * size;
    p.pixels.assign(frames.begin() + static_cast<std::ptrdiff_t>(at), frames.begin() + static_cast<std::ptrdiff_t>(at + size));
    return p;
  }

  void wantLarge(CaptionLanguage language) { wantLarge_[static_cast<int>(language)] = true; }

 private:
  static constexpr std::uint64_t kFirstCount = 8;
  static constexpr std::uint64_t kLaterCount = 32;

  Batch render(std::uint64_t first, std::uint64_t count) {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tarnwick-captions-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a temporary folder: " + tmpl);
    const fs::path dir = tmpl;
    struct Cleanup {
      fs::path dir;
      ~Cleanup() {
        std::error_code ec;
        fs::remove_all(dir, ec);
      }
    } cleanup{dir};

    Batch b;
    b.first = first;
    b.count = count;
    b.hasLarge = wantLarge_;
    // One lavfi input and one raw grey output per picture size and language;
    // ffmpeg runs in the folder, so the graph names its files without quoting.
    std::ostringstream inputs, graph, outputs;
    int n = 0;
    for (int l = 0; l < kLanguages; ++l) {
      const auto language = static_cast<CaptionLanguage>(l);
      // Frame n of the normal run is caption first+n; of the large run, the
      // n-th caption from first on that has a large picture.
      std::ofstream(dir / ("text" + std::to_string(l) + "0.txt"), std::ios::binary)
          << words(language) << " %{eif:n+" << first << ":d}";
      std::ofstream(dir / ("text" + std::to_string(l) + "1.txt"), std::ios::binary)
          << words(language) << " %{eif:4*n+" << firstLarge(first) << ":d}";
      for (int large = 0; large < 2; ++large) {
        if (large && !b.hasLarge[l]) continue;
        const int w = large ? kLargeCaptionWidth : kCaptionWidth, h = large ? kLargeCaptionHeight : kCaptionHeight;
        inputs << " -f lavfi -i color=c=black:s=" << w << 'x' << h << ":r=1";
        graph << (n ? ";" : "") << '[' << n << "]drawtext=fontfile=" << fontFile(language) << ":textfile=text" << l << large
              << ".txt:fontsize=" << (large ? 340 : 46) << ":fontcolor=white:borderw=" << (large ? 9 : 3)
              << ":bordercolor=0x" << std::hex << static_cast<int>(kCaptionOutline) << static_cast<int>(kCaptionOutline)
              << static_cast<int>(kCaptionOutline) << std::dec << ":x=(w-text_w)/2:y=(h-text_h)/2,format=gray[o" << n
              << ']';
        outputs << " -map '[o" << n << "]' -frames:v " << (large ? count / 4 : count) << " -f rawvideo out" << l << large << ".gray";
        ++n;
      }
    }
    const std::string cmd = "cd " + shellQuote(dir.string()) + " && ffmpeg -nostdin -hide_banner -v error -y" +
                            inputs.str() + " -filter_complex '" + graph.str() + "'" + outputs.str() + " 2>ffmpeg.log";
    if (std::system(cmd.c_str()) != 0)
      throw std::runtime_error("ffmpeg could not draw the captions (" + cmd + "): " + readText(dir / "ffmpeg.log"));
    for (int l = 0; l < kLanguages; ++l)
      for (int large = 0; large < 2; ++large) {
        if (large && !b.hasLarge[l]) continue;
        std::string& frames = b.frames[l][large];
        frames = readText(dir / ("out" + std::to_string(l) + std::to_string(large) + ".gray"));
        const std::size_t size = large ? static_cast<std::size_t>(kLargeCaptionWidth) * kLargeCaptionHeight
                                       : static_cast<std::size_t>(kCaptionWidth) * kCaptionHeight;
        const std::size_t want = size * (large ? count / 4 : count);
        if (frames.size() != want)
          throw std::runtime_error("ffmpeg drew " + std::to_string(frames.size()) + " bytes of captions, not " +
                                   std::to_string(want));
      }
    return b;
  }

  std::array<bool, kLanguages> wantLarge_{};
  Batch first_, later_;
};

Renderer& renderer() {
  static Renderer r;
  return r;
}

}  // namespace

std::string captionText(CaptionLanguage language, std::uint64_t number) {
  return std::string(words(language)) + " " + std::to_string(number);
}

void checkCaptionFonts() {
  for (const auto& [file, package] : {std::pair{kLatinFont, "fonts-dejavu-core"}, std::pair{kJapaneseFont, "fonts-vlgothic"}})
    if (!fs::exists(file))
      throw std::runtime_error(std::string("the subtitle font ") + file + " was not found. Install it (Debian: apt-get install " +
                               package + ") and run again.");
}

void wantLargeCaptions(CaptionLanguage language) { renderer().wantLarge(language); }

CaptionPicture captionPicture(CaptionLanguage language, std::uint64_t number, bool large) {
  if (number == 0) throw std::invalid_argument("captions are numbered from 1");
  if (large && !hasLargeCaption(number)) throw std::invalid_argument("caption " + std::to_string(number) + " has no large picture");
  return renderer().picture(language, number, large);
}

}  // namespace tarnwick::mkdisc
