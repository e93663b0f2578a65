// tarnwick-mkdisc: writes a small HD DVD feature, split into FEATURE_1.EVO
// and FEATURE_2.EVO, with H.264 video that a player shows, Dolby Digital
// Plus 5.1, DTS and LPCM audio that beep at each whole second, and two
// subpicture streams; a short extra and a trailer of their own (VC-1); and
// the disc's playlist that names their titles and streams, for demos, tests
// and benchmarks. A feature made to a size (the benchmarks') has
// synthesised VC-1 video instead, which costs no encoding.

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>

#include "audio_frames.h"
#include "ffmpeg_run.h"
#include "h264_feature.h"
#include "muxer.h"
#include "playlist.h"
#include "sources.h"
#include "udf_writer.h"

namespace fs = std::filesystem;
using namespace tarnwick::mkdisc;

namespace {

constexpr std::uint64_t kT0 = 36000;  // first display time: 0.4 s
// Audio is encoded in whole multiples of this, which both DD+ (1536
// samples a frame) and DTS (512) fill with whole frames, so that a loop
// keeps the beeps on the seconds.
constexpr double kAudioBlockSeconds = 4;
// Video payload rate chosen so that video is about 85 % of the file bytes
// next to 192 kB/s LPCM, 96 kB/s DTS and 24 kB/s DD+.
constexpr std::uint64_t kVideoBytesPerSecond = 2240000;
// The extra and the trailer, in groups of pictures (about 0.5 s each): both
// shorter than the feature, the trailer the longer of the two.
constexpr std::uint64_t kExtraGroups = 2;
constexpr std::uint64_t kTrailerGroups = 3;

void usage(std::ostream& out) {
  out << "usage: tarnwick-mkdisc DISC_DIR [--size BYTES] [--second-size BYTES] [--seconds N] [--audio-ids DDP,DTS,LPCM] [--es DIR] [--image IMAGE]\n"
         "  Writes DISC_DIR/HVDVD_TS/FEATURE_1.EVO and FEATURE_2.EVO: one feature split in two\n"
         "  files, time stamps running on across the split; and DISC_DIR/ADV_OBJ/VPLST000.XPL,\n"
         "  the playlist that names their streams and chapters; and EXTRA.EVO and TRAILER.EVO, an\n"
         "  extra (1 s) and a trailer (1.5 s) of their own, the playlist's titles 2 and 3.\n"
         "  --seconds N   length of each file (default 2; FEATURE_2 only when --size is given)\n"
         "  --size BYTES  make FEATURE_1.EVO about BYTES long (K, M, G suffixes: powers of 1024)\n"
         "  --second-size BYTES  make FEATURE_2.EVO about BYTES long instead of --seconds\n"
         "  --audio-ids C0,89,A2  substream ids of the DD+, DTS and LPCM streams (hex; default C0,89,A2).\n"
         "                The low bits are the audio stream number: C0,89,A2 numbers them 0, 1, 2\n"
         "  --es DIR      also write every elementary stream as muxed, for comparison\n"
         "  --image IMAGE also write DISC_DIR as a UDF 2.50 disc image\n"
         "  --image-only  write DISC_DIR as it is to IMAGE, making no feature files\n"
         "  --image-small-extents  files in scattered 16 KiB extents, their descriptors in chains of\n"
         "                allocation extents (3 a list): images that exercise a reader\n"
         "Needs ffmpeg on PATH (with libx264) to encode the video and the Dolby Digital Plus and DTS\n"
         "audio, and the DejaVu and VL Gothic fonts. The encodes are kept in $TARNWICK_MKDISC_CACHE\n"
         "(default ~/.cache/tarnwick-mkdisc; \"off\" keeps none).\n";
}

std::string hex(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
  return buf;
}

std::string lowerHex(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02x", v & 0xFFu);
  return buf;
}

std::uint64_t parseSize(const std::string& text) {
  std::size_t used = 0;
  const double v = std::stod(text, &used);
  std::string suffix = text.substr(used);
  double scale = 1;
  if (suffix == "K" || suffix == "k" || suffix == "KiB") scale = 1024.0;
  else if (suffix == "M" || suffix == "MiB") scale = 1024.0 * 1024;
  else if (suffix == "G" || suffix == "GiB") scale = 1024.0 * 1024 * 1024;
  else if (!suffix.empty()) throw std::invalid_argument("bad size: " + text);
  if (v <= 0) throw std::invalid_argument("size must be positive: " + text);
  return static_cast<std::uint64_t>(v * scale);
}

// Three hex substream ids, each within its format's range.
std::array<std::uint8_t, 3> parseAudioIds(const std::string& text) {
  static const std::uint8_t lows[3] = {0xC0, 0x88, 0xA0};
  std::array<std::uint8_t, 3> ids{};
  std::size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t comma = text.find(',', at);
    if ((i < 2) != (comma != std::string::npos)) throw std::invalid_argument("--audio-ids needs three ids: " + text);
    const std::string part = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    std::size_t used = 0;
    const unsigned long v = std::stoul(part, &used, 16);
    if (used != part.size() || v < lows[i] || v > lows[i] + 7u)
      throw std::invalid_argument("--audio-ids: " + part + " is outside " + hex(lows[i]) + ".." + hex(lows[i] + 7));
    ids[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
    at = comma + 1;
  }
  return ids;
}

std::string mib(std::uint64_t bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return buf;
}

std::string seconds(std::uint64_t ticks) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f s", static_cast<double>(ticks) / 90000.0);
  return buf;
}

