#include "engine/lpcm_wav.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "engine/aligned_bytes.h"
#include "engine/file_io.h"
#include "engine/file_names.h"

namespace tarnwick {
namespace {

// Input read per step: a whole number of blocks near this size.
constexpr std::size_t kChunkBytes = 0x100000;

// WAVE format tags and the PCM sub-format GUID of WAVE_FORMAT_EXTENSIBLE
// (KSDATAFORMAT_SUBTYPE_PCM, 00000001-0000-0010-8000-00AA00389B71).
constexpr std::uint16_t kWaveFormatPcm = 0x0001;
constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;
constexpr std::uint8_t kSubtypePcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                          0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// Wave64 chunk GUIDs as they lie in the file (the first three fields
// little-endian): riff 66666972-912E-11CF-A5D6-28DB04C10000, wave
// 65766177-ACF3-11D3-8CD1-00C04F8EDB8A, fmt 20746D66-…, data 61746164-….
constexpr std::uint8_t kW64Riff[16] = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11,
                                       0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
constexpr std::uint8_t kW64Wave[16] = {'w', 'a', 'v', 'e', 0xF3, 0xAC, 0xD3, 0x11,
                                       0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
constexpr std::uint8_t kW64Fmt[16] = {'f', 'm', 't', ' ', 0xF3, 0xAC, 0xD3, 0x11,
                                      0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
constexpr std::uint8_t kW64Data[16] = {'d', 'a', 't', 'a', 0xF3, 0xAC, 0xD3, 0x11,
                                       0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
constexpr std::uint64_t kW64ChunkHeader = 24;  // GUID and 64-bit size, which counts itself

// Plain PCM "fmt " body: 16 bytes; the extensible one adds cbSize and 22 more.
constexpr std::uint32_t fmtBytes(bool extensible) { return extensible ? 40 : 16; }

class HeaderBytes {
 public:
  void bytes(const std::uint8_t* p, std::size_t n) { out_.insert(out_.end(), p, p + n); }
  void tag(const char* fourcc) { bytes(reinterpret_cast<const std::uint8_t*>(fourcc), 4); }
  void le(std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  std::vector<std::uint8_t> take() { return std::move(out_); }

 private:
  std::vector<std::uint8_t> out_;
};

void fmtBody(HeaderBytes& h, const WavLayout& layout) {
  const std::uint32_t blockAlign = static_cast<std::uint32_t>(layout.channels * layout.containerBits / 8);
  h.le(layout.extensible ? kWaveFormatExtensible : kWaveFormatPcm, 2);
  h.le(static_cast<std::uint64_t>(layout.channels), 2);
  h.le(static_cast<std::uint64_t>(layout.sampleRate), 4);
  h.le(static_cast<std::uint64_t>(layout.sampleRate) * blockAlign, 4);  // nAvgBytesPerSec
  h.le(blockAlign, 2);
  h.le(static_cast<std::uint64_t>(layout.containerBits), 2);
  if (!layout.extensible) return;
  h.le(22, 2);  // cbSize
  h.le(static_cast<std::uint64_t>(layout.validBits), 2);
  h.le(layout.channelMask, 4);
  h.bytes(kSubtypePcm, sizeof kSubtypePcm);
}

std::uint64_t align8(std::uint64_t n) { return (n + 7) & ~std::uint64_t{7}; }

// Removes what a failed or cancelled conversion left at its output.
class PartialOutput {
 public:
  explicit PartialOutput(std::string path) : path_(std::move(path)) {}
  ~PartialOutput() {
    if (kept_) return;
    file.reset();  // closed before it goes
    // Only a file of our own making: never a device or a link's target.
    std::error_code ignored;
    const std::filesystem::path path = pathFromUtf8(path_);
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ignored)))
      std::filesystem::remove(path, ignored);
  }
  PartialOutput(const PartialOutput&) = delete;
  PartialOutput& operator=(const PartialOutput&) = delete;
  void keep() { kept_ = true; }

  std::optional<OutputFile> file;

 private:
  std::string path_;
  bool kept_ = false;
};

Outcome convertRun(const std::string& lpcmPath, const LpcmFormat& format, const std::string& wavPath,
                   RunReport& report) {
  if (const std::string problem = lpcmFormatProblem(format); !problem.empty()) throw std::runtime_error(problem);
  if (sameFile(lpcmPath, wavPath)) throw cannotCreate(wavPath, "It is an input file of this command");

  InputFile in(lpcmPath);
  const LpcmBlocks blocks = lpcmBlocks(format);
  const auto total = static_cast<std::uint64_t>(in.size()) / blocks.inputBytes;
  const auto cutShort = static_cast<std::uint64_t>(in.size()) % blocks.inputBytes;
  const WavLayout layout = wavLayoutFor(format, total * blocks.outputBytes);

  PartialOutput output(wavPath);
  output.file.emplace(wavPath);
  OutputFile& out = *output.file;
  const std::vector<std::uint8_t> header = wavHeader(layout);
  out.write(header.data(), header.size());

  CancellableScope cancellable(report);
  const std::size_t chunkBlocks = std::max<std::size_t>(1, kChunkBytes / blocks.inputBytes);
  const AlignedBytes source = allocateAligned(chunkBlocks * blocks.inputBytes);
  const AlignedBytes samples = allocateAligned(chunkBlocks * blocks.outputBytes);
  const auto start = std::chrono::steady_clock::now();
  RunProgress progress;
  progress.size = in.size();
  progress.task = "Converting " + namePart(lpcmPath);
  for (std::uint64_t done = 0; done < total;) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(chunkBlocks, total - done));
    const std::size_t want = n * blocks.inputBytes;
    if (in.read(source.get(), want) != want) throw endedEarly(in.path(), in.position(), "");
    convertLpcmBlocks(format, source.get(), n, samples.get());
    out.write(samples.get(), n * blocks.outputBytes);
    done += n;

    progress.position = in.position();
    progress.elapsedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (report.progressPoint(progress)) return Outcome::cancelled();
  }
  const std::uint8_t pad[8] = {};
  out.write(pad, wavTrailerBytes(layout));
  out.close();
  output.keep();
  if (cutShort > 0)
    report.log("The last " + std::to_string(cutShort) + (cutShort == 1 ? " byte of " : " bytes of ") +
               namePart(lpcmPath) + (cutShort == 1 ? " does" : " do") + " not make a whole group of samples and " +
               (cutShort == 1 ? "is" : "are") + " left out.");
  return Outcome::done();
}

}  // namespace

