#include "engine/run_steps.h"

#include "engine/file_io.h"
#include "engine/file_names.h"

namespace tarnwick {

InputFile openInput(const RunInput& input, const std::string& path) {
  return input.openInside ? input.openInside(path) : InputFile(path);
}

void openRunInput(ScanState& state, const RunInput& input, RunReport& report) {
  const std::string& path = input.path;
  report.log("Opening file " + namePart(path));
  report.state("Opening");
  state.InputStream.emplace(openInput(input, path));
  report.log("File size: " + std::to_string(state.InputStream->size() / 1048576) + " Mbytes.");
}

void continueOnSecond(ScanState& state, const RunInput& input, const char* verb, RunReport& report,
                      const std::function<void()>& run) {
  if (input.secondPath.empty()) return;
  std::vector<std::string> next = {input.secondPath};
  next.insert(next.end(), input.laterPaths.begin(), input.laterPaths.end());
  for (const std::string& path : next) {
    if (state.CancelRequested()) return;
    state.InputStream.reset();
    state.InputStream.emplace(openInput(input, path));
    report.log("Continue on " + namePart(path));
    report.state(std::string(verb) + " " + namePart(path));
    run();
  }
}

void writeOverInputs(ScanState& state, const RunInput& input, const char* verb, RunReport& report,
                     const std::function<void()>& pass) {
  try {
    report.state(std::string(verb) + " " + namePart(input.path));
    pass();
    continueOnSecond(state, input, verb, report, pass);
    state.InputStream.reset();
    state.closeOutputs();
  } catch (...) {
    state.closeOutputsQuietly();
    throw;
  }
}

void refuseInputAsOutput(const std::string& output, const RunInput& input) {
  // Through links too: the same file is what counts, not the same name.
  for (const std::string* in : {&input.path, &input.secondPath, &input.playlistPath, &input.imagePath})
    if (!in->empty() && sameFile(output, *in)) throw cannotCreate(output, "It is an input file of this command");
  for (const std::string& in : input.laterPaths)
    if (sameFile(output, in)) throw cannotCreate(output, "It is an input file of this command");
}

void logDone(RunReport& report) {
  report.log("Done.");
  report.log("");
  report.state("Ready");
  report.detail("");
}

}  // namespace tarnwick
