// tarnwick-cli rebuild: Read EVO (and the playlist), then Rebuild with the
// chosen streams, and the chapters file when asked.

#include <algorithm>
#include <cctype>

#include "app/cli/session.h"
#include "engine/file_names.h"
#include "rebuild/rebuild.h"

namespace tarnwick::cli {

// The window offers Rebuild only for an ".EVO" input.
int runRebuild(const Options& o) {
  Session session(o);
  if (!isDiscInput(o.input)) {
    std::string ext = extensionOf(o.input);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
    if (ext != ".EVO") throw UsageError("rebuild: the input must be an .EVO file: " + o.input);
  } else if (titleRun(o.input, o.title).title.dvd) {
    throw UsageError("rebuild: the title is a DVD's; only EVO files are rebuilt");
  }
  if (const std::optional<int> status = chooseStreams(session, o, "rebuild")) return *status;
  const RunSetUp& setUp = session.setUp();
  const Outcome outcome = rebuildEvo(session.scan(), setUp.input, selectionOf(session.streams(), nullptr),
                                     rebuildOutput(setUp), session.report());
  return afterCommand(session, outcome, o);
}

}  // namespace tarnwick::cli
