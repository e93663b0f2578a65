#pragma once
// `titles DISC [--json]`: the disc's titles as the commands take them.

#include <string>
#include <vector>

#include "disc/titles.h"

namespace tarnwick::cli {

struct Options;

// The listing a user reads, and the array a script reads.
std::string titlesText(const std::string& location, const std::vector<Title>& titles);
std::string titlesJson(const std::vector<Title>& titles);

int runTitles(const Options& o);

}  // namespace tarnwick::cli
