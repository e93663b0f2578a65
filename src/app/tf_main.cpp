#include "app/tf_main.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "engine/file_names.h"
#include "engine/file_io.h"
#include "app/settings.h"

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

void TfMain::toggleBox(ControlId box, bool ticked) {
  if (busy_ || !isStreamBox(box) || !window_.enabled(box)) return;
  setBox(box, ticked);
}

void TfMain::setBox(ControlId box, bool ticked) {
  if (window_.checked(box) == ticked) return;
  window_.setChecked(box, ticked);
  cbVideoClick();
}

void TfMain::EVOadj() {
  const std::string path = window_.text(ControlId::eEVOfile);
  window_.setEnabled(ControlId::bCheck, !path.empty());
  files_.EvoFileName = namePart(path);
  files_.OutputBaseName = CutExt(files_.EvoFileName);
  files_.EvoFolder = folderPart(path);
  window_.setText(ControlId::eXPLfile, "VPLST000.XPL");
  const std::string discFolder = std::string("HVDVD_TS") + kSeparator;
  if (files_.EvoFolder.ends_with(discFolder)) {
    files_.XplFolder = files_.EvoFolder.substr(0, files_.EvoFolder.size() - discFolder.size()) + "ADV_OBJ" + kSeparator;
    files_.XplFileName = "VPLST000.XPL";
    window_.setText(ControlId::eXPLfile, files_.XplFolder + files_.XplFileName);
  }
  window_.setEnabled(ControlId::bReadXPL, !files_.XplFileName.empty());
}

void TfMain::XPLadj() {
  const std::string path = window_.text(ControlId::eXPLfile);
  files_.XplFileName = namePart(path);
  files_.XplFolder = folderPart(path);
  window_.setEnabled(ControlId::bReadXPL, !files_.XplFileName.empty());
  const std::string playlistFolder = std::string("ADV_OBJ") + kSeparator;
  if (files_.XplFolder.ends_with(playlistFolder))
    files_.EvoFolder =
        files_.XplFolder.substr(0, files_.XplFolder.size() - playlistFolder.size()) + "HVDVD_TS" + kSeparator;
}

Continuation TfMain::continuationSetUp() {
  Continuation result;
  files_.OutputBaseName = CutExt(files_.EvoFileName);
  if (window_.checked(ControlId::cbContinue)) {
    result.secondPath = getsecond(window_.text(ControlId::eEVOfile));
    result.hasSecond = !result.secondPath.empty();
    if (result.hasSecond) files_.OutputBaseName += "_" + CutExt(namePart(result.secondPath));
  }
  return result;
}

ScanOptions TfMain::scanOptions() const {
  ScanOptions options;
  options.countFrames = window_.checked(ControlId::cbCountFr);
  options.details = window_.checked(ControlId::cbDetails);
  options.fastCheck = window_.checked(ControlId::cbFastCheck);
  options.pgs = window_.checked(ControlId::cbPgs);
  return options;
}

RunInput TfMain::runInput(const Continuation& second) const {
  return {window_.text(ControlId::eEVOfile), second.hasSecond ? second.secondPath : std::string(),
          window_.text(ControlId::eXPLfile)};
}

}  // namespace tarnwick
