// tarnwick-cli demux: Read EVO (and the playlist), then Demux the chosen
// streams, and the chapters file when asked.

#include "app/cli/session.h"
#include "engine/demux_run.h"

namespace tarnwick::cli {

int runDemux(const Options& o) {
  Session session(o);
  if (const std::optional<int> status = chooseStreams(session, o, "demux")) return *status;
  const Outcome outcome = demuxStreams(session.scan(), session.runInput(), session.scanOptions(),
                                       session.selection(true), session.report());
  return afterCommand(session, outcome, o);
}

}  // namespace tarnwick::cli
