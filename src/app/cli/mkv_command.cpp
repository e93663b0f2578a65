// tarnwick-cli mkv: Read EVO (and the playlist), then one MKV of the chosen
// streams, named and timed, made by mkvmerge.

#include "app/cli/session.h"
#include "matroska/mkv_run.h"

namespace tarnwick::cli {

int runMkv(const Options& o) {
  Session session(o);
  if (const std::optional<int> status = chooseStreams(session, o, "put in the MKV")) return *status;
  MkvRequest request = mkvRequest(session.setUp(), session.streams(), session.title());
  // A disc's MKV is named after its title; an EVO file's keeps Demux's base name.
  if (session.discInput()) request.baseName = session.titleRun()->mkvBaseName;
  request.mkvmerge = o.mkvmerge;
  request.keepStreams = o.keepStreams;
  const Outcome outcome = makeMkv(session.scan(), request, session.report());
  return afterCommand(session, outcome, o);
}

}  // namespace tarnwick::cli
