// tarnwick-cli: the window's Read EVO, Read XPL, Demux and Rebuild from the command line. Each
// option stands for one control of the window; the commands are the ones the window runs.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/stream_table.h"
#include "playlist/languages.h"
#include "app/cli/session.h"
#include "app/cli/titles_command.h"

#ifdef _WIN32
#include "engine/win32.h"
#include <shellapi.h>
#endif

namespace tarnwick::cli {
namespace {

// The window's edit boxes take five characters; a multi-byte character is one.
std::string checkExtension(const std::string& ext) {
  std::size_t characters = 0;
  for (const char c : ext)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  return characters > 5 ? "at most 5 characters" : "";
}


// Demux and MKV take several inputs, one after the other.
void addWindowOptions(CLI::App& command, Options& o, bool several = false) {
  if (several)
    command
        .add_option("EVO_FILE", o.inputs,
                    "The EVO or VOB file, or a disc folder (its main feature, or --title); several are done in "
                    "turn, each one's outputs in a folder named after it under -o")
        ->required()
        ->type_name("");
  else
    command.add_option("EVO_FILE", o.input, "The EVO or VOB file, or a disc folder (its main feature, or --title)")
        ->required()
        ->type_name("");
  command.add_option("--title", o.title, "With a disc: the title to take, by its number in \"tarnwick-cli titles\"")
      ->type_name("N")
      ->check(CLI::PositiveNumber);
  command.add_option("-o,--output", o.output, "Output folder (default: the input file's folder)")->type_name("DIR");
  command
      .add_option("--streams", o.streamNames,
                  "After the read, keep ticked only these boxes, comma separated: video0,video1,"
                  "audio00..audio15,sub00..sub15 (default: all that the read ticked)")
      ->delimiter(',')
      ->allow_extra_args(false)  // one list per --streams: the inputs that follow are not names
      ->type_name("LIST")
      // Each name parses once, straight to its entry of the stream table.
      ->check(CLI::Validator(
          [&o](std::string& name) {
            const std::optional<StreamSlot> slot = parseEntryName(name);
            if (!slot) return "unknown stream box \"" + name + "\" (video0, video1, audio00..audio15, sub00..sub15)";
            o.streams.push_back(*slot);
            o.streamsGiven = true;
            return std::string();
          },
          ""));
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
  command.add_option("--xpl", o.xpl,
                                        "Read this playlist after the read, so that its track names label the "
                                        "boxes and name the outputs (with a disc: in place of its own)")->type_name("XPL_FILE");
  command.add_option("--chapters", o.chapters, "With --xpl or a disc: write the title's chapters to FILE")
      ->type_name("FILE");
  const CLI::Validator language(
      [](std::string& code) { return languageCode(code).empty() ? "unknown language code \"" + code + "\"" : ""; },
      "");
  const auto addLanguages = [&](const char* name, std::vector<std::string>& target, const char* help) {
    command.add_option(name, target, help)
        ->delimiter(',')
        ->allow_extra_args(false)
        ->type_name("LANGS")
        ->check(language)
        ->excludes("--streams");
  };
  addLanguages("--langs", o.langs,
               "With --xpl or a disc: keep video and the audio and subtitle tracks in these languages, comma "
               "separated "
               "(en or eng, ja or jpn; as the playlist gives them)");
  addLanguages("--audio-langs", o.audioLangs, "As --langs, for the audio tracks");
  addLanguages("--sub-langs", o.subLangs, "As --langs, for the subtitle tracks");
}

int run(int argc, char** argv) {
  CLI::App app("Reads HD DVD EVO and DVD VOB files (MPEG-2 program streams): lists their streams and demuxes "
               "them into elementary-stream files, named after the disc's playlist when it is read, or "
               "rebuilds an EVO with fewer streams.",
               "tarnwick-cli");
  app.set_version_flag("--version", std::string("tarnwick-cli ") + TARNWICK_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 done, 1 a file error (the message is on standard error), 2 bad usage, 130 stopped by "
      "Ctrl+C or SIGTERM (as Cancel stops a run: Demux's outputs as far as they got, no MKV and no "
      "temporary folder).\n"
      "Run \"tarnwick-cli COMMAND --help\" for the options of a command.");

  Options o;
  CLI::App* read = app.add_subcommand("read", "Read EVO: scan the file and print the message log");
  addWindowOptions(*read, o);
  read->add_flag("--json", o.json, "Print a machine-readable report instead of the log");
  CLI::App* demux = app.add_subcommand("demux", "Read EVO, then Demux the ticked streams");
  addWindowOptions(*demux, o, true);
  addPlaylistOptions(*demux, o);
  CLI::App* xpl = app.add_subcommand("xpl", "Read XPL: print the playlist's listing and the tree of the title "
                                            "that plays EVO_FILE");
  xpl->add_option("XPL_FILE", o.xpl, "The playlist (VPLST000.XPL)")->required()->type_name("");
  xpl->add_option("EVO_FILE", o.input, "The EVO whose title is shown, chosen as a drop chooses it")->type_name("");
  xpl->add_flag("--json", o.json, "Print the title, its tracks with their labels and its chapters instead");
  xpl->add_option("--chapters", o.chapters, "Write the title's chapters to FILE")->type_name("FILE");
  demux->add_flag("--pgs", o.pgs,
                  "Write subpicture streams as PGS (.sup files that Matroska muxers and players read) "
                  "instead of SP records");
  CLI::App* rebuild = app.add_subcommand(
      "rebuild", "Read EVO, then Rebuild: a new EVO file (NAME.rebuilt.EVO) with the ticked streams only");
  addWindowOptions(*rebuild, o);
  addPlaylistOptions(*rebuild, o);

  CLI::App* mkv = app.add_subcommand(
      "mkv", "Read EVO, then one Matroska file (DIR/NAME.mkv) of the ticked streams, made by mkvmerge: "
             "subpictures as PGS, LPCM as WAV, with the playlist's track names, languages, title and chapters");
  addWindowOptions(*mkv, o, true);
  addPlaylistOptions(*mkv, o);
  mkv->add_option("--mkvmerge", o.mkvmerge, "The mkvmerge program (default: the one on PATH)")->type_name("PATH");
  mkv->add_flag("--keep-streams", o.keepStreams,
                "Keep the demuxed streams (in DIR/NAME.mkv-streams) instead of removing them");

  CLI::App* titles = app.add_subcommand(
      "titles", "List the titles of a disc: number, name, duration, the files each plays, its audio and "
                "subtitle tracks with their languages, its chapters, and which is the main feature (the "
                "longest title whose files are all on the disc)");
  titles->add_option("DISC", o.input, "The disc: a folder that holds HVDVD_TS and ADV_OBJ (or a DVD's VIDEO_TS)")
      ->required()
      ->type_name("");
  titles->add_flag("--json", o.json, "Print an array of the titles for scripts instead");

#ifdef TARNWICK_HAVE_PNG
  CLI::App* subs = app.add_subcommand("subs", "Write one PNG per caption of a subtitle file (PGS, or SP records), "
                                              "named by its start time");
  subs->add_option("SUP_FILE", o.input, "The .sup file")->required()->type_name("");
  subs->add_option("--png", o.pngDir, "The folder for the pictures")->required()->type_name("DIR");
#endif

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitDone : kExitUsage;
  }

  // The commands whose runs poll for Cancel; the others end on Ctrl+C.
  if (read->parsed() || demux->parsed() || rebuild->parsed() || mkv->parsed()) catchInterrupts();
  try {
    if (read->parsed()) return runRead(o);
    if (xpl->parsed()) return runXpl(o);
    if (titles->parsed()) return runTitles(o);
    if (rebuild->parsed()) return runRebuild(o);
    if (mkv->parsed()) return runEach(o, runMkv);
#ifdef TARNWICK_HAVE_PNG
    if (subs->parsed()) return runSubs(o);
#endif
    return runEach(o, runDemux);
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
