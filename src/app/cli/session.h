#pragma once
// What tarnwick-cli's commands share: the options of the command line, the
// state a window would hold between two commands (the input, the stream
// lists, the playlist's title), and the steps that Read EVO, Read XPL and
// the choice of streams make for every command.

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/cli/console_report.h"
#include "app/disc_input.h"
#include "app/file_selection.h"
#include "app/run_setup.h"
#include "app/stream_table.h"
#include "engine/run_request.h"
#include "engine/scan_state.h"
#include "playlist/xpl_reader.h"

namespace tarnwick::cli {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // as a shell reports a process that SIGINT ended

struct Options {
  std::string input;
  // demux and mkv: every input named; each runs in turn as `input`.
  std::vector<std::string> inputs;
  std::string progressPrefix;  // "disc 3 of 12: " while several run
  std::string output;
  std::vector<std::string> streamNames;  // --streams as typed
  std::vector<StreamSlot> streams;       // the same, parsed
  bool streamsGiven = false;
  // --langs, --audio-langs, --sub-langs as typed (checked by languageCode)
  std::vector<std::string> langs, audioLangs, subLangs;
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
  bool pgs = false;      // demux --pgs
  std::string pngDir;    // subs --png DIR
  std::string mkvmerge;  // mkv --mkvmerge PATH
  bool keepStreams = false;
  int title = 0;  // --title; 0: the disc's main feature
};

// Raised for a command line that only the read can show to be wrong.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Session {
 public:
  explicit Session(const Options& options);

  ConsoleReport& report() { return report_; }
  ScanState& scan() { return scan_; }
  const StreamTable& streams() const { return streams_; }
  const XplTitle& title() const { return title_; }
  const std::string& baseName() const { return files_.OutputBaseName; }
  // The run as the latest Read EVO set it up: its files, options and
  // output names.
  const RunSetUp& setUp() const { return setUp_; }

  // The input as given: an EVO or VOB file is chosen as a drop chooses it;
  // a disc gives the title's files and playlist (and the folder beside it
  // for the outputs). False for a disc input whose title names no playlist.
  void chooseInput();
  bool discInput() const { return titleRun_.has_value(); }
  const std::optional<TitleRun>& titleRun() const { return titleRun_; }
  // The playlist the run reads: --xpl, else the disc's (a folder's file;
  // an image's is read through the disc).
  const std::string& playlistPath() const { return xplPath_; }
  bool hasPlaylist() const {
    return !xplPath_.empty() || (titleRun_ && titleRun_->title.playlist.found);
  }
  // A disc's title labels the streams: the playlist's tracks of that title.
  void labelByTitle();

  // The EVO chosen as a drop chooses it; the playlist as Read XPL's box
  // takes it (a playlist in a disc's ADV_OBJ folder points the input's
  // folder at the disc's HVDVD_TS folder).
  void chooseEvo(const std::string& path) { tarnwick::chooseEvo(files_, path); }
  void choosePlaylist(const std::string& path) { tarnwick::choosePlaylist(files_, path); }

  // Read EVO and Read XPL; the stream table as each leaves it. A failure is
  // raised; false when the command stopped before it was done.
  bool readEvo();
  bool readPlaylist(XplResult* result = nullptr);

  // --streams: the named entries chosen, no other; a named entry must hold
  // a stream.
  void selectStreams();
  // --langs and the like, after the playlist gave the tracks their
  // languages: video stays, audio and subtitles in those languages are
  // kept. A language the title lacks is a warning while audio remains;
  // a failure when no audio would.
  void selectLanguages();

 private:
  RunChoices runChoices() const;

  const Options& options_;
  ConsoleReport report_;
  ScanState scan_;
  XplAttributeTables tables_;
  FileSelection files_;
  std::string input_, xplPath_;
  std::optional<TitleRun> titleRun_;
  StreamTable streams_;
  RunSetUp setUp_;
  XplTitle title_;
};

// "Stopped before done" as the command line reports it; an interrupt's exit
// status when Ctrl+C (or SIGTERM) stopped it.
int stopped(Session& session);

// --chapters: the chapters of the title that plays the EVO, for a Matroska
// muxer, never over one of the inputs.
int writeChapters(const Session& session, const Options& o, const std::vector<std::string>& inputs);

// Several inputs: each in turn through `command`, with its outputs in a
// folder of its own under -o; a failure is reported and the others go on.
// A line per input at the end; 1 if any failed, 130 after Ctrl+C.
int runEach(const Options& o, int (*command)(const Options&));

// The commands.
int runRead(const Options& o);
int runXpl(const Options& o);
int runDemux(const Options& o);
int runRebuild(const Options& o);
int runSubs(const Options& o);
int runMkv(const Options& o);

// Read EVO, the playlist when given, then --streams: the boxes as a user
// leaves them before pressing Demux or Rebuild. An exit status when there is
// nothing to run.
std::optional<int> chooseStreams(Session& session, const Options& o, const char* verb);
// The chapters once the command is done, so that a failed run leaves none.
int afterCommand(Session& session, const Outcome& outcome, const Options& o);

}  // namespace tarnwick::cli
