#pragma once
// The window operations that the commands need. The Qt window implements them
// with widgets; the tests and the fuzz targets use ModelWindow, an in-memory
// model. The CLI drives the commands without a window.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "analysers/log_sink.h"
#include "engine/message_log.h"
#include "engine/run_report.h"
#include "engine/stream_ids.h"
#include "playlist/xpl_reader.h"

namespace tarnwick {

// Every control the logic reads or sets. The stream boxes are contiguous so
// that "box k of a list" is simple arithmetic.
enum class ControlId : int {
  eEVOfile,
  eXPLfile,
  eWorkdir,
  eVideoExt,
  eAudioExt,
  eSubExt,
  bbEVO,
  bCheck,
  bbXPL,
  bReadXPL,
  bDemux,
  bRebuild,
  bCancel,
  bClear,
  cbContinue,
  cbFastCheck,
  cbCountFr,
  cbDetails,
  cbPgs,
  bMkv,
  eMkvmerge,
  cbVideo0,
  cbAudio00 = cbVideo0 + 8,
  cbSub00 = cbAudio00 + 16,
  kCount = cbSub00 + 16,
};

constexpr int kControlCount = static_cast<int>(ControlId::kCount);

constexpr ControlId videoBox(int n) { return static_cast<ControlId>(static_cast<int>(ControlId::cbVideo0) + n); }
constexpr ControlId audioBox(int n) { return static_cast<ControlId>(static_cast<int>(ControlId::cbAudio00) + n); }
constexpr ControlId subBox(int n) { return static_cast<ControlId>(static_cast<int>(ControlId::cbSub00) + n); }
constexpr bool isStreamBox(ControlId id) {
  return static_cast<int>(id) >= static_cast<int>(ControlId::cbVideo0) &&
         static_cast<int>(id) < static_cast<int>(ControlId::kCount);
}

// Which list a stream box belongs to and its number in that list, and the
// box of a stream.
constexpr StreamSlot boxSlot(ControlId box) {
  const int id = static_cast<int>(box);
  if (id < static_cast<int>(ControlId::cbAudio00)) return {StreamClass::Video, id - static_cast<int>(ControlId::cbVideo0)};
  if (id < static_cast<int>(ControlId::cbSub00)) return {StreamClass::Audio, id - static_cast<int>(ControlId::cbAudio00)};
  return {StreamClass::Subpicture, id - static_cast<int>(ControlId::cbSub00)};
}
constexpr ControlId streamBox(StreamSlot s) {
  switch (s.streamClass) {
    case StreamClass::Video: return videoBox(s.slot);
    case StreamClass::Audio: return audioBox(s.slot);
    default: return subBox(s.slot);
  }
}

// The playlist tree as a window shows it before any Read XPL.
std::vector<TreeNode> initialPlaylistTree();

// The 34 boxes that own an output file (cbVideo0, cbVideo1, the audio and
// subpicture boxes), in the order the outputs are created.
const std::array<ControlId, 34>& outputBoxes();

// The control's name as the window knows it ("cbAudio03", "bDemux").
std::string controlName(ControlId id);

class Window : public LogSink {
 public:
  virtual ~Window() = default;

  virtual std::string text(ControlId id) const = 0;
  virtual void setText(ControlId id, std::string value) = 0;
  virtual bool checked(ControlId id) const = 0;
  virtual void setChecked(ControlId id, bool value) = 0;
  virtual bool enabled(ControlId id) const = 0;
  virtual void setEnabled(ControlId id, bool value) = 0;
  virtual std::string caption(ControlId id) const = 0;
  virtual void setCaption(ControlId id, std::string value) = 0;
  virtual std::string hint(ControlId id) const = 0;
  virtual void setHint(ControlId id, std::string value) = 0;

  // Page of the page control: 0 Status (the log) … 5 Options.
  virtual void showPage(int index) = 0;

  // Rendering of the log and status bar; the text logic lives in log()/slog().
  virtual void appendLogLine(const LogLine& line) = 0;
  virtual void clearLog() = 0;
  virtual void setStatusPanel(int panel, const std::string& shownText) = 0;
  virtual void setStatusHint(const std::string& hint) = 0;
  // A long loop's progress: panel 1 shows its text, as slog() would; a
  // window with a progress bar draws text and bar from `p` alike.
  virtual void showProgress(const RunProgress& p) { slog(progressText(p), 1); }

  // Let pending input through (where a Cancel click is seen) and repaint.
  virtual void processMessages() = 0;
  virtual void repaint() = 0;
  // A Yes/No question, No being the default.
  virtual bool confirm(const std::string& question) = 0;

  // The playlist view: the tree tvXPL and the memo mXPL. Texts are the
  // playlist's bytes as read; a front end that shows them decodes UTF-8.
  virtual void setPlaylistTree(const std::vector<TreeNode>& roots) = 0;
  virtual void setPlaylistMemo(const std::vector<std::string>& lines) = 0;
  // The memo is hidden while a command fills it and shown once at the end.
  virtual void setMemoVisible(bool visible) = 0;

  // The title chooser above the pages: one item per title of the disc that
  // was opened, `chosen` selected; no items hide it (an EVO file was
  // chosen). A window without one shows nothing.
  virtual void setTitles(const std::vector<std::string>& items, int chosen) {
    (void)items;
    (void)chosen;
  }

  // Append one line: "[b]" … "[/b]" mark the bold run.
  void log(std::string_view message) final { appendLogLine(parseLogMessage(message)); }
  // Set status panel 0 (state) or 1 (detail and progress).
  void slog(std::string_view text, int panel);
};

}  // namespace tarnwick
