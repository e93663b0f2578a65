#pragma once
// Puts a subpicture unit back together from the payloads of the packets that
// carry it: the first packet's PES header has the time stamp, the unit's
// header tells its size, and the following packets are appended until it is
// whole. Memory: one unit.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "analysers/log_sink.h"

namespace tarnwick {

// A unit larger than this is taken for damage (the 8-bit run-length code of
// a full 1920×1080 frame stays well below it).
constexpr std::size_t kMaxSubpictureUnitSize = 16u << 20;

class SpuAssembler {
 public:
  using UnitHandler = std::function<void(const std::uint8_t* unit, std::size_t size, std::uint32_t pts)>;

  SpuAssembler(LogSink& log, UnitHandler onUnit);

  // One payload run of a subpicture packet. hasPts: the packet's own PES
  // header carried `pts`, so a new unit starts with it.
  void feed(const std::uint8_t* p, std::size_t n, bool hasPts, std::uint32_t pts);
  // The end of the stream: a unit still incomplete is reported and dropped.
  void finish();

  // Units dropped as incomplete or for a header that cannot be right.
  std::uint64_t droppedUnits() const { return dropped_; }

 private:
  void dropUnit(const char* why);
  void dropDamagedUnit(const char* why);
  void reportStrayBytes();

  LogSink& log_;
  UnitHandler onUnit_;
  std::vector<std::uint8_t> unit_;
  bool active_ = false;
  std::size_t size_ = 0;  // 0 while the header is incomplete
  std::uint32_t pts_ = 0;
  std::uint64_t strayBytes_ = 0;
  std::uint64_t dropped_ = 0;
  // After a damaged header, the unit's later packets are skipped unsaid.
  bool skippingDamaged_ = false;
};

}  // namespace tarnwick
