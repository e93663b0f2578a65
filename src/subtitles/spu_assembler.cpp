#include "subtitles/spu_assembler.h"

#include <algorithm>
#include <string>
#include <utility>

#include "subtitles/subpicture_decoder.h"

namespace tarnwick {

SpuAssembler::SpuAssembler(LogSink& log, UnitHandler onUnit) : log_(log), onUnit_(std::move(onUnit)) {}

void SpuAssembler::dropUnit(const char* why) {
  log_.log("   Incomplete subpicture unit at PTS " + formatTicks(pts_) + " skipped: " + why + " (" +
           std::to_string(unit_.size()) + " of " + (size_ ? std::to_string(size_) : std::string("?")) + " bytes)");
  ++dropped_;
  active_ = false;
  unit_.clear();
  size_ = 0;
}

void SpuAssembler::dropDamagedUnit(const char* why) {
  log_.log("   Damaged subpicture unit at PTS " + formatTicks(pts_) + " skipped: " + why);
  ++dropped_;
  active_ = false;
  unit_.clear();
  size_ = 0;
  skippingDamaged_ = true;
}

void SpuAssembler::reportStrayBytes() {
  if (strayBytes_ == 0) return;
  log_.log("   " + std::to_string(strayBytes_) + " subpicture bytes outside any unit skipped");
  strayBytes_ = 0;
}

void SpuAssembler::feed(const std::uint8_t* p, std::size_t n, bool hasPts, std::uint32_t pts) {
  while (n > 0) {
    if (active_ && hasPts) dropUnit("the next unit began before it was whole");
    if (!active_) {
      if (!hasPts) {
        if (!skippingDamaged_) strayBytes_ += n;  // no unit begins in a packet without a time stamp
        return;
      }
      skippingDamaged_ = false;
      reportStrayBytes();
      active_ = true;
      pts_ = pts;
      size_ = 0;
      unit_.clear();
    }
    hasPts = false;  // whatever follows in this run belongs to this unit or is stray
    if (size_ == 0) {
      // The header: 2 bytes, or 6 when the first word is zero (HD form).
      while (n > 0 && size_ == 0) {
        unit_.push_back(*p++);
        --n;
        size_ = subpictureUnitSize(unit_.data(), unit_.size());
        const bool headerRead = unit_.size() >= 6 || (unit_.size() >= 2 && (unit_[0] | unit_[1]) != 0);
        if (size_ == 0 && headerRead) {
          dropDamagedUnit("its size cannot hold its header");
          return;
        }
      }
      if (size_ == 0) return;
      if (size_ > kMaxSubpictureUnitSize) {
        dropDamagedUnit("its size is past any real unit's");
        return;
      }
      unit_.reserve(size_);
    }
    const std::size_t take = std::min(n, size_ - unit_.size());
    unit_.insert(unit_.end(), p, p + take);
    p += take;
    n -= take;
    if (unit_.size() == size_) {
      active_ = false;
      onUnit_(unit_.data(), unit_.size(), pts_);
      unit_.clear();
      size_ = 0;
      strayBytes_ += n;  // bytes after a unit in its last packet
      return;
    }
  }
}

void SpuAssembler::finish() {
  if (active_) dropUnit("the stream ended");
  reportStrayBytes();
}

}  // namespace tarnwick