// A short title of its own, one EVO: VC-1 video and the DD+ stream, and with
// `subtitles` the 2-bit subpicture stream.
FileTotals muxShortTitle(const fs::path& outDir, const std::string& file, std::uint64_t groups, const AudioFrames& ddp,
                         std::uint8_t ddpId, bool subtitles) {
  std::vector<StreamSetup> streams;
  streams.push_back({"VC-1 video (0xFD/0x55)", "", StreamKind::Video, kVc1StreamId,
                     makeVideoSource(Vc1Format{}, kT0, kVideoBytesPerSecond)});
  streams.push_back({"Dolby Digital Plus (0x" + hex(ddpId) + ")", "", StreamKind::Audio, ddpId,
                     makeLoopedAudioSource(ddp, kT0)});
  if (subtitles)
    streams.push_back({"Subpicture 2-bit (0x20)", "", StreamKind::Subpicture, 0x20,
                       makeSubpictureSource(false, CaptionLanguage::German, kT0)});
  MuxPlan plan;
  plan.outDir = outDir.string();
  plan.t0 = kT0;
  plan.firstFileGroups = groups;
  plan.audioStreams = 1;
  plan.singleFile = file;
  return muxFeature(std::move(plan), std::move(streams)).front();
}

double groupSeconds(std::uint64_t groups) { return static_cast<double>(groups * kGopTicks) / 90000.0; }

}  // namespace