LpcmFormat lpcmFormatOf(std::uint8_t code) {
  // quantization_word_length: 0 = 16, 1 = 20, 2 = 24 bits, 3 reserved;
  // audio_sampling_frequency: 0 = 48 kHz, 1 = 96 kHz, others reserved.
  LpcmFormat f;
  f.code = code;
  const int quantisation = code >> 6;
  const int frequency = (code >> 4) & 0x03;
  f.bitsPerSample = quantisation == 3 ? 0 : 16 + 4 * quantisation;
  f.sampleRate = frequency == 0 ? 48000 : frequency == 1 ? 96000 : 0;
  f.channels = (code & 0x07) + 1;
  return f;
}

std::string lpcmFormatText(const LpcmFormat& format) {
  std::string rate = format.sampleRate > 0 ? std::to_string(format.sampleRate / 1000) + " kHz"
                                           : "frequency code " + std::to_string((format.code >> 4) & 0x03);
  std::string bits = format.bitsPerSample > 0 ? std::to_string(format.bitsPerSample) + "-bit" : "reserved word length";
  return rate + " " + bits + " " + std::to_string(format.channels) + (format.channels == 1 ? " channel" : " channels");
}

std::string lpcmFormatProblem(const LpcmFormat& format) {
  if (format.bitsPerSample == 0)
    return "The LPCM header gives the reserved word length (" + lpcmFormatText(format) + "); the stream is not converted.";
  if (format.sampleRate == 0)
    return "The LPCM header gives a sampling frequency that discs do not use (" + lpcmFormatText(format) +
           "); the stream is not converted.";
  return {};
}

std::string lpcmFormatChangeMessage(int slot, const LpcmFormatChange& change) {
  return "LPCM audio stream " + std::to_string(slot) + " changes its format at byte " +
         std::to_string(change.position) + " of " + namePart(change.file) + ", from " + lpcmFormatText(change.before) +
         " to " + lpcmFormatText(change.after) + "; one WAV file cannot hold both.";
}

std::uint32_t lpcmChannelMask(int channels) {
  // SPEAKER_FRONT_LEFT 0x1, FRONT_RIGHT 0x2, FRONT_CENTER 0x4, LOW_FREQUENCY
  // 0x8, BACK_LEFT 0x10, BACK_RIGHT 0x20, BACK_CENTER 0x100, SIDE_LEFT 0x200,
  // SIDE_RIGHT 0x400: mono, stereo, 2.1, 4.0, 5.0, 5.1, 6.1, 7.1.
  static constexpr std::uint32_t kMasks[9] = {0, 0x4, 0x3, 0xB, 0x107, 0x37, 0x3F, 0x70F, 0x63F};
  return channels >= 1 && channels <= 8 ? kMasks[channels] : 0;
}

