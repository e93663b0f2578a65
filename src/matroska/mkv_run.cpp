#include "matroska/mkv_run.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "engine/child_process.h"
#include "engine/demux_run.h"
#include "engine/file_io.h"
#include "engine/file_names.h"
#include "engine/lpcm_wav.h"
#include "engine/run_steps.h"
#include "engine/utf8.h"
#include "matroska/frame_ends.h"
#include "playlist/chapters.h"
#include "playlist/track_names.h"

namespace fs = std::filesystem;

namespace tarnwick {
namespace {

// The run's own errors, which are not about one file.
class MkvError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string withSeparator(const std::string& folder) {
  if (folder.empty()) return folder;
  return endsWithSeparator(folder) ? folder : folder + kSeparator;
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The major version in "mkvmerge v74.0.0 ('You Oughta Know') 64-bit".
std::optional<int> majorVersion(std::string_view line) {
  const std::size_t v = line.find(" v");
  if (v == line.npos) return std::nullopt;
  int major = 0;
  std::size_t i = v + 2;
  if (i >= line.size() || line[i] < '0' || line[i] > '9') return std::nullopt;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) major = major * 10 + (line[i] - '0');
  return major;
}

// The time line of the MKV starts at the first video stream's first time
// stamp when video goes in; otherwise at the outputs' common start.
std::uint32_t referencePts(const ScanState& state, const StreamSelection& selection) {
  for (int n = 0; n < kVideoOutputs; ++n) {
    const StreamSlot slot{StreamClass::Video, n};
    if (selection.isChosen(slot) && state.slot(slot).record.hasFirstPts) return state.slot(slot).record.firstPts;
  }
  return subtitleTimeBase(state);
}

// "24000/1001" from the detail "Frame Rate = 23.976023976024 (24000/1001)".
std::string frameRate(const StreamRecord& record) {
  if (!record.frameRate.empty()) return record.frameRate;
  for (const std::string& line : record.details) {
    if (line.find("Frame Rate = ") == line.npos) continue;
    const std::size_t open = line.rfind('('), close = line.rfind(')');
    if (open != line.npos && close != line.npos && close > open + 1) return line.substr(open + 1, close - open - 1);
  }
  return {};
}

// The folder of the run's temporary files, beside the MKV; removed with
// everything in it when the run ends, unless the user keeps the streams.
class TemporaryFolder {
 public:
  TemporaryFolder(const std::string& folder, const std::string& baseName) {
    const std::string stem = withSeparator(folder) + baseName + ".mkv-streams";
    for (int n = 1;; ++n) {
      path_ = n == 1 ? stem : stem + "-" + std::to_string(n);
      std::error_code error;
      if (fs::create_directory(pathFromUtf8(path_), error)) return;
      if (error) throw cannotCreate(path_, error.message());
    }
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    if (!keep_) fs::remove_all(pathFromUtf8(path_), ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return withSeparator(path_) + name; }
  void keep() { keep_ = true; }

 private:
  std::string path_;
  bool keep_ = false;
};

void removeFile(const std::string& path) {
  std::error_code ignored;
  fs::remove(pathFromUtf8(path), ignored);
}

std::int64_t fileSize(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(pathFromUtf8(path), error);
  return error ? 0 : static_cast<std::int64_t>(size);
}

// The streams are at most the input's size and the MKV about as large as
// the streams: twice the input, and a margin for the file system.
void checkRoom(const MkvRequest& request, RunReport& report) {
  // The title's files, not the whole image they may be in.
  const auto sizeOf = [&](const std::string& path) -> std::int64_t {
    if (path.empty()) return 0;
    if (!request.input.openInside) return fileSize(path);
    try {
      return openInput(request.input, path).size();
    } catch (const FileError&) {
      return 0;
    }
  };
  std::int64_t input = sizeOf(request.input.path) + sizeOf(request.input.secondPath);
  for (const std::string& path : request.input.laterPaths) input += sizeOf(path);
  const std::int64_t needed = 2 * input + 16 * 1048576;
  std::error_code error;
  const fs::space_info space = fs::space(pathFromUtf8(request.folder.empty() ? "." : request.folder), error);
  if (error) {
    report.log("The free space of " + request.folder + " is not known: " + error.message());
    return;
  }
  if (static_cast<std::int64_t>(space.available) < needed)
    throw MkvError("Not enough room in " + request.folder + ": the streams and the MKV need about " +
                   std::to_string(needed / 1048576) + " Mbytes, " + std::to_string(space.available / 1048576) +
                   " Mbytes are free.");
}

std::string checkedMkvmerge(const MkvRequest& request, RunReport& report) {
  const std::string program = findMkvmerge(request.mkvmerge);
  if (program.empty())
    throw MkvError(request.mkvmerge.empty()
                       ? std::string("mkvmerge was not found. Install MKVToolNix (on Debian: apt-get install "
                                     "mkvtoolnix), or give the path of mkvmerge.")
                       : "mkvmerge was not found at " + request.mkvmerge +
                             ". Install MKVToolNix (on Debian: apt-get install mkvtoolnix), or give the path of "
                             "mkvmerge.");
  std::string versionLine;
  const ChildResult result = runChild(
      program, {"--version"},
      [&](std::string_view line) {
        if (versionLine.empty()) versionLine = line;
      },
      [] { return true; });
  const std::optional<int> major = majorVersion(versionLine);
  if (result.exitCode != 0 || !major)
    throw MkvError(program + " does not tell its version (\"" + versionLine +
                   "\"): is it mkvmerge? Install MKVToolNix, or give the path of mkvmerge.");
  if (*major < kMkvmergeMajorNeeded)
    throw MkvError(program + " is version " + std::to_string(*major) + "; mkvmerge " +
                   std::to_string(kMkvmergeMajorNeeded) + " or newer is needed. Install a newer MKVToolNix.");
  report.log("Using " + versionLine);
  return program;
}

// mkvmerge's lines: progress to the status bar, warnings and other
// messages to the log, errors kept for the failure's text.
class MkvmergeOutput {
 public:
  MkvmergeOutput(RunReport& report, std::int64_t streamBytes, std::string task)
      : report_(report), streamBytes_(streamBytes), task_(std::move(task)), start_(std::chrono::steady_clock::now()) {}

