#pragma once
// Runs the scanner over bytes made by the builder, reporting to a recording
// report: no window is involved.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/scan_state.h"
#include "engine/scanner.h"
#include "support/builders.h"
#include "support/recording_report.h"
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
    demux(state, options, window, mode);
    endPosition = state.InputStream->position();
    state.InputStream.reset();
  }
  // Opens an output for audio/subpicture/video slot k, which selects it.
  std::string openAudio(int k) {
    const std::string path = dir / ("audio" + std::to_string(k));
    state.AudioSlots[k].output.emplace(path);
    return path;
  }
  std::string openSubpicture(int k) {
    const std::string path = dir / ("sub" + std::to_string(k));
    state.SubpictureSlots[k].output.emplace(path);
    return path;
  }
  std::string openVideo(int k) {
    const std::string path = dir / ("video" + std::to_string(k));
    state.VideoSlots[k].output.emplace(path);
    return path;
  }
  std::vector<std::string> log() const { return window.logText(); }

  TempDir dir;
  RecordingReport window;
  ScanOptions options;
  ScanState state;
  std::int64_t endPosition = 0;
};

}  // namespace tarnwick::test
