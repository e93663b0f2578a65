#include "app/tf_main.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "app/settings.h"
#include "app/stream_lists.h"
#include "engine/file_io.h"
#include "engine/file_names.h"

namespace tarnwick {

TfMain::TfMain(Window& window) : window_(window), report_(window) {}

// Settings and the list reset happen once, at start: the window taking the
// focus back from a confirmation must not undo choices in the middle of a run.
// A value of the wrong kind is reported after the lists are reset, so the
// window is still usable.
void TfMain::FormActivate() {
  if (activated_) return;
  activated_ = true;
  std::exception_ptr error;
  if (settings_ != nullptr) {
    Placement placement = settings_->placement();
    try {
      RegRead(settings_->store(), window_, files_, placement);
    } catch (const SettingsError&) {
      error = std::current_exception();
    }
    settings_->setPlacement(placement);
  }
  Resetcbs();
  if (error) std::rethrow_exception(error);
}

void TfMain::FormClose() {
  if (closed_ || settings_ == nullptr) return;
  closed_ = true;
  RegWrite(settings_->store(), window_, files_, settings_->placement(), localDateTimeNow());
}

TfMain::CloseAnswer TfMain::FormCloseQuery() {
  if (!busy_) return CloseAnswer::Close;
  bCancelClick();
  return report_.cancelRequested() ? CloseAnswer::AfterRun : CloseAnswer::Stay;
}

void TfMain::WMDropFiles(const std::vector<std::string>& paths) {
  if (busy_ || paths.empty()) return;
  const std::string& path = paths.front();
  std::string ext = extensionOf(path);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
  if (ext == ".EVO" || ext == ".VOB") {
    forgetDisc();
    window_.setText(ControlId::eEVOfile, path);
    EVOadj();
  } else if (ext == ".XPL") {
    window_.setText(ControlId::eXPLfile, path);
    XPLadj();
  } else if (isDiscInput(path)) {
    openDiscInput(path);
  }
}

// A cancelled dialog leaves the boxes as they were: only a real choice
// replaces the file and resets the lists.
void TfMain::bbEVOClick(const std::string& chosenPath) {
  if (busy_ || chosenPath.empty()) return;
  std::string ext = extensionOf(chosenPath);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
  if (ext != ".EVO" && ext != ".VOB" && isDiscInput(chosenPath)) {
    openDiscInput(chosenPath);
    return;
  }
  forgetDisc();
  window_.setText(ControlId::eEVOfile, chosenPath);
  EVOadj();
  Resetcbs();
}

namespace {

// "1  The Sample Feature  0:00:04  (main feature)"
std::string titleItem(const Title& title) {
  std::string item = std::to_string(title.number) + "  ";
  item += title.name.empty() ? "Title " + std::to_string(title.number) : title.name;
  if (title.durationMs) {
    const long long s = *title.durationMs / 1000;
    char duration[32];
    std::snprintf(duration, sizeof duration, "  %lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    item += duration;
  }
  if (title.main) item += "  (main feature)";
  if (!title.playable()) item += "  (files missing)";
  return item;
}

std::vector<std::string> titleItems(const std::vector<Title>& titles) {
  std::vector<std::string> items;
  for (const Title& t : titles) items.push_back(titleItem(t));
  return items;
}

}  // namespace

// The disc is read once for its list; a title's files are looked up again
// when it is chosen, so that a title whose files are missing says so then.
void TfMain::openDiscInput(const std::string& path) {
  std::vector<Title> titles = discTitles(*openDisc(path));
  discPath_ = path;
  titles_ = std::move(titles);
  std::filesystem::path location(path);
  while (!location.empty() && location.filename().empty()) location = location.parent_path();
  files_.DiscFolder = location.parent_path().string();
  if (!files_.DiscFolder.empty() && !endsWithSeparator(files_.DiscFolder)) files_.DiscFolder += kSeparator;
  int chosen = 0;
  for (std::size_t k = 0; k < titles_.size(); ++k)
    if (titles_[k].main) chosen = static_cast<int>(k);
  window_.setTitles(titleItems(titles_), chosen);
  chooseTitle(chosen);
}

void TfMain::forgetDisc() {
  if (discPath_.empty()) return;
  discPath_.clear();
  titles_.clear();
  titleRun_.reset();
  discXpl_.clear();
  window_.setTitles({}, -1);
}

// Another title is as another EVO: its files in the boxes, the lists reset.
// One that cannot be played leaves no file to read and says why.
void TfMain::chooseTitle(int index) {
  if (busy_ || index < 0 || index >= static_cast<int>(titles_.size())) return;
  window_.setTitles(titleItems(titles_), index);
  titleRun_.reset();
  discXpl_.clear();
  playlistTitle_ = XplTitle();
  Resetcbs();
  try {
    titleRun_ = tarnwick::titleRun(discPath_, titles_[static_cast<std::size_t>(index)].number);
  } catch (...) {
    window_.setText(ControlId::eEVOfile, "");
    EVOadj();
    window_.setEnabled(ControlId::bReadXPL, false);
    throw;
  }
  window_.setText(ControlId::eEVOfile, titleRun_->evoPath);
  EVOadj();
  if (!titleRun_->playlistPath.empty()) {
    window_.setText(ControlId::eXPLfile, titleRun_->playlistPath);
    XPLadj();
  }
  if (!titleRun_->title.playlist.found) {
    files_.XplFileName.clear();
    window_.setEnabled(ControlId::bReadXPL, false);
  }
  discXpl_ = window_.text(ControlId::eXPLfile);
  Resetcbs();
}

bool TfMain::discPlaylistShown() const {
  return titleRun_ && titleRun_->title.playlist.found && window_.text(ControlId::eXPLfile) == discXpl_;
}

void TfMain::bbXPLClick(const std::string& chosenPath) {
  if (busy_ || chosenPath.empty()) return;
  window_.setText(ControlId::eXPLfile, chosenPath);
  XPLadj();
}

void TfMain::bCancelClick() {
  if (scan_.ExtractionRunning && !window_.confirm("Are you sure to stop demuxing?")) return;
  // The running loop sees the request at its next progress point.
  report_.requestCancel();
}

void TfMain::bClearClick() { window_.clearLog(); }

// Only a box that holds a stream can be ticked; the box shows the table.
void TfMain::toggleBox(ControlId box, bool ticked) {
  if (busy_ || !isStreamBox(box)) return;
  const StreamSlot s = boxSlot(box);
  if (!isOutputSlot(s) || streams_[s].chosen == ticked || !streams_.choose(s, ticked)) return;
  window_.setChecked(box, ticked);
  cbVideoClick();
}

void TfMain::EVOadj() {
  const std::string path = window_.text(ControlId::eEVOfile);
  window_.setEnabled(ControlId::bCheck, !path.empty());
  const bool onDisc = chooseEvo(files_, path);
  window_.setText(ControlId::eXPLfile, onDisc ? files_.XplFolder + files_.XplFileName : "VPLST000.XPL");
  window_.setEnabled(ControlId::bReadXPL, !files_.XplFileName.empty());
}

void TfMain::XPLadj() {
  choosePlaylist(files_, window_.text(ControlId::eXPLfile));
  window_.setEnabled(ControlId::bReadXPL, !files_.XplFileName.empty());
}

RunChoices TfMain::runChoices() const {
  RunChoices choices;
  choices.evoPath = window_.text(ControlId::eEVOfile);
  choices.xplPath = window_.text(ControlId::eXPLfile);
  choices.goOn = window_.checked(ControlId::cbContinue);
  choices.workdir = window_.text(ControlId::eWorkdir);
  choices.options.countFrames = window_.checked(ControlId::cbCountFr);
  choices.options.details = window_.checked(ControlId::cbDetails);
  choices.options.fastCheck = window_.checked(ControlId::cbFastCheck);
  choices.options.pgs = window_.checked(ControlId::cbPgs);
  choices.videoExt = window_.text(ControlId::eVideoExt);
  choices.audioExt = window_.text(ControlId::eAudioExt);
  choices.subExt = window_.text(ControlId::eSubExt);
  // A title plays its own files, read where they lie; its outputs go beside
  // the disc. A playlist dropped after the disc replaces the disc's own.
  if (titleRun_) {
    takeTitle(choices, *titleRun_);
    if (discPlaylistShown()) choices.xplPath = titleRun_->playlistPath;
  }
  return choices;
}

RunSetUp TfMain::setUpRun() { return tarnwick::setUpRun(runChoices(), files_); }

OutputNaming TfMain::outputNaming(const std::string& workdir) const {
  RunChoices choices = runChoices();
  const std::string folder = workdir.empty() && titleRun_ ? titleRun_->besideDisc : workdir;
  return {outputFolder(folder, files_.EvoFolder), files_.OutputBaseName, choices.videoExt, choices.audioExt,
          choices.subExt};
}

}  // namespace tarnwick
