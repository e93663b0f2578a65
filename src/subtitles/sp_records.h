#pragma once
// Reads the "SP" record files that Demux writes for a subpicture stream: a
// 10-byte record header ("SP", the time as a little-endian 32-bit value,
// four zero bytes) in front of the payload of each packet that carried a
// time stamp; the packets after it follow bare.

#include <cstddef>
#include <cstdint>
#include <istream>

#include "analysers/log_sink.h"
#include "subtitles/spu_assembler.h"

namespace tarnwick {

constexpr std::size_t kSpRecordHeaderSize = 10;

struct SpRecordSummary {
  std::uint64_t units = 0;
  std::uint64_t skippedBytes = 0;  // bytes between records that no unit claimed
};

// Hands over each whole unit with its record's time. A unit's size comes
// from its own header, so the record ends where the unit ends even when its
// bytes happen to hold "SP". Bytes that fit no record are skipped, with one
// log line per stretch.
SpRecordSummary readSpRecords(std::istream& in, LogSink& log, const SpuAssembler::UnitHandler& onUnit);

// Whether the first bytes look like an SP record file.
bool looksLikeSpRecords(const std::uint8_t* p, std::size_t n);

}  // namespace tarnwick
