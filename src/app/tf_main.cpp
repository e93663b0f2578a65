#include "app/tf_main.h"

#include <algorithm>
#include <cctype>
#include <exception>

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
    window_.setText(ControlId::eEVOfile, path);
    EVOadj();
  } else if (ext == ".XPL") {
    window_.setText(ControlId::eXPLfile, path);
    XPLadj();
  }
}

// A cancelled dialog leaves the boxes as they were: only a real choice
// replaces the file and resets the lists.
void TfMain::bbEVOClick(const std::string& chosenPath) {
  if (busy_ || chosenPath.empty()) return;
  window_.setText(ControlId::eEVOfile, chosenPath);
  EVOadj();
  Resetcbs();
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
  return choices;
}

RunSetUp TfMain::setUpRun() { return tarnwick::setUpRun(runChoices(), files_); }

OutputNaming TfMain::outputNaming(const std::string& workdir) const {
  RunChoices choices = runChoices();
  return {outputFolder(workdir, files_.EvoFolder), files_.OutputBaseName, choices.videoExt, choices.audioExt,
          choices.subExt};
}

}  // namespace tarnwick
