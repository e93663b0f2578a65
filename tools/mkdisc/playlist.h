#pragma once
// The disc's playlist, ADV_OBJ/VPLST000.XPL: a title for the feature whose
// tracks carry the sample streams' numbers, chapters and languages, and a
// second title that plays another EVO.

#include <array>
#include <cstdint>
#include <string>

namespace tarnwick::mkdisc {

// `secondsPerFile`: the length of each of the feature's two files;
// `audioIds`: the DD+, DTS and LPCM substream ids (their low bits give the
// stream numbers).
std::string samplePlaylist(double secondsPerFile, const std::array<std::uint8_t, 3>& audioIds);

}  // namespace tarnwick::mkdisc
