#include "app/model_window.h"

namespace tarnwick {

ModelWindow::ModelWindow() {
  // The window as it is created, before the settings and the list reset.
  for (ControlId id : {ControlId::bCheck, ControlId::bReadXPL, ControlId::bDemux, ControlId::bRebuild, ControlId::bMkv,
                       ControlId::bCancel})
    setEnabled(id, false);
  setText(ControlId::eVideoExt, "mpv");
  setText(ControlId::eAudioExt, "mpa");
  setText(ControlId::eSubExt, "sup");
  setHint(ControlId::eSubExt, "This is real .sup format, don't change!");
  setHint(ControlId::eWorkdir, "Destination directory for the demuxed streams");
  setCaption(ControlId::cbContinue, "Continue with second  EVO");
  setCaption(ControlId::cbFastCheck, "Fast EVO checking");
  setCaption(ControlId::cbCountFr, "Count frames");
  setCaption(ControlId::cbDetails, "Detailed info");
  setCaption(ControlId::cbPgs, "Subtitles as PGS");
  for (ControlId id : {ControlId::cbContinue, ControlId::cbFastCheck, ControlId::cbCountFr, ControlId::cbDetails})
    setChecked(id, true);
  for (int n = 0; n < 8; ++n) {
    setEnabled(videoBox(n), false);
    setCaption(videoBox(n), "Video stream");
  }
  for (int n = 0; n < 16; ++n) {
    setEnabled(audioBox(n), false);
    setCaption(audioBox(n), "Audio stream");
    setEnabled(subBox(n), false);
    setCaption(subBox(n), "Subpicture");
  }
  panels_ = {" Ready", " Select or drop an EVO file to demux"};
  statusHint_ = " Select or drop an EVO file to demux";
}

void ModelWindow::appendLogLine(const LogLine& line) {
  lines_.push_back(line);
  if (onLogLine) onLogLine(line);
}

std::vector<std::string> ModelWindow::logText() const {
  std::vector<std::string> out;
  out.reserve(lines_.size());
  for (const auto& line : lines_) out.push_back(line.text);
  return out;
}

void ModelWindow::setStatusPanel(int panel, const std::string& shownText) {
  panels_.at(static_cast<std::size_t>(panel)) = shownText;
  if (onStatusPanel) onStatusPanel(panel, shownText);
}

void ModelWindow::processMessages() {
  if (onProcessMessages) onProcessMessages();
}

bool ModelWindow::confirm(const std::string& question) {
  questions_.push_back(question);
  return onConfirm ? onConfirm(question) : false;
}

}  // namespace tarnwick