  void line(std::string_view text) {
    constexpr std::string_view kProgress = "#GUI#progress ", kWarning = "#GUI#warning ", kError = "#GUI#error ";
    if (text.starts_with(kProgress)) {
      int percent = 0;
      for (const char c : text.substr(kProgress.size()))
        if (c >= '0' && c <= '9') percent = percent * 10 + (c - '0');
      RunProgress p;
      p.size = streamBytes_;
      p.position = streamBytes_ * std::min(percent, 100) / 100;
      p.elapsedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
      p.task = task_;
      report_.progress(p);
    } else if (text.starts_with(kWarning)) {
      report_.log("   mkvmerge warning: " + validUtf8(text.substr(kWarning.size())));
    } else if (text.starts_with(kError)) {
      errors_ += (errors_.empty() ? "" : "\n") + validUtf8(text.substr(kError.size()));
      report_.log("   mkvmerge error: " + validUtf8(text.substr(kError.size())));
    } else if (!text.starts_with("#GUI#") && !text.starts_with("'")) {
      // (Lines that begin with a quoted file name say which reader and
      // writer each file gets: one pair per stream, and nothing to act on.)
      report_.log("   " + validUtf8(text));
    }
  }
  const std::string& errors() const { return errors_; }

 private:
  RunReport& report_;
  std::int64_t streamBytes_;
  std::string task_;
  std::chrono::steady_clock::time_point start_;
  std::string errors_;
};

// Demux keeps every byte of a stream; the MKV holds whole frames only, and
// mkvmerge drops the rest without a word: the log says what is left out.
void logBytesOutsideFrames(const ScanState& state, const std::vector<MkvInputFile>& files, RunReport& report) {
  for (const MkvInputFile& file : files) {
    if (file.slot.streamClass != StreamClass::Audio) continue;
    const std::optional<AudioKind> kind = audioKindOf(static_cast<std::uint32_t>(state.slot(file.slot).id));
    if (!kind) continue;
    const std::optional<FrameEnds> ends = audioFrameEnds(file.path, *kind);
    if (!ends) continue;
    const std::string name = namePart(file.path);
    if (ends->leading > 0)
      report.log("   " + name + " begins inside a frame: its first " + std::to_string(ends->leading) +
                 " bytes are not in the MKV.");
    if (ends->trailing > 0)
      report.log("   " + name + " ends inside a frame: its last " + std::to_string(ends->trailing) +
                 " bytes are not in the MKV.");
  }
}

Outcome makeMkvRun(ScanState& state, const MkvRequest& request, RunReport& report) {
  const std::string output = mkvPath(request);
  refuseInputAsOutput(output, request.input);
  const std::string program = checkedMkvmerge(request, report);
  checkRoom(request, report);

  TemporaryFolder temporary(request.folder, request.baseName);
  report.log("Temporary files in " + temporary.path());
  StreamSelection selection = request.selection;
  std::vector<MkvInputFile> files;
  for (int k = 0; k < kOutputCount; ++k) {
    if (!selection.chosen[static_cast<std::size_t>(k)]) continue;
    std::string& name = selection.outputNames[static_cast<std::size_t>(k)];
    name = temporary.file(name);
    files.push_back({outputSlot(k), name});
  }

  ScanOptions options = request.options;
  options.pgs = true;  // the subpicture form that Matroska carries
  const Outcome demuxed = demuxStreams(state, request.input, options, selection, report);
  if (!demuxed.isDone()) {
    if (request.keepStreams) temporary.keep();
    return demuxed;
  }

  logBytesOutsideFrames(state, files, report);

  // LPCM goes in as WAV: one format for the whole stream, or no file.
  for (MkvInputFile& file : files) {
    if (file.slot.streamClass != StreamClass::Audio) continue;
    const auto id = static_cast<std::uint32_t>(state.slot(file.slot).id);
    if (audioKindOf(id) != AudioKind::Lpcm) continue;
    if (const auto& change = state.slot(file.slot).lpcmFormatChange)
      throw MkvError(lpcmFormatChangeMessage(file.slot.slot, *change));
    const std::optional<LpcmFormat> format = state.slot(file.slot).lpcmFormat;
    if (!format) throw MkvError("LPCM audio stream " + std::to_string(file.slot.slot) + " has no header to read its format from.");
    const std::string wav = CutExt(file.path) + ".wav";
    const Outcome converted = convertLpcmToWav(file.path, *format, wav, report);
    if (!converted.isDone()) {
      if (request.keepStreams) temporary.keep();
      converted.rethrowFailure();
      return converted;
    }
    removeFile(file.path);
    file.path = wav;
  }

  std::string chaptersPath;
  if (request.title.found) {
    const ChapterFile chapters = simpleChapters(request.title);
    for (const std::string& note : chapterNotes(chapters)) report.log(note);
    if (chapters.written > 0) {
      chaptersPath = temporary.file("chapters.txt");
      OutputFile file(chaptersPath);
      file.write(reinterpret_cast<const std::uint8_t*>(chapters.text.data()), chapters.text.size());
      file.close();
    }
  }

  const std::string partial = temporary.file(namePart(output));
  const std::string optionPath = temporary.file("mkvmerge-options.json");
  {
    const std::string text = mkvmergeOptionFile(mkvmergeArguments(state, request, files, chaptersPath, partial));
    OutputFile file(optionPath);
    file.write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    file.close();
  }

  std::int64_t streamBytes = 0;
  for (const MkvInputFile& f : files) streamBytes += fileSize(f.path);
  report.state("Muxing " + namePart(output));
  report.log("Muxing " + output);
  MkvmergeOutput lines(report, streamBytes, "Muxing");
  ChildResult result;
  {
    CancellableScope cancellable(report);
    result = runChild(
        program, {"@" + optionPath}, [&](std::string_view line) { lines.line(line); },
        [&] { return !report.cancelPoint(); });
  }
  if (request.keepStreams) temporary.keep();
  // A Ctrl+C on a console reaches mkvmerge too, which may end by it before
  // the poll stops it: a cancel all the same, not mkvmerge's failure.
  if (result.stopped || report.cancelRequested()) {
    removeFile(partial);
    report.log("mkvmerge stopped; " + output + " not written.");
    return Outcome::cancelled();
  }
  if (result.exitCode != 0 && result.exitCode != 1) {
    removeFile(partial);
    const std::string how = result.exitCode < 0 ? std::string("mkvmerge failed: it ended without an exit status")
                                                : "mkvmerge failed (exit status " + std::to_string(result.exitCode) + ")";
    throw MkvError(how + (lines.errors().empty() ? std::string(".") : ": " + lines.errors()));
  }
  std::error_code error;
  fs::rename(pathFromUtf8(partial), pathFromUtf8(output), error);
  if (error) {
    removeFile(partial);
    throw cannotCreate(output, error.message());
  }
  if (result.exitCode == 1) report.log("mkvmerge finished with warnings (above).");
  report.log(output + " written.");
  if (request.keepStreams) report.log("The streams are kept in " + temporary.path());
  logDone(report);
  return Outcome::done();
}

}  // namespace

std::string mkvPath(const MkvRequest& request) { return withSeparator(request.folder) + request.baseName + ".mkv"; }

std::string findMkvmerge(const std::string& configured) {
  if (!configured.empty()) return findProgram(configured);
#ifdef _WIN32
  std::vector<std::string> places;
  for (const char* variable : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"})
    if (const char* folder = std::getenv(variable))
      places.push_back(std::string(folder) + "\\MKVToolNix\\mkvmerge.exe");
  return findProgram("mkvmerge", places);
#else
  return findProgram("mkvmerge");
#endif
}

std::vector<std::string> mkvmergeArguments(const ScanState& state, const MkvRequest& request,
                                           const std::vector<MkvInputFile>& files, const std::string& chaptersPath,
                                           const std::string& output) {
  std::vector<std::string> args = {"--gui-mode", "--output", output};
  if (const std::string title = mkvTitle(request.title); !title.empty()) args.insert(args.end(), {"--title", title});
  const std::uint32_t reference = referencePts(state, request.selection);
  const std::uint32_t subtitleBase = subtitleTimeBase(state);
  bool defaultAudio = true;
  for (const MkvInputFile& file : files) {
    const StreamSlot slot = file.slot;
    // mkvmerge marks every track default unless told: each flag is set.
    bool isDefault = slot.streamClass == StreamClass::Video;
    if (slot.streamClass == StreamClass::Audio) {
      isDefault = defaultAudio;
      defaultAudio = false;
    }
    const MkvTrackLabel label = mkvTrackLabel(slot, state, request.title);
    args.insert(args.end(), {"--track-name", "0:" + label.name, "--language", "0:" + label.language,
                             "--default-track-flag", std::string("0:") + (isDefault ? "yes" : "no")});
    const StreamRecord& record = state.slot(slot).record;
    if (slot.streamClass == StreamClass::Video) {
      const std::string rate = frameRate(record);
      // mkvmerge takes MPEG-2's rate from its sequence header; the others get the one read here.
      const auto id = static_cast<std::uint32_t>(state.slot(slot).id);
      if (!rate.empty() && (!isMpegVideoId(id) || isH264Id(id)))
        args.insert(args.end(), {"--default-duration", "0:" + rate + "p"});
    } else if (slot.streamClass == StreamClass::Audio) {
      if (record.hasFirstPts) args.insert(args.end(), {"--sync", "0:" + std::to_string(delayMs(record.firstPts, reference))});
    } else {
      // PGS times count from the outputs' common start.
      args.insert(args.end(), {"--sync", "0:" + std::to_string(delayMs(subtitleBase, reference))});
    }
    args.push_back(file.path);
  }
  if (!chaptersPath.empty()) args.insert(args.end(), {"--chapter-language", "und", "--chapters", chaptersPath});
  return args;
}

std::string mkvmergeOptionFile(const std::vector<std::string>& arguments) {
  std::string text = "[\n";
  for (std::size_t i = 0; i < arguments.size(); ++i)
    text += "  " + jsonString(arguments[i]) + (i + 1 < arguments.size() ? ",\n" : "\n");
  return text + "]\n";
}

Outcome makeMkv(ScanState& state, const MkvRequest& request, RunReport& report) {
  return runCommand([&] { return makeMkvRun(state, request, report); });
}

}  // namespace tarnwick
