// tarnwick-cli read: Read EVO, printing the log or the JSON report.

#include <cstdio>

#include "app/cli/json_report.h"
#include "app/cli/session.h"
#include "engine/file_io.h"
#include "engine/file_names.h"

namespace tarnwick::cli {

int runRead(const Options& o) {
  Session session(o);
  session.chooseInput();
  if (!session.readEvo()) return stopped(session);
  session.selectStreams();
  if (o.json) {
    const RunInput& input = session.setUp().input;
    ReportFile file;
    file.path = input.path;
    file.size = openInput(input, input.path).size();
    if (!session.scan().CancelRequested()) file.secondPath = input.secondPath;
    std::fputs(jsonReport(file, session.scan(), session.streams()).c_str(), stdout);
  }
  return kExitDone;
}

}  // namespace tarnwick::cli
