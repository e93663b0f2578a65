// tarnwick-cli demux: Read EVO (and the playlist), then Demux the chosen
// streams, and the chapters file when asked.

#include "app/cli/session.h"
#include "engine/demux_run.h"

namespace tarnwick::cli {

int runDemux(const Options& o) {
  Session session(o);
  if (const std::optional<int> status = chooseStreams(session, o, "demux")) return *status;
  const RunSetUp& setUp = session.setUp();
  const Outcome outcome = demuxStreams(session.scan(), setUp.input, setUp.options,
                                       selectionOf(session.streams(), &setUp.naming), session.report());
  return afterCommand(session, outcome, o);
}

}  // namespace tarnwick::cli
