#pragma once
// The window fMain: the controls at their design places with their anchors,
// the pages, the dialogs, drag and drop, the log and the status bar. It
// implements Window for TfMain and turns every user action into a TfMain
// call; what happens then is TfMain's business.

#include <QElapsedTimer>
#include <QFileDialog>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/settings.h"
#include "app/tf_main.h"
#include "app/window.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTreeWidget;

namespace tarnwick::qt {

class LogView;
class StatusBar;

// "Tarnwick" and the version: the window's caption.
QString windowCaption();

class MainWindow : public QWidget, public SettingsHost {
 public:
  // The design size: where the controls' places are given, and the
  // smallest the window gets (every control and every caption that Read EVO
  // gives still reads whole there).
  static constexpr int kDesignWidth = 362;
  static constexpr int kDesignHeight = 346;
  // The size a first start opens at: two columns of captions as long as a
  // playlist's ("DTS-HD.2ch.stream.01.English Director's Commentary"), and
  // the Rebuild's progress text for a feature of 30 GB beside the progress
  // bar, read whole.
  static constexpr int kDefaultWidth = 720;
  static constexpr int kDefaultHeight = 440;

  explicit MainWindow(SettingsStore& store, QWidget* parent = nullptr);
  ~MainWindow() override;

  TfMain& tfMain() { return main_; }
  Window& window();

  // Files named on the command line: taken as a drop once the window has
  // been activated and its settings loaded.
  void dropAtStart(const QStringList& paths);

  // SettingsHost
  SettingsStore& store() override { return store_; }
  Placement placement() const override;
  void setPlacement(const Placement& placement) override;

  // Called at every progress point of a running command, before pending
  // input is let through (tests and the benchmark act there).
  std::function<void()> onProgressPoint;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  class Widgets;

  void build();
  void connectControls();
  void firstActivation();
  void placeLogo();
  // After a file is chosen, Enter starts Read EVO.
  void focusReadEvo();
  // The saved placement again, now that the window manager's frame around
  // the window is known: the saved sizes and position are the frame's.
  void restoreFramePlacement();
  // Whether a window manager is expected to frame the window (not on the
  // offscreen platform of the tests).
  static bool framed();
  // The tree wide enough for its labels, within most of the page.
  void fitTree();
  // The saved tree width; again when the page is first shown, as the
  // splitter's width is known only then and both sides grow with it.
  void placeTree();
  // Runs a command: the Options page and dropping are off while it runs; a
  // file error is shown in a message box; a close asked for meanwhile
  // happens after it.
  void runCommand(const std::function<void()>& command);
  // Shows what an action threw in a message box; the program goes on.
  void guarded(const std::function<void()>& action);
  void showError(const QString& message);

  void onEvoBrowse();
  void onXplBrowse();
  void onReadXplClicked();
  void onRebuildClicked();
  void onStreamBoxClicked(ControlId box, bool ticked);

  SettingsStore& store_;
  std::unique_ptr<Widgets> w_;
  TfMain main_;
  QStringList startFiles_;
  bool activated_ = false;
  bool closeAfterRun_ = false;
  int treeWidth_ = 96;
  bool treeToPlace_ = false;
  // The placement to restore once the window manager has framed the window.
  std::optional<Placement> savedPlacement_;
  // How long to wait for the frame: on a busy machine it takes well over a
  // second; where no window manager runs it never comes.
  static constexpr int kFrameWaitMs = 8000;
  static constexpr int kFramePollMs = 25;
  QElapsedTimer frameWait_;  // invalid where no frame is waited for
  bool framePollPending_ = false;
};

}  // namespace tarnwick::qt
