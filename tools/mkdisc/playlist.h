#pragma once
// The disc's playlist, ADV_OBJ/VPLST000.XPL: three titles. The feature, in
// two files, whose tracks carry the sample streams' numbers, chapters and
// languages; an extra and a trailer, each a short EVO of its own.

#include <array>
#include <cstdint>
#include <string>

namespace tarnwick::mkdisc {

// `secondsPerFile`: the length of each of the feature's two files;
// `audioIds`: the DD+, DTS and LPCM substream ids (their low bits give the
// stream numbers); `extraSeconds`, `trailerSeconds`: the lengths of
// EXTRA.EVO and TRAILER.EVO, which carry the DD+ stream (and the extra the
// 2-bit subpicture stream) and VC-1 video; `featureCodec`: the feature's
// video codec as the playlist names it ("H.264", "VC-1").
std::string samplePlaylist(double secondsPerFile, const std::array<std::uint8_t, 3>& audioIds, double extraSeconds,
                           double trailerSeconds, const std::string& featureCodec);

}  // namespace tarnwick::mkdisc
