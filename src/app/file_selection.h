#pragma once
// The file-selection state: the EVO and the playlist chosen, and the base
// name of the outputs. The command hub and the command line's session keep
// one each; the settings store its folders.

#include <string>

namespace tarnwick {

struct FileSelection {
  std::string EvoFileName;
  std::string EvoFolder;  // ends in the separator, or empty
  std::string XplFileName;
  std::string XplFolder;  // ends in the separator, or empty
  std::string OutputBaseName;
  // The folder that holds the disc (a disc folder or an image) opened last,
  // where the browse dialog starts for the next one.
  std::string DiscFolder;
};

// The EVO chosen: its name, its folder and the outputs' base name. An EVO in
// a disc's HVDVD_TS folder also chooses the disc's playlist,
// ADV_OBJ/VPLST000.XPL; true when it did.
bool chooseEvo(FileSelection& files, const std::string& path);
// The playlist chosen. A playlist in a disc's ADV_OBJ folder points the
// EVO folder at the disc's HVDVD_TS folder.
void choosePlaylist(FileSelection& files, const std::string& path);

// The second file of a split feature when the run goes on into it, and the
// base name the run gives its outputs ("FEATURE_1_FEATURE_2").
struct Continuation {
  bool hasSecond = false;
  std::string secondPath;
  std::string baseName;
};
Continuation continuationOf(const FileSelection& files, const std::string& evoPath, bool goOn);

}  // namespace tarnwick
