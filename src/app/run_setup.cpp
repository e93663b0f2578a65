#include "app/run_setup.h"

#include "app/stream_lists.h"
#include "engine/file_names.h"

namespace tarnwick {

RunSetUp setUpRun(const RunChoices& choices, FileSelection& files) {
  Continuation second = continuationOf(files, choices.evoPath, choices.goOn && choices.secondPath.empty());
  if (!choices.secondPath.empty()) {
    second.hasSecond = true;
    second.secondPath = choices.secondPath;
    // A title of more files is named by its first and its last.
    const std::string& last = choices.laterPaths.empty() ? choices.secondPath : choices.laterPaths.back();
    second.baseName += "_" + CutExt(namePart(last));
  }
  files.OutputBaseName = second.baseName;
  RunSetUp setUp;
  setUp.input = {choices.evoPath,   second.secondPath,  choices.xplPath,
                 choices.laterPaths, choices.imagePath, choices.openInside};
  setUp.options = choices.options;
  setUp.naming = {outputFolder(choices.workdir, files.EvoFolder), files.OutputBaseName, choices.videoExt,
                  choices.audioExt, choices.subExt};
  return setUp;
}

void takeTitle(RunChoices& choices, const TitleRun& title) {
  choices.evoPath = title.evoPath;
  choices.goOn = false;  // no second file guessed by name: the title names its own
  choices.secondPath = title.secondPath;
  choices.laterPaths = title.laterPaths;
  choices.imagePath = title.imagePath;
  choices.openInside = title.openInside;
  if (choices.workdir.empty()) choices.workdir = title.besideDisc;
}

XplRequest playlistRequest(const FileSelection& files, const std::string& path, const TitleRun* title) {
  XplRequest request;
  if (title != nullptr && title->openInside && path == title->playlistPath) request.open = title->openInside;
  request.path = path;
  request.xplFileName = files.XplFileName;
  request.baseName = files.OutputBaseName;
  request.firstBaseName = CutExt(files.EvoFileName);
  return request;
}

MkvRequest mkvRequest(const RunSetUp& setUp, const StreamTable& streams, const XplTitle& title) {
  MkvRequest request;
  request.input = setUp.input;
  request.folder = setUp.naming.folder;
  request.baseName = setUp.naming.baseName;
  OutputNaming names = setUp.naming;
  names.folder.clear();
  request.selection = selectionOf(streams, &names);
  request.title = title;
  request.options = setUp.options;
  return request;
}

std::string rebuildOutput(const RunSetUp& setUp) { return rebuildFileName(setUp.naming.folder, setUp.naming.baseName); }

}  // namespace tarnwick
