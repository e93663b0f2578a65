#include "audio_frames.h"

#include <sstream>
#include <stdexcept>

#include "ffmpeg_run.h"

namespace tarnwick::mkdisc {
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

Bytes encodeBeeps(const std::string& codecArgs, const std::string& format, const std::string& layout,
                  const std::vector<double>& pitches, double seconds, int encoderDelay) {
  // t runs ahead by the encoder's delay, so that the decoded beeps start on the second.
  const std::string t = "(t+" + std::to_string(encoderDelay) + "/48000)";
  std::string channels;
  for (double pitch : pitches) {
    if (!channels.empty()) channels += '|';
    channels += "if(lt(mod(" + t + "\\,1)\\," + std::to_string(kBeepSeconds) + ")\\,0.5*sin(2*PI*" +
                std::to_string(pitch) + "*" + t + ")\\,0)";
  }
  std::ostringstream args;
  args << "-f lavfi -i 'aevalsrc=" << channels << ":c=" << layout << ":s=48000:d=" << seconds << "' " << codecArgs
       << " -f " << format << " audio." << format;
  return std::move(runFfmpeg(args.str(), {"audio." + format}).front());
}

}  // namespace tarnwick::mkdisc
