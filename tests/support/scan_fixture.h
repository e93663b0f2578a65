#pragma once
// Runs the scanner over bytes made by the builder, on the window model.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/model_window.h"
#include "engine/scan_state.h"
#include "engine/scanner.h"
#include "support/ps_builder.h"
#include "support/temp_dir.h"

namespace tarnwick::test {

class ScanFixture : public ::testing::Test {
 protected:
  // Writes the bytes to a file and scans it; the input is closed afterwards.
  void scan(const Bytes& bytes, ScanMode mode = ScanMode::Analysis) {
    const std::string path = dir / "input.evo";
    writeFile(path, bytes);
    scanFile(path, mode);
  }
  void scanFile(const std::string& path, ScanMode mode = ScanMode::Analysis) {
    state.InputStream.emplace(path);
    demux(state, window, mode);
    endPosition = state.InputStream->position();
    state.InputStream.reset();
  }
  // Opens an output for audio/subpicture/video slot k and selects it.
  std::string openAudio(int k) {
    const std::string path = dir / ("audio" + std::to_string(k));
    state.audioOutputs[k].emplace(path);
    state.audioSelected[k] = true;
    return path;
  }
  std::string openSubpicture(int k) {
    const std::string path = dir / ("sub" + std::to_string(k));
    state.subpictureOutputs[k].emplace(path);
    state.subpictureSelected[k] = true;
    return path;
  }
  std::string openVideo(int k) {
    const std::string path = dir / ("video" + std::to_string(k));
    state.videoOutputs[k].emplace(path);
    state.videoSelected[k] = true;
    return path;
  }
  std::vector<std::string> log() const { return window.logText(); }

  TempDir dir;
  ModelWindow window;
  ScanState state;
  std::int64_t endPosition = 0;
};

}  // namespace tarnwick::test
