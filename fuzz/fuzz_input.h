#pragma once
// The commands read files: each fuzz input is written to a scratch file of
// this process, in memory where the system offers it.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/model_window.h"
#include "app/tf_main.h"
#include "engine/scanner.h"

namespace tarnwick::fuzz {

inline const std::filesystem::path& scratchFolder() {
  static const std::filesystem::path folder = [] {
    const std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::filesystem::path dir = base / ("tarnwick-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "HVDVD_TS");
    std::filesystem::create_directories(dir / "ADV_OBJ");
    std::filesystem::create_directories(dir / "out");
    std::atexit([] { std::filesystem::remove_all(scratchFolder()); });
    return dir;
  }();
  return folder;
}

inline void writeInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

// The window after Read EVO of the input as FEATURE_1.EVO, without the
// continuation and the fast check, so that every byte is scanned; outputs go
// to the scratch folder.
struct ReadInput {
  ModelWindow window;
  TfMain main{window};

  ReadInput(const std::uint8_t* data, std::size_t size, bool details) {
    const std::string path = (scratchFolder() / "HVDVD_TS" / "FEATURE_1.EVO").string();
    writeInput(path, data, size);
    main.FormActivate();
    window.setChecked(ControlId::cbContinue, false);
    window.setChecked(ControlId::cbFastCheck, false);
    window.setChecked(ControlId::cbDetails, details);
    window.setChecked(ControlId::cbCountFr, true);
    window.setText(ControlId::eWorkdir, (scratchFolder() / "out").string());
    main.WMDropFiles({path});
    // Headers that say the payload is scrambled stop the read, as they should.
    try {
      main.bCheckClick();
    } catch (const EncryptedInputError&) {
    }
  }
};

}  // namespace tarnwick::fuzz
