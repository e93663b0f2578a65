// Several inputs in one run: each in turn, as if given alone, its outputs in
// a folder named after it under -o, so that two inputs never write over each
// other's files.

#include <cstdio>
#include <exception>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/cli/session.h"
#include "engine/file_io.h"
#include "engine/file_names.h"

namespace tarnwick::cli {

namespace {

namespace fs = std::filesystem;

// What an input is called: a disc folder by its name, an EVO in a disc's
// HVDVD_TS (or a DVD's VIDEO_TS) folder by the disc's, another file by its
// own name without the extension.
std::string inputName(const std::string& input) {
  fs::path path(input);
  while (!path.empty() && path.filename().empty()) path = path.parent_path();  // a trailing separator
  std::error_code error;
  if (fs::is_directory(path, error)) return path.filename().string();
  const fs::path folder = path.parent_path();
  const std::string folderName = folder.filename().string();
  if ((folderName == "HVDVD_TS" || folderName == "VIDEO_TS") && !folder.parent_path().filename().empty())
    return folder.parent_path().filename().string();
  return CutExt(path.filename().string());
}

struct Result {
  std::string input;
  std::string status;
};

}  // namespace

int runEach(const Options& o, int (*command)(const Options&)) {
  if (o.inputs.size() <= 1) {
    Options one = o;
    one.input = o.inputs.empty() ? o.input : o.inputs.front();
    return command(one);
  }
  if (!o.chapters.empty()) throw UsageError("--chapters names one file: it cannot take the chapters of several inputs");
  if (o.output.empty())
    throw UsageError("-o: several inputs need an output folder, where each gets a folder of its own");
  if (!o.xpl.empty()) throw UsageError("--xpl names one playlist: it cannot name the tracks of several inputs");
  std::set<std::string> seen, folders;
  for (const std::string& input : o.inputs)
    if (!seen.insert(fs::weakly_canonical(input).string()).second)
      throw UsageError("\"" + input + "\" is given twice");

  std::vector<Result> results;
  bool failed = false;
  const std::size_t count = o.inputs.size();
  for (std::size_t n = 0; n < count; ++n) {
    const std::string& input = o.inputs[n];
    if (interrupted()) {
      results.push_back({input, "not started"});
      continue;
    }
    Options one = o;
    one.input = input;
    one.progressPrefix = "disc " + std::to_string(n + 1) + " of " + std::to_string(count) + ": ";
    std::string name = inputName(input);
    for (int k = 2; !folders.insert(name).second; ++k) name = inputName(input) + " (" + std::to_string(k) + ")";
    one.output = (fs::path(o.output) / name).string();
    if (!o.json) std::printf("%s%s\n", n == 0 ? "" : "\n", (one.progressPrefix + input).c_str());
    std::fflush(stdout);
    int status = kExitFailed;
    std::string message;
    std::error_code error;
    const bool made = fs::create_directories(one.output, error);
    try {
      if (error) throw cannotCreate(one.output, error.message());
      status = command(one);
    } catch (const std::exception& e) {
      message = e.what();
    }
    std::fflush(stdout);
    if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
    // A folder made for an input that wrote nothing into it goes again.
    if (made && fs::is_empty(one.output, error)) fs::remove(one.output, error);
    if (status == kExitDone) {
      results.push_back({input, "done"});
    } else if (status == kExitInterrupted) {
      results.push_back({input, "stopped"});
    } else {
      failed = true;
      results.push_back({input, message.empty() ? std::string("failed") : "failed: " + message});
    }
  }
  std::printf("\n");
  for (const Result& result : results) std::printf("%s: %s\n", result.input.c_str(), result.status.c_str());
  std::fflush(stdout);
  if (interrupted()) return kExitInterrupted;
  return failed ? kExitFailed : kExitDone;
}

}  // namespace tarnwick::cli
