#include "captions.h"

#include <algorithm>
#include <array>
#include <sstream>
#include <stdexcept>

#include "ffmpeg_run.h"

namespace tarnwick::mkdisc {
namespace {

constexpr int kLanguages = 3;
constexpr std::size_t kPictureBytes = static_cast<std::size_t>(kCaptionWidth) * kCaptionHeight;

std::string fontFor(CaptionLanguage l) {
  return fontFile(l == CaptionLanguage::Japanese ? kJapaneseFont : kLatinFont);
}

const char* words(CaptionLanguage l) {
  switch (l) {
    case CaptionLanguage::English: return "English";
    case CaptionLanguage::Japanese: return "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語
    case CaptionLanguage::German: return "Deutsch";
  }
  return "";
}

// The captions numbered first .. first+count-1 of some languages.
struct Batch {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  std::array<Bytes, kLanguages> frames;  // empty: not drawn
  bool holds(std::uint64_t number, int language) const {
    return number >= first && number < first + count && !frames[language].empty();
  }
};

class Renderer {
 public:
  CaptionPicture picture(CaptionLanguage language, std::uint64_t number) {
    const int l = static_cast<int>(language);
    wanted_[l] = true;
    // The first few, of every language, stay: each title starts its numbers
    // again at 1. Later ones come in long runs, of the languages asked for
    // so far, that replace each other as the feature goes on.
    const bool early = number <= kFirstCount;
    Batch& b = early ? first_ : later_;
    if (!b.holds(number, l)) {
      if (early) {
        b = render(1, kFirstCount, {true, true, true});
      } else {
        b = render(kFirstCount + 1 + (number - kFirstCount - 1) / kLaterCount * kLaterCount, kLaterCount, wanted_);
      }
    }
    CaptionPicture p;
    p.width = kCaptionWidth;
    p.height = kCaptionHeight;
    const auto at = static_cast<std::ptrdiff_t>(static_cast<std::size_t>(number - b.first) * kPictureBytes);
    p.pixels.assign(b.frames[l].begin() + at, b.frames[l].begin() + at + static_cast<std::ptrdiff_t>(kPictureBytes));
    return p;
  }

 private:
  static constexpr std::uint64_t kFirstCount = 8;
  static constexpr std::uint64_t kLaterCount = 1024;

  static Batch render(std::uint64_t first, std::uint64_t count, const std::array<bool, kLanguages>& languages) {
    Batch b;
    b.first = first;
    b.count = count;
    // One lavfi input and one raw grey output per language, frame n being
    // caption first+n.
    std::ostringstream inputs, graph, outputs;
    std::vector<std::string> files;
    int n = 0;
    for (int l = 0; l < kLanguages; ++l) {
      if (!languages[l]) continue;
      const auto language = static_cast<CaptionLanguage>(l);
      inputs << "-f lavfi -i color=c=black:s=" << kCaptionWidth << 'x' << kCaptionHeight << ":r=1 ";
      graph << (n ? ";" : "") << '[' << n << "]drawtext=fontfile=" << fontFor(language) << ":text='"
            << words(language) << " %{eif\\:n+" << first << "\\:d}':fontsize=46:fontcolor=white:borderw=3"
            << ":bordercolor=0x" << std::hex << static_cast<int>(kCaptionOutline) << static_cast<int>(kCaptionOutline)
            << static_cast<int>(kCaptionOutline) << std::dec << ":x=(w-text_w)/2:y=(h-text_h)/2,format=gray[o" << n
            << ']';
      files.push_back("captions" + std::to_string(l) + ".gray");
      outputs << " -map '[o" << n << "]' -frames:v " << count << " -f rawvideo " << files.back();
      ++n;
    }
    // The first few, wanted by every disc, are kept in ffmpeg's cache; the
    // long runs of a large disc are not worth the room.
    std::vector<Bytes> drawn =
        runFfmpeg(inputs.str() + "-filter_complex \"" + graph.str() + "\"" + outputs.str(), files, first == 1);
    n = 0;
    for (int l = 0; l < kLanguages; ++l) {
      if (!languages[l]) continue;
      b.frames[l] = std::move(drawn[static_cast<std::size_t>(n++)]);
      if (b.frames[l].size() != kPictureBytes * count)
        throw std::runtime_error("ffmpeg drew " + std::to_string(b.frames[l].size()) + " bytes of captions, not " +
                                 std::to_string(kPictureBytes * count));
    }
    return b;
  }

  std::array<bool, kLanguages> wanted_{};
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
  fontFor(CaptionLanguage::English);
  fontFor(CaptionLanguage::Japanese);
}

CaptionPicture captionPicture(CaptionLanguage language, std::uint64_t number) {
  if (number == 0) throw std::invalid_argument("captions are numbered from 1");
  return renderer().picture(language, number);
}

void largeCaptionPicture(CaptionLanguage language, std::uint64_t number, CaptionPicture& p) {
  const CaptionPicture small = captionPicture(language, number);
  // The letters' extent in the small picture.
  int x0 = small.width, y0 = small.height, x1 = -1, y1 = -1;
  for (int y = 0; y < small.height; ++y)
    for (int x = 0; x < small.width; ++x)
      if (small.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(small.width) + x] != 0) {
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
      }
  p.width = kLargeCaptionWidth;
  p.height = kLargeCaptionHeight;
  p.pixels.assign(static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height), 0);
  if (x1 < 0) return;
  const int w = x1 - x0 + 1, h = y1 - y0 + 1;
  // As large as fits with a margin.
  const double scale = std::min((p.width - 40.0) / w, (p.height - 20.0) / h);
  const int sw = static_cast<int>(w * scale), sh = static_cast<int>(h * scale);
  const int ox = (p.width - sw) / 2, oy = (p.height - sh) / 2;
  // Bilinear, in fixed point: each output column's and line's source
  // pixel and weight (of 256) worked out once.
  struct Tap {
    int at;
    int weight;  // of the next pixel
  };
  auto taps = [&](int n, int from, int last) {
    std::vector<Tap> t(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      const double v = std::max(0.0, from + (i + 0.5) / scale - 0.5);
      const int at = std::min(static_cast<int>(v), last);
      t[static_cast<std::size_t>(i)] = {at, at == last ? 0 : static_cast<int>((v - at) * 256)};
    }
    return t;
  };
  const std::vector<Tap> xs = taps(sw, x0, small.width - 1), ys = taps(sh, y0, small.height - 1);
  for (int y = 0; y < sh; ++y) {
    const Tap ty = ys[static_cast<std::size_t>(y)];
    const std::uint8_t* r0 = &small.pixels[static_cast<std::size_t>(ty.at) * static_cast<std::size_t>(small.width)];
    const std::uint8_t* r1 = ty.weight ? r0 + small.width : r0;
    std::uint8_t* out = &p.pixels[static_cast<std::size_t>(oy + y) * static_cast<std::size_t>(p.width) + static_cast<std::size_t>(ox)];
    for (int x = 0; x < sw; ++x) {
      const Tap tx = xs[static_cast<std::size_t>(x)];
      const int n = tx.weight ? 1 : 0;
      const int top = r0[tx.at] * (256 - tx.weight) + r0[tx.at + n] * tx.weight;
      const int bottom = r1[tx.at] * (256 - tx.weight) + r1[tx.at + n] * tx.weight;
      out[x] = static_cast<std::uint8_t>((top * (256 - ty.weight) + bottom * ty.weight + (1 << 15)) >> 16);
    }
  }
}

}  // namespace tarnwick::mkdisc
