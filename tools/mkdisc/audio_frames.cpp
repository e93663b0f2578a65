#include "audio_frames.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace tarnwick::mkdisc {
namespace {

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

Bytes readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

AudioFrames splitEac3(const Bytes& raw) {
  AudioFrames out;
  std::size_t at = 0;
  while (at + 6 <= raw.size()) {
    if (raw[at] != 0x0B || raw[at + 1] != 0x77) throw std::runtime_error("E-AC-3: lost sync at " + std::to_string(at));
    const int bsid = raw[at + 5] >> 3;
    if (bsid <= 10) throw std::runtime_error("E-AC-3: encoder wrote a plain AC-3 frame");
    // strmtyp(2) substreamid(3) frmsiz(11): size in 16-bit words, minus one.
    const std::size_t size = ((static_cast<std::size_t>(raw[at + 2] & 0x07) << 8 | raw[at + 3]) + 1) * 2;
    // fscod(2) numblkscod(2): 1, 2, 3 or 6 blocks of 256 samples.
    static const std::uint32_t blocks[4] = {1, 2, 3, 6};
    const std::uint32_t samples = (raw[at + 4] >> 6) == 3 ? 6 * 256 : blocks[(raw[at + 4] >> 4) & 3] * 256;
    if (at + size > raw.size()) break;  // a cut-off last frame is dropped
    if (out.samplesPerFrame == 0) out.samplesPerFrame = samples;
    if (samples != out.samplesPerFrame) throw std::runtime_error("E-AC-3: frame lengths vary");
    out.frames.emplace_back(raw.begin() + static_cast<std::ptrdiff_t>(at),
                            raw.begin() + static_cast<std::ptrdiff_t>(at + size));
    at += size;
  }
  if (out.frames.empty()) throw std::runtime_error("E-AC-3: no frames");
  return out;
}

AudioFrames splitDts(const Bytes& raw) {
  AudioFrames out;
  std::size_t at = 0;
  while (at + 8 <= raw.size()) {
    if (raw[at] != 0x7F || raw[at + 1] != 0xFE || raw[at + 2] != 0x80 || raw[at + 3] != 0x01)
      throw std::runtime_error("DTS: lost sync at " + std::to_string(at));
    // After the sync: FTYPE(1) SHORT(5) CPF(1) NBLKS(7) FSIZE(14).
    const std::uint32_t nblks = (static_cast<std::uint32_t>(raw[at + 4] & 0x01) << 6) | (raw[at + 5] >> 2);
    const std::size_t size =
        ((static_cast<std::size_t>(raw[at + 5] & 0x03) << 12) | (static_cast<std::size_t>(raw[at + 6]) << 4) |
         (raw[at + 7] >> 4)) + 1;
    const std::uint32_t samples = (nblks + 1) * 32;
    if (at + size > raw.size()) break;
    if (out.samplesPerFrame == 0) out.samplesPerFrame = samples;
    if (samples != out.samplesPerFrame) throw std::runtime_error("DTS: frame lengths vary");
    out.frames.emplace_back(raw.begin() + static_cast<std::ptrdiff_t>(at),
                            raw.begin() + static_cast<std::ptrdiff_t>(at + size));
    at += size;
  }
  if (out.frames.empty()) throw std::runtime_error("DTS: no frames");
  return out;
}

bool ffmpegAvailable() { return std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") == 0; }

Bytes encodeTone(const std::string& codecArgs, const std::string& format, double frequency, double seconds,
                 const std::string& workDir) {
  const std::string outPath = workDir + "/tone." + format;
  const std::string logPath = workDir + "/ffmpeg.log";
  std::ostringstream cmd;
  cmd << "ffmpeg -nostdin -hide_banner -v error -y -f lavfi -i 'sine=frequency=" << frequency
      << ":sample_rate=48000:duration=" << seconds << "' -ac 2 " << codecArgs << " -f " << format << ' '
      << shellQuote(outPath) << " 2>" << shellQuote(logPath);
  if (std::system(cmd.str().c_str()) != 0) {
    const Bytes log = readAll(logPath);
    throw std::runtime_error("ffmpeg could not encode " + format + " (" + cmd.str() + "): " +
                             std::string(log.begin(), log.end()));
  }
  Bytes data = readAll(outPath);
  std::remove(outPath.c_str());
  std::remove(logPath.c_str());
  return data;
}

}  // namespace tarnwick::mkdisc
