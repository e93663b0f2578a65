#include "app/cli/session.h"

#include <algorithm>
#include <cstdio>

#include "app/cli/box_names.h"
#include "app/stream_lists.h"
#include "engine/demux_run.h"
#include "engine/file_io.h"
#include "engine/file_names.h"
#include "playlist/chapters.h"

namespace tarnwick::cli {

Session::Session(const Options& options) : options_(options), report_(processStreams()) {
  report_.setPrintLog(!options.json);
  resetBoxes();
}

void Session::resetBoxes() {
  for (int k = 0; k < kOutputCount; ++k) boxes_[static_cast<std::size_t>(k)] = {false, false, emptyCaption(outputSlot(k).streamClass)};
}

void Session::chooseEvo(const std::string& path) {
  evoFolder_ = folderPart(path);
  baseName_ = CutExt(namePart(path));
}

void Session::choosePlaylist(const std::string& path) {
  xplFileName_ = namePart(path);
  const std::string xplFolder = folderPart(path);
  const std::string playlistFolder = std::string("ADV_OBJ") + kSeparator;
  if (xplFolder.ends_with(playlistFolder))
    evoFolder_ = xplFolder.substr(0, xplFolder.size() - playlistFolder.size()) + "HVDVD_TS" + kSeparator;
}

void Session::continuationSetUp() {
  baseName_ = CutExt(namePart(options_.input));
  secondPath_ = options_.noContinue ? std::string() : getsecond(options_.input);
  if (!secondPath_.empty()) baseName_ += "_" + CutExt(namePart(secondPath_));
}

bool Session::readEvo() {
  continuationSetUp();
  const Outcome outcome = tarnwick::readEvo(scan_, runInput(), scanOptions(), report_);
  outcome.rethrowFailure();
  for (int k = 0; k < kOutputCount; ++k) {
    const StreamSlot s = outputSlot(k);
    StreamBox& box = boxes_[static_cast<std::size_t>(k)];
    box.enabled = box.ticked = scan_.slot(s).id >= 0;
    if (box.enabled) box.caption = foundCaption(scan_, s);
  }
  return outcome.isDone();
}

bool Session::readPlaylist(XplResult* resultOut) {
  XplRequest request;
  request.path = options_.xpl;
  request.xplFileName = xplFileName_;
  request.baseName = baseName_;
  request.firstBaseName = CutExt(namePart(options_.input));
  resetBoxes();
  title_ = XplTitle();
  XplResult result = readXpl(request, scan_, tables_, report_);
  result.outcome.rethrowFailure();
  for (const XplTrack& track : result.title.tracks)
    if (const std::optional<StreamSlot> slot = trackSlot(track))
      boxes_[static_cast<std::size_t>(outputIndex(*slot))] = {true, true, track.label};
  title_ = result.title;
  if (resultOut != nullptr) *resultOut = std::move(result);
  return true;
}

void Session::selectStreams() {
  if (!options_.streamsGiven) return;
  std::vector<int> chosen;
  for (const std::string& name : options_.streams) {
    const int k = outputIndex(boxSlot(*parseBoxName(name)));
    if (!boxes_[static_cast<std::size_t>(k)].enabled)
      throw UsageError("--streams: the read found no stream for box " + name);
    chosen.push_back(k);
  }
  for (int k = 0; k < kOutputCount; ++k) {
    StreamBox& box = boxes_[static_cast<std::size_t>(k)];
    if (box.enabled) box.ticked = std::find(chosen.begin(), chosen.end(), k) != chosen.end();
  }
}

bool Session::anyTicked() const {
  return std::any_of(boxes_.begin(), boxes_.end(), [](const StreamBox& box) { return box.ticked; });
}

ScanOptions Session::scanOptions() const {
  ScanOptions options;
  options.countFrames = !options_.noCountFrames;
  options.details = !options_.noDetails;
  options.fastCheck = !options_.noFastCheck;
  options.pgs = options_.pgs;
  return options;
}

std::string Session::outputFolder() const { return tarnwick::outputFolder(options_.output, evoFolder_); }

StreamSelection Session::selection(bool withOutputNames) const {
  StreamSelection selection;
  const std::string folder = outputFolder();
  for (int k = 0; k < kOutputCount; ++k) {
    const StreamBox& box = boxes_[static_cast<std::size_t>(k)];
    if (!box.ticked) continue;
    const StreamClass c = outputSlot(k).streamClass;
    const std::string& ext = c == StreamClass::Video   ? options_.videoExt
                             : c == StreamClass::Audio ? options_.audioExt
                                                       : options_.subExt;
    selection.choose(outputSlot(k), withOutputNames ? demuxFileName(folder, baseName_, box.caption, ext) : "");
  }
  return selection;
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
  session.chooseEvo(o.input);
  if (!session.readEvo()) return stopped(session);
  if (!o.xpl.empty()) {
    session.choosePlaylist(o.xpl);
    session.readPlaylist();
  }
  session.selectStreams();
  if (session.anyTicked()) return std::nullopt;
  session.report().endProgress();
  std::fprintf(stderr, "Nothing to %s: %s\n", verb,
               o.xpl.empty() ? "the read found no stream." : "the playlist lists no track of this EVO.");
  return kExitFailed;
}

int afterCommand(Session& session, const Outcome& outcome, const Options& o) {
  outcome.rethrowFailure();
  if (!outcome.isDone()) return stopped(session);
  if (o.chapters.empty()) return kExitDone;
  std::fflush(stdout);
  return writeChapters(session, o, {o.input, o.xpl, getsecond(o.input)});
}

}  // namespace tarnwick::cli