LpcmBlocks lpcmBlocks(const LpcmFormat& format) {
  const auto channels = static_cast<std::size_t>(format.channels);
  LpcmBlocks b;
  if (format.bitsPerSample == 16) {
    b.frames = 1;
  } else {
    // A group is four samples, two for a single channel; a block ends where
    // a frame and a group end together.
    const std::size_t group = channels == 1 ? 2 : 4;
    b.frames = std::lcm(group, channels) / channels;
  }
  const std::size_t samples = b.frames * channels;
  b.inputBytes = samples * static_cast<std::size_t>(format.bitsPerSample) / 8;
  b.outputBytes = samples * (format.bitsPerSample == 16 ? 2 : 3);
  return b;
}

void convertLpcmBlocks(const LpcmFormat& format, const std::uint8_t* in, std::size_t blocks, std::uint8_t* out) {
  const std::size_t samples = blocks * lpcmBlocks(format).frames * static_cast<std::size_t>(format.channels);
  if (format.bitsPerSample == 16) {
    for (std::size_t i = 0; i < samples; ++i, in += 2, out += 2) {
      out[0] = in[1];
      out[1] = in[0];
    }
    return;
  }
  const std::size_t group = format.channels == 1 ? 2 : 4;
  const bool twenty = format.bitsPerSample == 20;
  for (std::size_t g = 0; g < samples / group; ++g) {
    // The top 16 bits of each sample, big-endian, then the low bits: a byte
    // each (24-bit) or a nibble each, the earlier sample in the high nibble.
    const std::uint8_t* low = in + 2 * group;
    for (std::size_t i = 0; i < group; ++i, out += 3) {
      out[0] = twenty ? static_cast<std::uint8_t>(i % 2 == 0 ? low[i / 2] & 0xF0 : low[i / 2] << 4) : low[i];
      out[1] = in[2 * i + 1];
      out[2] = in[2 * i];
    }
    in = low + (twenty ? group / 2 : group);
  }
}

std::uint64_t riffDataLimit(bool extensible) {
  // The RIFF size covers "WAVE", the "fmt " chunk, the "data" chunk header,
  // the data and its pad byte.
  const std::uint64_t room = 0xFFFFFFFFull - 4 - (8 + fmtBytes(extensible)) - 8;
  return room & ~std::uint64_t{1};
}

WavLayout wavLayoutFor(const LpcmFormat& format, std::uint64_t dataBytes) {
  WavLayout l;
  l.channels = format.channels;
  l.sampleRate = format.sampleRate;
  l.containerBits = format.bitsPerSample == 16 ? 16 : 24;
  l.validBits = format.bitsPerSample;
  l.extensible = format.channels > 2 || format.bitsPerSample > 16;
  l.channelMask = l.extensible ? lpcmChannelMask(format.channels) : 0;
  l.dataBytes = dataBytes;
  l.container = dataBytes > riffDataLimit(l.extensible) ? WavContainer::Wave64 : WavContainer::Riff;
  return l;
}

std::size_t wavTrailerBytes(const WavLayout& layout) {
  if (layout.container == WavContainer::Riff) return static_cast<std::size_t>(layout.dataBytes & 1);
  return static_cast<std::size_t>(align8(layout.dataBytes) - layout.dataBytes);
}

std::vector<std::uint8_t> wavHeader(const WavLayout& layout) {
  HeaderBytes h;
  const std::uint32_t fmt = fmtBytes(layout.extensible);
  const std::uint64_t padded = layout.dataBytes + wavTrailerBytes(layout);
  if (layout.container == WavContainer::Riff) {
    h.tag("RIFF");
    h.le(4 + 8 + fmt + 8 + padded, 4);
    h.tag("WAVE");
    h.tag("fmt ");
    h.le(fmt, 4);
    fmtBody(h, layout);
    h.tag("data");
    h.le(layout.dataBytes, 4);
  } else {
    // Every Wave64 chunk starts on an 8-byte boundary; the fmt bodies (16 or
    // 40 bytes) need no pad.
    const std::uint64_t fmtChunk = kW64ChunkHeader + fmt;
    h.bytes(kW64Riff, sizeof kW64Riff);
    h.le(kW64ChunkHeader + sizeof kW64Wave + fmtChunk + kW64ChunkHeader + padded, 8);
    h.bytes(kW64Wave, sizeof kW64Wave);
    h.bytes(kW64Fmt, sizeof kW64Fmt);
    h.le(fmtChunk, 8);
    fmtBody(h, layout);
    h.bytes(kW64Data, sizeof kW64Data);
    h.le(kW64ChunkHeader + layout.dataBytes, 8);
  }
  return h.take();
}

Outcome convertLpcmToWav(const std::string& lpcmPath, const LpcmFormat& format, const std::string& wavPath,
                         RunReport& report) {
  return runCommand([&] { return convertRun(lpcmPath, format, wavPath, report); });
}

}  // namespace tarnwick
