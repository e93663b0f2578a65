#pragma once
// TfMain: the command hub. It owns the shared state and holds the handlers
// that both front ends call; it reaches the window only through Window.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/disc_input.h"
#include "app/file_selection.h"
#include "app/run_setup.h"
#include "app/stream_table.h"
#include "app/window.h"
#include "app/window_report.h"
#include "engine/run_request.h"
#include "engine/scan_state.h"
#include "playlist/xpl_reader.h"

namespace tarnwick {

class SettingsHost;

class TfMain {
 public:
  explicit TfMain(Window& window);

  Window& window() { return window_; }
  ScanState& scan() { return scan_; }
  const ScanState& scan() const { return scan_; }
  // What the latest Read XPL found of the title that plays the EVO.
  const XplTitle& playlistTitle() const { return playlistTitle_; }
  // The streams the reads found and the user's choice among them; the
  // stream boxes show it.
  const StreamTable& streams() const { return streams_; }
  FileSelection& files() { return files_; }
  const FileSelection& files() const { return files_; }
  // A command is running: other commands, file choices and the stream
  // boxes are refused until it ends.
  bool busy() const { return busy_; }
  // Cancel was confirmed during the running (or the last) command: what the
  // commands' report tells their loops.
  bool cancelRequested() { return report_.cancelRequested(); }

  // Where the settings are kept; without a host (the CLI) none are.
  void setSettingsHost(SettingsHost* host) { settings_ = host; }

  // Window events.
  void FormActivate();
  // Saves the settings, once.
  void FormClose();
  // Asked before the window closes. While a command runs the question is
  // Cancel's: after a stop request the window closes when the command ends.
  enum class CloseAnswer { Close, AfterRun, Stay };
  CloseAnswer FormCloseQuery();
  void WMDropFiles(const std::vector<std::string>& paths);
  void bbEVOClick(const std::string& chosenPath);  // the dialog's answer
  void bbXPLClick(const std::string& chosenPath);
  // The title chooser: the user picks title `index` of the disc's list.
  void chooseTitle(int index);
  void bCancelClick();
  void bClearClick();
  // The user ticks or unticks a stream box.
  void toggleBox(ControlId box, bool ticked);

  // Commands.
  void bCheckClick();
  void bDemuxClick();
  void bReadXPLClick();
  void bRebuildClick();
  void bMkvClick();

  // File selection.
  void EVOadj();
  void XPLadj();

  // Stream lists.
  void Resetcbs();
  void Fillcbs();
  void cbVideoClick();

  // The disc opened by a drop or the browse button, its titles in the
  // chooser's order; none after an EVO file is chosen.
  const std::vector<Title>& titles() const { return titles_; }
  // The title the commands run on, when a disc is open.
  const std::optional<TitleRun>& titleRun() const { return titleRun_; }

  // The output file of a stream box, from the output folder text.
  std::string outputFileName(ControlId box, const std::string& workdir) const;

 private:
  class BusyScope;
  // What a Demux or Rebuild run locks: the other commands, the browse
  // buttons and every stream box.
  static std::vector<ControlId> runGuard();
  // Demux, Rebuild and MKV alike: locked as runGuard() says, their buttons off
  // and the Status page shown while `command` runs; the buttons come back
  // when it is done, a failure is raised.
  void writingRun(const std::function<Outcome(RunReport&)>& command);
  // The files, options and output folder as the controls hold them when a
  // command starts, set up for the run.
  RunChoices runChoices() const;
  RunSetUp setUpRun();
  OutputNaming outputNaming(const std::string& workdir) const;
  // The stream boxes drawn from the table.
  void showStreams();
  // A disc dropped or chosen: its titles listed, the main feature chosen.
  void openDiscInput(const std::string& path);
  // An EVO file chosen: the title chooser goes.
  void forgetDisc();
  // The disc's own playlist is what the XPL box names.
  bool discPlaylistShown() const;

  Window& window_;
  ScanState scan_;
  FileSelection files_;
  StreamTable streams_;
  XplAttributeTables xplTables_;
  XplTitle playlistTitle_;
  std::string discPath_;
  std::vector<Title> titles_;
  std::optional<TitleRun> titleRun_;
  // The XPL box's text when the title was chosen: the disc's own playlist.
  std::string discXpl_;
  // What the commands report through, to the window; it keeps Cancel.
  WindowReport report_;
  bool busy_ = false;
  bool activated_ = false;
  bool closed_ = false;
  SettingsHost* settings_ = nullptr;
};

}  // namespace tarnwick
