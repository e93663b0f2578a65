// tarnwick-cli: the window's Read EVO, Demux and Rebuild from the command line. Each
// option sets one control of the window; the commands are the window's own.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/cli/box_names.h"
#include "app/cli/cli_window.h"
#include "app/cli/json_report.h"
#include "app/file_names.h"
#include "app/tf_main.h"
#include "engine/file_io.h"

namespace tarnwick::cli {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
  std::string input;
  std::string output;
  std::vector<std::string> streams;
  bool streamsGiven = false;
  bool noContinue = false;
  bool noFastCheck = false;
  bool noCountFrames = false;
  bool noDetails = false;
  std::string videoExt = "mpv";
  std::string audioExt = "mpa";
  std::string subExt = "sup";
  bool json = false;
};

// Raised for a command line that only the read can show to be wrong.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The window's edit boxes take five characters; a multi-byte character is one.
std::string checkExtension(const std::string& ext) {
  std::size_t characters = 0;
  for (const char c : ext)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  return characters > 5 ? "at most 5 characters" : "";
}

std::string checkBox(const std::string& name) {
  return parseBoxName(name) ? "" : "unknown stream box \"" + name + "\" (video0, video1, audio00..audio15, sub00..sub15)";
}

void addWindowOptions(CLI::App& command, Options& o) {
  command.add_option("EVO_FILE", o.input, "The EVO or VOB file")->required()->type_name("");
  command.add_option("-o,--output", o.output, "Output folder (default: the input file's folder)")->type_name("DIR");
  command
      .add_option("--streams", o.streams,
                  "After the read, keep ticked only these boxes, comma separated: video0,video1,"
                  "audio00..audio15,sub00..sub15 (default: all that the read ticked)")
      ->delimiter(',')
      ->type_name("LIST")
      ->check(CLI::Validator(checkBox, ""))
      ->each([&o](const std::string&) { o.streamsGiven = true; });
  command.add_flag("--no-continue", o.noContinue, "Untick \"Continue with second  EVO\"");
  command.add_flag("--no-fast-check", o.noFastCheck, "Untick \"Fast EVO checking\"");
  command.add_flag("--no-count-frames", o.noCountFrames, "Untick \"Count frames\"");
  command.add_flag("--no-details", o.noDetails, "Untick \"Detailed info\"");
  const CLI::Validator extension(checkExtension, "");
  command.add_option("--video-ext", o.videoExt, "Video file extension")->type_name("EXT")->capture_default_str()->check(extension);
  command.add_option("--audio-ext", o.audioExt, "Audio file extension")->type_name("EXT")->capture_default_str()->check(extension);
  command.add_option("--sub-ext", o.subExt, "Subpicture file extension")->type_name("EXT")->capture_default_str()->check(extension);
}

// The controls as the user would set them, then Read EVO.
void readEvo(TfMain& tf, ConsoleWindow& w, const Options& o) {
  tf.FormActivate();
  w.setChecked(ControlId::cbContinue, !o.noContinue);
  w.setChecked(ControlId::cbFastCheck, !o.noFastCheck);
  w.setChecked(ControlId::cbCountFr, !o.noCountFrames);
  w.setChecked(ControlId::cbDetails, !o.noDetails);
  w.setText(ControlId::eVideoExt, o.videoExt);
  w.setText(ControlId::eAudioExt, o.audioExt);
  w.setText(ControlId::eSubExt, o.subExt);
  w.setText(ControlId::eWorkdir, o.output);
  w.setText(ControlId::eEVOfile, o.input);
  tf.EVOadj();
  w.forgetDone();
  tf.bCheckClick();
}

// Unticks every box not named; a named box must hold a stream the read found.
void selectStreams(TfMain& tf, const Window& w, const Options& o) {
  if (!o.streamsGiven) return;
  std::vector<ControlId> chosen;
  for (const std::string& name : o.streams) {
    const ControlId box = *parseBoxName(name);
    if (!w.enabled(box)) throw UsageError("--streams: the read found no stream for box " + name);
    chosen.push_back(box);
  }
  for (ControlId box : outputBoxes())
    tf.toggleBox(box, std::find(chosen.begin(), chosen.end(), box) != chosen.end());
}

