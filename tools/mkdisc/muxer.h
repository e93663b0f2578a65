#pragma once
// Interleaves the sample feature's streams into 2048-byte packs and writes
// them as FEATURE_1.EVO and FEATURE_2.EVO, split at a navigation pack so
// that time stamps run on from one file into the next; or a short title's
// streams as one file.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sources.h"

namespace tarnwick::mkdisc {

enum class StreamKind { Video, Audio, Lpcm, Subpicture };

// Video stream ids: VC-1 (with stream_id_extension 0x55) and H.264.
constexpr std::uint8_t kVc1StreamId = 0xFD;
constexpr std::uint8_t kH264StreamId = 0xE2;

struct StreamSetup {
  std::string name;          // for the summary and the elementary-stream file
  std::string esFileName;    // file name under the --es folder
  StreamKind kind;
  std::uint8_t substreamId;  // private stream 1 substream; for video the PES stream id
  std::unique_ptr<UnitSource> source;
};

struct MuxPlan {
  std::string outDir;                  // the HVDVD_TS folder
  std::uint64_t t0 = 0;                // first display time stamp
  std::uint64_t firstFileBytes = 0;    // split once FEATURE_1 reaches this size (0: use groups)
  std::uint64_t firstFileGroups = 0;   // or once it holds this many groups of pictures
  std::uint64_t secondFileGroups = 0;  // length of FEATURE_2
  std::uint64_t secondFileBytes = 0;   // or about this size (0: use groups)
  std::string esDir;                   // when set, each elementary stream is written there too
  int audioStreams = 0;
  // When set, one file of this name (an extra, a trailer), firstFileGroups
  // long, instead of the feature's two.
  std::string singleFile;
};

struct StreamTotals {
  std::string name;
  std::uint64_t payloadBytes = 0;
  std::uint64_t packets = 0;
  std::uint64_t units = 0;
};

struct FileTotals {
  std::string path;
  std::uint64_t bytes = 0;
  std::uint64_t packs = 0;
  std::uint64_t navPacks = 0;
  std::uint64_t firstPts = 0, endPts = 0;  // video display time covered
  std::vector<StreamTotals> streams;
};

std::vector<FileTotals> muxFeature(MuxPlan plan, std::vector<StreamSetup> streams);

}  // namespace tarnwick::mkdisc
