#include "subtitles/sp_records.h"

#include <string>
#include <vector>

#include "subtitles/subpicture_decoder.h"

namespace tarnwick {
namespace {

bool isRecordHeader(const std::uint8_t* p) {
  return p[0] == 'S' && p[1] == 'P' && p[6] == 0 && p[7] == 0 && p[8] == 0 && p[9] == 0;
}

std::uint32_t readLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

bool looksLikeSpRecords(const std::uint8_t* p, std::size_t n) {
  return n >= kSpRecordHeaderSize && isRecordHeader(p);
}

SpRecordSummary readSpRecords(std::istream& in, LogSink& log, const SpuAssembler::UnitHandler& onUnit) {
  SpRecordSummary summary;
  std::uint64_t offset = 0;
  std::uint64_t gapStart = 0, gap = 0;
  const auto reportGap = [&] {
    if (gap == 0) return;
    log.log("   " + std::to_string(gap) + " bytes at byte " + std::to_string(gapStart) +
            " of the SP records belong to no record: skipped");
    summary.skippedBytes += gap;
    gap = 0;
  };
  // A window of the header's size slides one byte at a time over bytes that
  // belong to no record, until a record header shows up again.
  std::vector<std::uint8_t> window(kSpRecordHeaderSize);
  std::size_t have = 0;
  std::vector<std::uint8_t> unit;
  for (;;) {
    while (have < kSpRecordHeaderSize && in.read(reinterpret_cast<char*>(&window[have]), 1)) ++have;
    if (have < kSpRecordHeaderSize) {
      if (have > 0 && gap == 0) gapStart = offset;
      gap += have;
      break;
    }
    if (!isRecordHeader(window.data())) {
      if (gap == 0) gapStart = offset;
      ++gap;
      ++offset;
      window.erase(window.begin());
      window.push_back(0);
      --have;
      continue;
    }
    const std::uint32_t time = readLe32(&window[2]);
    // The unit's header tells its size: 2 bytes, or 6 in the HD form.
    unit.assign(6, 0);
    std::size_t got = 0;
    std::size_t size = 0;
    while (got < 6 && in.read(reinterpret_cast<char*>(&unit[got]), 1)) {
      ++got;
      if (got == 2 && (unit[0] | unit[1]) != 0) break;
    }
    size = subpictureUnitSize(unit.data(), got);
    if (size == 0 || size > kMaxSubpictureUnitSize) {
      // Not a record after all (or a damaged one): look for the next header
      // from the byte after this one's "S".
      if (gap == 0) gapStart = offset;
      ++gap;
      ++offset;
      in.clear();
      in.seekg(static_cast<std::streamoff>(offset));
      have = 0;
      continue;
    }
    reportGap();
    unit.resize(size);
    if (!in.read(reinterpret_cast<char*>(unit.data() + got), static_cast<std::streamsize>(size - got))) {
      log.log("   The last SP record ends inside its unit (" + std::to_string(got + static_cast<std::size_t>(in.gcount())) +
              " of " + std::to_string(size) + " bytes): skipped");
      summary.skippedBytes += kSpRecordHeaderSize + got + static_cast<std::size_t>(in.gcount());
      return summary;
    }
    onUnit(unit.data(), unit.size(), time);
    ++summary.units;
    offset += kSpRecordHeaderSize + size;
    have = 0;
  }
  reportGap();
  return summary;
}

}  // namespace tarnwick