// The command ran to its "Done." line; the handlers return early only when
// the window is busy, which a single command line never makes it.
int finished(ConsoleWindow& w) {
  if (w.sawDone()) return kExitDone;
  w.endProgress();
  std::fprintf(stderr, "The command stopped before it was done.\n");
  return kExitFailed;
}

int runRead(const Options& o) {
  ConsoleWindow w(processStreams());
  w.setPrintLog(!o.json);
  TfMain tf(w);
  readEvo(tf, w, o);
  if (!w.sawDone()) return finished(w);
  selectStreams(tf, w, o);
  if (o.json) {
    ReportFile file;
    file.path = o.input;
    file.size = InputFile(o.input).size();
    if (w.checked(ControlId::cbContinue) && !tf.scan().CancelRequested) file.secondPath = getsecond(o.input);
    std::fputs(jsonReport(file, tf.scan(), w).c_str(), stdout);
  }
  return kExitDone;
}

int runDemux(const Options& o) {
  ConsoleWindow w(processStreams());
  TfMain tf(w);
  readEvo(tf, w, o);
  if (!w.sawDone()) return finished(w);
  selectStreams(tf, w, o);
  // The window offers Demux only with a stream ticked, and --streams names
  // found streams only: the read found none.
  if (!w.enabled(ControlId::bDemux)) {
    w.endProgress();
    std::fprintf(stderr, "Nothing to demux: the read found no stream.\n");
    return kExitFailed;
  }
  w.forgetDone();
  tf.bDemuxClick();
  return finished(w);
}

// The window offers Rebuild only for an ".EVO" input with a stream ticked.
int runRebuild(const Options& o) {
  std::string ext = extensionOf(o.input);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
  if (ext != ".EVO") throw UsageError("rebuild: the input must be an .EVO file: " + o.input);
  ConsoleWindow w(processStreams());
  TfMain tf(w);
  readEvo(tf, w, o);
  if (!w.sawDone()) return finished(w);
  selectStreams(tf, w, o);
  if (!w.enabled(ControlId::bRebuild)) {
    w.endProgress();
    std::fprintf(stderr, "Nothing to rebuild: the read found no stream.\n");
    return kExitFailed;
  }
  w.forgetDone();
  tf.bRebuildClick();
  return finished(w);
}

int run(int argc, char** argv) {
  CLI::App app("Reads HD DVD EVO and DVD VOB files (MPEG-2 program streams): lists their streams and demuxes "
               "them into elementary-stream files or rebuilds an EVO with fewer streams.",
               "tarnwick-cli");
  app.set_version_flag("--version", std::string("tarnwick-cli ") + TARNWICK_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 done, 1 a file error (the message is on standard error), 2 bad usage.\n"
      "Run \"tarnwick-cli COMMAND --help\" for the options of a command.");

  Options o;
  CLI::App* read = app.add_subcommand("read", "Read EVO: scan the file and print the message log");
  addWindowOptions(*read, o);
  read->add_flag("--json", o.json, "Print a machine-readable report instead of the log");
  CLI::App* demux = app.add_subcommand("demux", "Read EVO, then Demux the ticked streams");
  addWindowOptions(*demux, o);
  CLI::App* rebuild = app.add_subcommand(
      "rebuild", "Read EVO, then Rebuild: a new EVO file (NAME.rebuilt.EVO) with the ticked streams only");
  addWindowOptions(*rebuild, o);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitDone : kExitUsage;
  }

  try {
    if (rebuild->parsed()) return runRebuild(o);
    return read->parsed() ? runRead(o) : runDemux(o);
  } catch (const UsageError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\nRun with --help for more information.\n", e.what());
    return kExitUsage;
  } catch (const std::exception& e) {
    // FileError above all; the window would show it in a message box.
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", e.what());
    return kExitFailed;
  }
}

}  // namespace
}  // namespace tarnwick::cli

int main(int argc, char** argv) { return tarnwick::cli::run(argc, argv); }
