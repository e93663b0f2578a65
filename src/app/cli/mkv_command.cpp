// tarnwick-cli mkv: Read EVO (and the playlist), then one MKV of the chosen
// streams, named and timed, made by mkvmerge.

#include "app/cli/session.h"
#include "engine/file_names.h"
#include "matroska/mkv_run.h"

namespace tarnwick::cli {

int runMkv(const Options& o) {
  Session session(o);
  if (const std::optional<int> status = chooseStreams(session, o, "put in the MKV")) return *status;
  MkvRequest request;
  request.input = session.runInput();
  request.folder = session.outputFolder();
  request.baseName = session.baseName();
  request.selection = session.selection(true);
  // The stream files go in the run's temporary folder, under Demux's names.
  for (std::string& name : request.selection.outputNames)
    if (!name.empty()) name = namePart(name);
  request.title = session.title();
  request.options = session.scanOptions();
  request.mkvmerge = o.mkvmerge;
  request.keepStreams = o.keepStreams;
  const Outcome outcome = makeMkv(session.scan(), request, session.report());
  return afterCommand(session, outcome, o);
}

}  // namespace tarnwick::cli
