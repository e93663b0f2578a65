#include "app/cli/session.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "engine/demux_run.h"
#include "engine/file_io.h"
#include "engine/file_names.h"
#include "playlist/chapters.h"
#include "playlist/languages.h"

namespace tarnwick::cli {

Session::Session(const Options& options)
    : options_(options), report_(processStreams()), input_(options.input), xplPath_(options.xpl) {
  report_.setPrintLog(!options.json);
  report_.setProgressPrefix(options.progressPrefix);
}

RunChoices Session::runChoices() const {
  RunChoices choices;
  choices.evoPath = input_;
  choices.xplPath = xplPath_;
  choices.goOn = !options_.noContinue;
  choices.workdir = options_.output;
  if (titleRun_) takeTitle(choices, *titleRun_);
  choices.options.countFrames = !options_.noCountFrames;
  choices.options.details = !options_.noDetails;
  choices.options.fastCheck = !options_.noFastCheck;
  choices.options.pgs = options_.pgs;
  choices.videoExt = options_.videoExt;
  choices.audioExt = options_.audioExt;
  choices.subExt = options_.subExt;
  return choices;
}

bool Session::readEvo() {
  setUp_ = setUpRun(runChoices(), files_);
  const Outcome outcome = tarnwick::readEvo(scan_, setUp_.input, setUp_.options, report_);
  outcome.rethrowFailure();
  streams_.fillFromScan(scan_);
  return outcome.isDone();
}

void Session::chooseInput() {
  if (isDiscInput(options_.input)) {
    if (options_.noContinue) throw UsageError("--no-continue: a disc's title plays all its files");
    std::error_code error;
    if (options_.output.empty() && std::filesystem::is_block_file(options_.input, error))
      throw UsageError("-o: a disc read from a device needs a folder for the outputs");
    titleRun_ = tarnwick::titleRun(options_.input, options_.title);
    input_ = titleRun_->evoPath;
    if (xplPath_.empty()) xplPath_ = titleRun_->playlistPath;
    const Title& title = titleRun_->title;
    std::string files;
    for (const TitleClip& clip : title.clips) files += (files.empty() ? "" : ", ") + clip.path;
    report_.log("Title " + std::to_string(title.number) + ": " + title.name + " (" + files + ")");
  } else if (options_.title != 0) {
    throw UsageError("--title: \"" + options_.input + "\" is a file, not a disc");
  }
  chooseEvo(input_);
}

void Session::labelByTitle() {
  streams_.reset();
  title_ = titleRun_->title.playlist;
  streams_.fillFromPlaylist(title_);
}

bool Session::readPlaylist(XplResult* resultOut) {
  const XplRequest request = playlistRequest(files_, xplPath_, titleRun_ ? &*titleRun_ : nullptr);
  streams_.reset();
  title_ = XplTitle();
  XplResult result = readXpl(request, scan_, tables_, report_);
  result.outcome.rethrowFailure();
  streams_.fillFromPlaylist(result.title);
  title_ = result.title;
  if (resultOut != nullptr) *resultOut = std::move(result);
  return true;
}

void Session::selectStreams() {
  if (!options_.streamsGiven) return;
  for (const StreamSlot slot : options_.streams)
    if (!streams_[slot].found) throw UsageError("--streams: the read found no stream for box " + entryName(slot));
  streams_.chooseOnly(options_.streams);
}

namespace {

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

}  // namespace

void Session::selectLanguages() {
  struct Kind {
    StreamClass streamClass;
    const std::vector<std::string>& typed;
    const char* word;
  };
  const Kind kinds[] = {
      {StreamClass::Audio, options_.audioLangs.empty() ? options_.langs : options_.audioLangs, "audio"},
      {StreamClass::Subpicture, options_.subLangs.empty() ? options_.langs : options_.subLangs, "subtitle"},
  };
  for (const Kind& kind : kinds) {
    if (kind.typed.empty()) continue;
    const std::vector<std::string> present = streams_.languages(kind.streamClass);
    std::vector<std::string> codes, missing;
    for (const std::string& typed : kind.typed) {
      codes.push_back(languageCode(typed));
      if (std::find(present.begin(), present.end(), codes.back()) == present.end()) missing.push_back(typed);
    }
    streams_.chooseLanguages(kind.streamClass, codes);
    const std::string has = present.empty() ? std::string("none") : joined(present);
    if (kind.streamClass == StreamClass::Audio && !streams_.anyChosen(StreamClass::Audio))
      throw std::runtime_error("No audio track in " + joined(missing) + ": the title's audio tracks are in " + has +
                               ".");
    if (!missing.empty()) {
      report_.endProgress();
      std::fprintf(stderr, "Warning: no %s track in %s (the title's are in %s).\n", kind.word,
                   joined(missing).c_str(), has.c_str());
    }
  }
}

int stopped(Session& session) {
  session.report().endProgress();
  std::fprintf(stderr, "The command stopped before it was done.\n");
  return interrupted() ? kExitInterrupted : kExitFailed;
}

// A file that cannot be written as asked is an error, so a script notices.
int writeChapters(const Session& session, const Options& o, const std::vector<std::string>& inputs) {
  const XplTitle& title = session.title();
  if (!title.found) {
    std::fprintf(stderr, "No chapters written: no line of the playlist names %s.\n",
                 session.baseName().empty() ? "an EVO file" : session.baseName().c_str());
    return kExitFailed;
  }
  const ChapterFile chapters = simpleChapters(title);
  for (const std::string& note : chapterNotes(chapters)) std::fprintf(stderr, "%s\n", note.c_str());
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

std::optional<int> chooseStreams(Session& session, const Options& o, const char* verb) {
  session.chooseInput();
  if (!session.hasPlaylist()) {
    // Checked before the read, so that nothing runs for a command it cannot finish.
    if (!o.chapters.empty()) throw UsageError("--chapters: the chapters come from a playlist: give --xpl or a disc");
    if (!o.langs.empty() || !o.audioLangs.empty() || !o.subLangs.empty())
      throw UsageError("--langs: the languages come from a playlist: give --xpl or a disc");
  }
  if (!session.readEvo()) return stopped(session);
  // A disc's own playlist names the tracks of the title chosen; --xpl, as
  // for an EVO file, those of the title that plays the first file.
  if (session.discInput() && o.xpl.empty() && session.titleRun()->title.playlist.found) {
    session.labelByTitle();
  } else if (!session.playlistPath().empty()) {
    session.choosePlaylist(session.playlistPath());
    session.readPlaylist();
  }
  session.selectStreams();
  session.selectLanguages();
  if (session.streams().anyChosen()) return std::nullopt;
  session.report().endProgress();
  std::fprintf(stderr, "Nothing to %s: %s\n", verb,
               session.hasPlaylist() ? "the playlist lists no track of this EVO." : "the read found no stream.");
  return kExitFailed;
}

int afterCommand(Session& session, const Outcome& outcome, const Options& o) {
  outcome.rethrowFailure();
  if (!outcome.isDone()) return stopped(session);
  if (o.chapters.empty()) return kExitDone;
  std::fflush(stdout);
  const RunInput& input = session.setUp().input;
  return writeChapters(session, o, {input.path, input.playlistPath, input.secondPath, getsecond(input.path)});
}

}  // namespace tarnwick::cli
