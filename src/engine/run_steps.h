#pragma once
// The steps that Read EVO, Demux and Rebuild share: opening the run's input,
// going on into the second file of a split feature, the refusal to write
// over an input, and the closing lines.

#include <functional>
#include <string>

#include "engine/run_report.h"
#include "engine/run_request.h"
#include "engine/scan_state.h"

namespace tarnwick {

// Opens the run's input with the "Opening file" and "File size" lines.
void openRunInput(ScanState& state, const RunInput& input, RunReport& report);
// Unless the first file's loop stopped early (Cancel, or the fast-check
// limit, which counts as one) or the run has no second file, opens the second file
// of the feature, announces it with `verb` ("Reading", …) and runs it.
void continueOnSecond(ScanState& state, const RunInput& input, const char* verb, RunReport& report,
                      const std::function<void()>& run);
// The writing pass of Demux and Rebuild: announces it with `verb`, runs it
// over the input and the second file, then closes the outputs. However it
// ends the outputs are closed; a failure is raised after that, a failure of
// closing only when the pass itself went well.
void writeOverInputs(ScanState& state, const RunInput& input, const char* verb, RunReport& report,
                     const std::function<void()>& pass);
// No run writes over one of its inputs: creating an output truncates it.
void refuseInputAsOutput(const std::string& output, const RunInput& input);
// "Done.", an empty line and the state at rest.
void logDone(RunReport& report);

}  // namespace tarnwick
