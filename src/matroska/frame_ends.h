#pragma once
// Where a Dolby Digital (Plus) or DTS stream file holds bytes outside whole
// frames: a stream cut out of an EVO that ends (or begins) inside a frame,
// as the first file of a split feature does on its own. mkvmerge keeps only
// whole frames and says nothing of the rest, so the run says it.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/stream_ids.h"

namespace tarnwick {

struct FrameEnds {
  std::int64_t leading = 0;   // bytes before the first whole frame
  std::int64_t trailing = 0;  // bytes of an incomplete last frame
};

// Looks at the first and last 64 KiB of the file only. nullopt for a kind
// whose frames are not followed here, or when no run of frames is found at
// one of the ends.
std::optional<FrameEnds> audioFrameEnds(const std::string& path, AudioKind kind);

}  // namespace tarnwick