int main(int argc, char** argv) {
  std::string disc, esDir, image;
  bool imageOnly = false;
  UdfImageOptions imageOptions;
  std::uint64_t size = 0, secondSize = 0;
  double perFile = 2;
  // Distinct low bits: the audio slot of a stream comes from them.
  std::array<std::uint8_t, 3> audioIds = {0xC0, 0x89, 0xA2};
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
        return argv[++i];
      };
      if (a == "-h" || a == "--help") {
        usage(std::cout);
        return 0;
      } else if (a == "--size") {
        size = parseSize(value());
      } else if (a == "--second-size") {
        secondSize = parseSize(value());
      } else if (a == "--seconds") {
        perFile = std::stod(value());
        if (!(perFile > 0) || perFile > 36000) throw std::invalid_argument("--seconds must be in (0, 36000]");
      } else if (a == "--audio-ids") {
        audioIds = parseAudioIds(value());
      } else if (a == "--es") {
        esDir = value();
      } else if (a == "--image") {
        image = value();
      } else if (a == "--image-only") {
        imageOnly = true;
      } else if (a == "--image-small-extents") {
        imageOptions.maxExtentBytes = 16 * 1024;
        imageOptions.adsInEntry = 3;
        imageOptions.adsPerExtent = 3;
        imageOptions.scatterExtents = true;
      } else if (!a.empty() && a[0] == '-') {
        throw std::invalid_argument("unknown option " + a);
      } else if (disc.empty()) {
        disc = a;
      } else {
        throw std::invalid_argument("more than one DISC_DIR given");
      }
    }
    if (disc.empty()) throw std::invalid_argument("no DISC_DIR given");
    if (imageOnly && image.empty()) throw std::invalid_argument("--image-only needs --image IMAGE");
  } catch (const std::exception& e) {
    std::cerr << "tarnwick-mkdisc: " << e.what() << "\n";
    usage(std::cerr);
    return 2;
  }

  try {
    if (imageOnly) {
      const UdfImageTotals t = writeUdfImage(disc, image, imageOptions);
      std::cout << image << ": UDF 2.50 image, " << t.blocks * 2048 << " bytes, " << t.files << " files\n";
      return 0;
    }
    if (!ffmpegAvailable()) {
      std::cerr << "tarnwick-mkdisc: ffmpeg is needed to encode the sample audio and was not found on PATH.\n"
                   "Install it (Debian: apt-get install ffmpeg) and run again.\n";
      return 1;
    }
    const fs::path outDir = fs::path(disc) / "HVDVD_TS";
    fs::create_directories(outDir);
    if (!esDir.empty()) fs::create_directories(esDir);

    const auto groups = static_cast<std::uint64_t>(std::ceil(perFile * 90000.0 / kGopTicks));
    // A feature of a given length is encoded; one made to a size is too
    // long for that and gets synthesised VC-1.
    const bool encoded = size == 0 && secondSize == 0;
    const double featureSeconds = groupSeconds(2 * groups);
    const double audioSeconds =
        encoded ? kAudioBlockSeconds * std::ceil(featureSeconds / kAudioBlockSeconds) : 2 * kAudioBlockSeconds;
    // The encoders' delays (256 and 512 samples) are made up for in the source.
    const AudioFrames ddp = splitEac3(encodeBeeps("-c:a eac3 -b:a 640k", "eac3", "5.1(side)",
                                                  {440, 554, 659, 82, 740, 880}, audioSeconds, 256));
    const AudioFrames dts =
        splitDts(encodeBeeps("-c:a dca -b:a 768k -strict -2", "dts", "stereo", {330, 392}, audioSeconds, 512));

    std::vector<StreamSetup> streams;
    if (encoded)
      streams.push_back({"H.264 video (0xE2)", "video_e2.h264", StreamKind::Video, kH264StreamId,
                         makeEncodedVideoSource(encodeH264Feature(2 * groups * kGopFrames, kVideoBytesPerSecond), kT0)});
    else
      streams.push_back({"VC-1 video (0xFD/0x55)", "video_fd55.vc1", StreamKind::Video, kVc1StreamId,
                         makeVideoSource(Vc1Format{}, kT0, kVideoBytesPerSecond)});
    const auto [ddpId, dtsId, lpcmId] = audioIds;
    streams.push_back({"Dolby Digital Plus (0x" + hex(ddpId) + ")", "audio_" + lowerHex(ddpId) + ".eac3",
                       StreamKind::Audio, ddpId, makeLoopedAudioSource(ddp, kT0)});
    streams.push_back({"DTS (0x" + hex(dtsId) + ")", "audio_" + lowerHex(dtsId) + ".dts", StreamKind::Audio, dtsId,
                       makeLoopedAudioSource(dts, kT0)});
    streams.push_back({"LPCM 48 kHz 16-bit stereo (0x" + hex(lpcmId) + ")", "audio_" + lowerHex(lpcmId) + ".s16be",
                       StreamKind::Lpcm, lpcmId, makeLpcmSource(kT0)});
    streams.push_back({"Subpicture 2-bit (0x20)", "sub_20.spu", StreamKind::Subpicture, 0x20,
                       makeSubpictureSource(false, CaptionLanguage::English, kT0)});
    streams.push_back({"Subpicture 8-bit (0x21)", "sub_21.spu", StreamKind::Subpicture, 0x21,
                       makeSubpictureSource(true, CaptionLanguage::Japanese, kT0)});

    MuxPlan plan;
    plan.outDir = outDir.string();
    plan.t0 = kT0;
    plan.firstFileBytes = size;
    plan.firstFileGroups = groups;
    plan.secondFileGroups = groups;
    plan.secondFileBytes = secondSize;
    plan.esDir = esDir;
    plan.audioStreams = 3;
    std::vector<FileTotals> files = muxFeature(std::move(plan), std::move(streams));
    files.push_back(muxShortTitle(outDir, "EXTRA.EVO", kExtraGroups, ddp, ddpId, true));
    files.push_back(muxShortTitle(outDir, "TRAILER.EVO", kTrailerGroups, ddp, ddpId, false));

    const fs::path playlistDir = fs::path(disc) / "ADV_OBJ";
    fs::create_directories(playlistDir);
    const std::string playlist = samplePlaylist(perFile, audioIds, groupSeconds(kExtraGroups), groupSeconds(kTrailerGroups),
                                                 encoded ? "H.264" : "VC-1");
    {
      std::ofstream xpl(playlistDir / "VPLST000.XPL", std::ios::binary);
      xpl << playlist;
      if (!xpl.flush()) throw std::runtime_error("cannot write " + (playlistDir / "VPLST000.XPL").string());
    }

    for (const FileTotals& f : files) {
      std::cout << f.path << ": " << f.bytes << " bytes (" << mib(f.bytes) << "), " << f.packs << " packs, "
                << f.navPacks << " navigation packs, video " << seconds(f.firstPts) << " to " << seconds(f.endPts)
                << "\n";
      for (const StreamTotals& s : f.streams) {
        char share[16];
        std::snprintf(share, sizeof share, "%5.1f %%",
                      f.bytes ? 100.0 * static_cast<double>(s.payloadBytes) / static_cast<double>(f.bytes) : 0.0);
        std::cout << "  " << s.name << ": " << s.units << " units, " << s.packets << " packets, " << s.payloadBytes
                  << " payload bytes, " << share << " of the file\n";
      }
    }
    if (!esDir.empty()) std::cout << "Elementary streams written to " << esDir << "\n";
    if (!image.empty()) {
      const UdfImageTotals t = writeUdfImage(disc, image, imageOptions);
      std::cout << image << ": UDF 2.50 image, " << t.blocks * 2048 << " bytes, " << t.files << " files\n";
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "tarnwick-mkdisc: " << e.what() << "\n";
    return 1;
  }
}
