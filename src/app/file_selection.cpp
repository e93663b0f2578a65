#include "app/file_selection.h"

#include "engine/file_names.h"

namespace tarnwick {

namespace {
const std::string kDiscVideoFolder = std::string("HVDVD_TS") + kSeparator;
const std::string kDiscPlaylistFolder = std::string("ADV_OBJ") + kSeparator;
}  // namespace

bool chooseEvo(FileSelection& files, const std::string& path) {
  files.EvoFileName = namePart(path);
  files.OutputBaseName = CutExt(files.EvoFileName);
  files.EvoFolder = folderPart(path);
  if (!files.EvoFolder.ends_with(kDiscVideoFolder)) return false;
  files.XplFolder = files.EvoFolder.substr(0, files.EvoFolder.size() - kDiscVideoFolder.size()) + "ADV_OBJ" + kSeparator;
  files.XplFileName = "VPLST000.XPL";
  return true;
}

void choosePlaylist(FileSelection& files, const std::string& path) {
  files.XplFileName = namePart(path);
  files.XplFolder = folderPart(path);
  if (files.XplFolder.ends_with(kDiscPlaylistFolder))
    files.EvoFolder =
        files.XplFolder.substr(0, files.XplFolder.size() - kDiscPlaylistFolder.size()) + "HVDVD_TS" + kSeparator;
}

Continuation continuationOf(const FileSelection& files, const std::string& evoPath, bool goOn) {
  Continuation result;
  result.baseName = CutExt(files.EvoFileName);
  if (!goOn) return result;
  result.secondPath = getsecond(evoPath);
  result.hasSecond = !result.secondPath.empty();
  if (result.hasSecond) result.baseName += "_" + CutExt(namePart(result.secondPath));
  return result;
}

}  // namespace tarnwick
