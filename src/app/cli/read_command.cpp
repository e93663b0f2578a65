// tarnwick-cli read: Read EVO, printing the log or the JSON report.

#include <cstdio>

#include "app/cli/json_report.h"
#include "app/cli/session.h"
#include "engine/file_io.h"
#include "engine/file_names.h"

namespace tarnwick::cli {

int runRead(const Options& o) {
  Session session(o);
  session.chooseEvo(o.input);
  if (!session.readEvo()) return stopped(session);
  session.selectStreams();
  if (o.json) {
    ReportFile file;
    file.path = o.input;
    file.size = InputFile(o.input).size();
    if (!o.noContinue && !session.scan().CancelRequested()) file.secondPath = getsecond(o.input);
    std::fputs(jsonReport(file, session.scan(), session.streams()).c_str(), stdout);
  }
  return kExitDone;
}

}  // namespace tarnwick::cli
