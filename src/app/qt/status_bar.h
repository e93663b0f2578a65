#pragma once
// The status bar: panel 0 the state, panel 1 the detail, each sized to its
// text; and, while a scan or a rebuild runs, a progress bar that the
// commands' progress numbers feed.

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

#include <optional>

namespace tarnwick::qt {

class StatusBar : public QStatusBar {
 public:
  explicit StatusBar(QWidget* parent = nullptr);

  // shownText: the panel's text with its leading blank. A state is shown
  // at once; progress texts at most ten times a second, the latest one
  // winning, so that painting does not slow a fast scan.
  void setPanel(int panel, const QString& shownText);
  // Announces that the next panel 1 text is a progress text: the bar shows
  // the position in the size, in MiB, and the remaining time.
  void setProgress(qint64 position, qint64 size, const QString& remaining);
  // The panel's whole text, also where the panel shows it cut short.
  QString panelText(int panel) const;
  int panelWidth(int panel) const;
  QProgressBar* progressBar() const { return progress_; }
  void endProgress();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Panel 1 shows as much of its text as fits, ending in "…" where it is cut.
  void fitDetail();

  struct ProgressValue {
    int done = 0;
    int total = 1;
    QString remaining;
  };
  void display(int panel, const QString& shownText, const ProgressValue* progress);

  QLabel* panels_[2];
  QString detail_;
  QProgressBar* progress_;
  QElapsedTimer sinceProgress_;
  QTimer pending_;
  QString pendingText_;
  // The progress that the next panel 1 text shows, and the one behind the
  // text that waits for its turn.
  std::optional<ProgressValue> next_;
  ProgressValue pendingProgress_;
};

}  // namespace tarnwick::qt
