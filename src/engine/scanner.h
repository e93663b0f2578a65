#pragma once
// The program stream scanner: walks packs and PES packets of the open input,
// identifies streams and hands payload runs to the analysers or the writer.

#include "engine/scan_state.h"

namespace tarnwick {

class Window;

// Scans state.InputStream from its position to its end, or until
// CancelRequested is set at a chunk boundary. Analysis mode logs the streams
// found (and their details when "Detailed info" is ticked); extraction mode
// writes the payloads of the selected streams to their outputs.
void demux(ScanState& state, Window& window, ScanMode mode);

}  // namespace tarnwick
