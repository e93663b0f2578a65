// tarnwick-cli: the window's Read EVO, Read XPL, Demux and Rebuild from the command line. Each
// option sets one control of the window; the commands are the window's own.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/cli/box_names.h"
#include "app/cli/cli_window.h"
#include "app/cli/json_report.h"
#include "app/file_names.h"
#include "app/tf_main.h"
#include "app/utf8.h"
#include "playlist/chapters.h"
#include "engine/file_io.h"

#ifdef _WIN32
#include "engine/win32.h"
#include <shellapi.h>
#endif

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
  std::string xpl;       // the playlist: xpl's XPL_FILE, demux's --xpl
  std::string chapters;  // --chapters FILE
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

// Demux and Rebuild can name their streams after the disc's playlist.
void addPlaylistOptions(CLI::App& command, Options& o) {
  CLI::Option* xpl = command.add_option("--xpl", o.xpl,
                                        "Read this playlist after the read, so that its track names label the "
                                        "boxes and name the outputs")->type_name("XPL_FILE");
  command.add_option("--chapters", o.chapters, "With --xpl: write the title's chapters to FILE")
      ->type_name("FILE")
      ->needs(xpl);
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

// The playlist as the user would choose it, then Read XPL.
void readPlaylist(TfMain& tf, ConsoleWindow& w, const std::string& path) {
  w.setText(ControlId::eXPLfile, path);
  tf.XPLadj();
  w.forgetDone();
  tf.bReadXPLClick();
}

// The chapters of the title that plays the EVO, for a Matroska muxer. A file
// that cannot be written as asked is an error, so a script notices.
int writeChapters(const TfMain& tf, const Options& o, const std::vector<std::string>& inputs) {
  const XplTitle& title = tf.playlistTitle();
  if (!title.found) {
    std::fprintf(stderr, "No chapters written: no line of the playlist names %s.\n",
                 tf.files().OutputBaseName.empty() ? "an EVO file" : tf.files().OutputBaseName.c_str());
    return kExitFailed;
  }
  const ChapterFile chapters = simpleChapters(title);
  if (chapters.skipped > 0)
    std::fprintf(stderr, "%d chapters left out: their start is not HH:MM:SS:FF.\n", chapters.skipped);
  if (chapters.written == 0) {
    std::fprintf(stderr, "No chapters written: the title has none.\n");
    return kExitFailed;
  }
  for (const std::string& input : inputs)
    if (!input.empty() && sameFile(o.chapters, input))
      throw cannotCreate(o.chapters, "It is an input file of this command");
  OutputFile file(o.chapters);
  file.write(reinterpret_cast<const std::uint8_t*>(chapters.text.data()), chapters.text.size());
  file.close();
  if (!o.json) std::printf("%d chapters written to %s\n", chapters.written, o.chapters.c_str());
  return kExitDone;
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

int runXpl(const Options& o) {
  ConsoleWindow w(processStreams());
  w.setPrintLog(!o.json);
  TfMain tf(w);
  tf.FormActivate();
  // The EVO is chosen as a drop chooses it; the playlist choice comes after,
  // since choosing an EVO offers a playlist of its own.
  if (!o.input.empty()) {
    w.setText(ControlId::eEVOfile, o.input);
    tf.EVOadj();
  }
  readPlaylist(tf, w, o.xpl);
  if (!w.sawDone()) return finished(w);
  if (o.json) {
    std::fputs(jsonPlaylist(o.xpl, o.input, tf.playlistTitle()).c_str(), stdout);
  } else {
    for (const std::string& line : w.playlistMemo()) std::printf("%s\n", validUtf8(line).c_str());
    std::printf("\n");
    for (const TreeNode& node : w.playlistTree()) {
      std::printf("%s\n", validUtf8(node.text).c_str());
      for (const std::string& child : node.children) std::printf("  %s\n", validUtf8(child).c_str());
    }
  }
  std::fflush(stdout);
  return o.chapters.empty() ? kExitDone : writeChapters(tf, o, {o.xpl, o.input});
}

// Read EVO, then Read XPL when a playlist is given, then --streams: the boxes
// as the user leaves them before pressing `command`. An exit status when
// the command cannot run: the window offers it only with a stream ticked,
// and --streams names found streams only, so the read (or the playlist,
// which resets the lists before it labels them) left none.
std::optional<int> chooseStreams(TfMain& tf, ConsoleWindow& w, const Options& o, ControlId command,
                                 const char* verb) {
  readEvo(tf, w, o);
  if (!w.sawDone()) return finished(w);
  if (!o.xpl.empty()) {
    readPlaylist(tf, w, o.xpl);
    if (!w.sawDone()) return finished(w);
  }
  selectStreams(tf, w, o);
  if (w.enabled(command)) return std::nullopt;
  w.endProgress();
  std::fprintf(stderr, "Nothing to %s: %s\n", verb,
               o.xpl.empty() ? "the read found no stream." : "the playlist lists no track of this EVO.");
  return kExitFailed;
}

// Chapters are written once the command is done, so a failed run leaves none.
int afterCommand(ConsoleWindow& w, const TfMain& tf, const Options& o) {
  const int status = finished(w);
  if (status != kExitDone || o.chapters.empty()) return status;
  std::fflush(stdout);
  return writeChapters(tf, o, {o.input, o.xpl, getsecond(o.input)});
}

int runDemux(const Options& o) {
  ConsoleWindow w(processStreams());
  TfMain tf(w);
  if (const std::optional<int> status = chooseStreams(tf, w, o, ControlId::bDemux, "demux")) return *status;
  w.forgetDone();
  tf.bDemuxClick();
  return afterCommand(w, tf, o);
}

// The window offers Rebuild only for an ".EVO" input.
int runRebuild(const Options& o) {
  std::string ext = extensionOf(o.input);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
  if (ext != ".EVO") throw UsageError("rebuild: the input must be an .EVO file: " + o.input);
  ConsoleWindow w(processStreams());
  TfMain tf(w);
  if (const std::optional<int> status = chooseStreams(tf, w, o, ControlId::bRebuild, "rebuild")) return *status;
  w.forgetDone();
  tf.bRebuildClick();
  return afterCommand(w, tf, o);
}

int run(int argc, char** argv) {
  CLI::App app("Reads HD DVD EVO and DVD VOB files (MPEG-2 program streams): lists their streams and demuxes "
               "them into elementary-stream files, named after the disc's playlist when it is read, or "
               "rebuilds an EVO with fewer streams.",
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
  addPlaylistOptions(*demux, o);
  CLI::App* xpl = app.add_subcommand("xpl", "Read XPL: print the playlist's listing and the tree of the title "
                                            "that plays EVO_FILE");
  xpl->add_option("XPL_FILE", o.xpl, "The playlist (VPLST000.XPL)")->required()->type_name("");
  xpl->add_option("EVO_FILE", o.input, "The EVO whose title is shown, chosen as a drop chooses it")->type_name("");
  xpl->add_flag("--json", o.json, "Print the title, its tracks with their labels and its chapters instead");
  xpl->add_option("--chapters", o.chapters, "Write the title's chapters to FILE")->type_name("FILE");
  CLI::App* rebuild = app.add_subcommand(
      "rebuild", "Read EVO, then Rebuild: a new EVO file (NAME.rebuilt.EVO) with the ticked streams only");
  addWindowOptions(*rebuild, o);
  addPlaylistOptions(*rebuild, o);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitDone : kExitUsage;
  }

  try {
    if (read->parsed()) return runRead(o);
    if (xpl->parsed()) return runXpl(o);
    if (rebuild->parsed()) return runRebuild(o);
    return runDemux(o);
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

#ifdef _WIN32
// The arguments as Windows keeps them, in UTF-16, passed on as the UTF-8 that
// the program's paths are; the console shows the UTF-8 log as such.
int main() {
  int argc = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (wide == nullptr) return tarnwick::cli::kExitFailed;
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
    args.push_back(std::move(arg));
  }
  ::LocalFree(wide);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // The console keeps its code page after the program: give it back.
  const UINT codePage = ::GetConsoleOutputCP();
  ::SetConsoleOutputCP(CP_UTF8);
  const int status = tarnwick::cli::run(argc, argv.data());
  std::fflush(stdout);
  std::fflush(stderr);
  if (codePage != 0) ::SetConsoleOutputCP(codePage);
  return status;
}
#else
int main(int argc, char** argv) { return tarnwick::cli::run(argc, argv); }
#endif
