#include "h264_feature.h"

#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "ffmpeg_run.h"
#include "sources.h"

namespace tarnwick::mkdisc {
namespace {

// Start of each access unit: x264 opens each with a delimiter (NAL type 9)
// behind a four-byte start code.
std::vector<std::size_t> accessUnitStarts(const Bytes& es) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i + 4 < es.size(); ++i)
    if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 0 && es[i + 3] == 1 && (es[i + 4] & 0x1F) == 9)
      starts.push_back(i);
  return starts;
}

class EncodedVideoSource : public UnitSource {
 public:
  EncodedVideoSource(std::vector<EncodedFrame> frames, std::uint64_t t0) : frames_(std::move(frames)), t0_(t0) {}

  std::optional<Unit> next(std::uint64_t end) override {
    if (n_ >= frames_.size()) return std::nullopt;
    EncodedFrame& f = frames_[n_];
    // The clocks count frames from one before t0, as the VC-1 source's, so
    // that the first decoding time (frame -1) is not negative.
    const std::uint64_t origin = t0_ - frameTicks(1);
    const std::uint64_t pts = origin + frameTicks(static_cast<std::uint64_t>(f.pts + 1));
    const std::uint64_t dts = origin + frameTicks(static_cast<std::uint64_t>(f.dts + 1));
    if (f.key && pts >= end) return std::nullopt;
    Unit u;
    u.data = std::move(f.data);  // each frame is muxed once
    u.index = n_;
    u.gopStart = f.key;
    u.pts = pts;
    if (dts != pts) u.dts = dts;
    ++n_;
    return u;
  }

 private:
  std::vector<EncodedFrame> frames_;
  std::uint64_t t0_;
  std::size_t n_ = 0;
};

}  // namespace

std::vector<EncodedFrame> encodeH264Feature(std::uint64_t frames, std::uint64_t bytesPerSecond) {
  const std::string font = fontFile(kLatinFont);
  const std::uint64_t kbit = bytesPerSecond * 8 / 1000;
  std::ostringstream a;
  // The flash is the first frame at or after each whole second: frame n
  // starts at n*1001/24000 s.
  a << "-f lavfi -i testsrc2=s=1920x1080:r=24000/1001 -vf \"drawtext=fontfile=" << font
    << ":fontsize=72:fontcolor=white:borderw=5:x=(w-tw)/2:y=h*0.38:text='%{pts\\:hms}   frame %{n}',"
    << "drawbox=c=white:t=fill:enable='lt(mod(n*1001,24000),1001)'\" -frames:v " << frames
    << " -c:v libx264 -preset veryfast -profile:v high -level 4.1 -pix_fmt yuv420p"
    << " -b:v " << kbit << "k -minrate " << kbit << "k -maxrate " << kbit << "k -bufsize " << kbit << "k"
    << " -x264-params aud=1:nal-hrd=cbr:keyint=12:min-keyint=12:scenecut=0:bframes=2:b-adapt=0:b-pyramid=none"
    << " -map 0:v -f tee '[f=h264]video.h264|[f=framecrc]video.crc'";
  std::vector<Bytes> out = runFfmpeg(a.str(), {"video.h264", "video.crc"});
  const Bytes& es = out[0];
  const std::string crc(out[1].begin(), out[1].end());

  // framecrc lists the packets in decoding order: stream, dts, pts,
  // duration, size, checksum and, unless it is a key frame, its flags.
  std::vector<EncodedFrame> result;
  const std::vector<std::size_t> starts = accessUnitStarts(es);
  std::istringstream lines(crc);
  std::size_t at = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    long long stream, dts, pts, duration, size;
    char c;
    if (!(fields >> stream >> c >> dts >> c >> pts >> c >> duration >> c >> size))
      throw std::runtime_error("unexpected line from ffmpeg's framecrc: " + line);
    if (at >= starts.size())
      throw std::runtime_error("the H.264 stream has fewer access units than ffmpeg's frame list");
    EncodedFrame f;
    const std::size_t from = starts[at], to = at + 1 < starts.size() ? starts[at + 1] : es.size();
    if (to - from != static_cast<std::size_t>(size))
      throw std::runtime_error("H.264 access unit " + std::to_string(at) + " is " + std::to_string(to - from) +
                               " bytes, ffmpeg says " + std::to_string(size));
    f.data.assign(es.begin() + static_cast<std::ptrdiff_t>(from), es.begin() + static_cast<std::ptrdiff_t>(to));
    f.dts = dts;
    f.pts = pts;
    f.key = line.find("F=0x") == std::string::npos;
    result.push_back(std::move(f));
    ++at;
  }
  if (result.size() != frames || at != starts.size())
    throw std::runtime_error("ffmpeg encoded " + std::to_string(result.size()) + " H.264 frames of " +
                             std::to_string(frames));
  return result;
}

std::unique_ptr<UnitSource> makeEncodedVideoSource(std::vector<EncodedFrame> frames, std::uint64_t t0) {
  return std::make_unique<EncodedVideoSource>(std::move(frames), t0);
}

}  // namespace tarnwick::mkdisc
