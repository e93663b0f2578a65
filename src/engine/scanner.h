#pragma once
// The program stream scanner: walks packs and PES packets of the open input,
// identifies streams and hands payload runs to the analysers or the writer.

#include <stdexcept>

#include "engine/run_report.h"
#include "engine/run_request.h"
#include "engine/scan_state.h"

namespace tarnwick {

// The input's PES packets say their payloads are scrambled: a scan would
// read noise.
class EncryptedInputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Scans state.InputStream from its position to its end, or until it stops
// early at a chunk boundary: by the report's cancel request at a progress
// point, or by the fast check (state.scanStop tells which). Analysis mode logs the
// streams found (and their details with options.details); extraction mode
// writes the payloads of the streams whose outputs are open.
void demux(ScanState& state, const ScanOptions& options, RunReport& report, ScanMode mode);

}  // namespace tarnwick
