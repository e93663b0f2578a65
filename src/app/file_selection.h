#pragma once
// The file-selection state: the EVO and the playlist chosen, and the base
// name of the outputs. The command hub keeps it; the settings store its
// folders.

#include <string>

namespace tarnwick {

struct FileSelection {
  std::string EvoFileName;
  std::string EvoFolder;  // ends in the separator, or empty
  std::string XplFileName;
  std::string XplFolder;  // ends in the separator, or empty
  std::string OutputBaseName;
};

}  // namespace tarnwick
