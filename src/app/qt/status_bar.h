#pragma once
// The status bar: panel 0 the state, panel 1 the detail, each sized to its
// text; and, while a scan or a rebuild runs, a progress bar that the
// commands' progress feeds.

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

#include "engine/run_report.h"

namespace tarnwick::qt {

class StatusBar : public QStatusBar {
 public:
  explicit StatusBar(QWidget* parent = nullptr);

  // shownText: the panel's text with its leading blank, shown at once.
  void setPanel(int panel, const QString& shownText);
  // A long loop's progress: panel 1 shows its text, the bar the position in
  // the size, in MiB, and the remaining time, and the bar's hint the text.
  // At most ten times a second, the latest one winning, so that painting
  // does not slow a fast scan.
  void showProgress(const RunProgress& p);
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
  // The progress behind the text that waits for its turn.
  ProgressValue pendingProgress_;
};

}  // namespace tarnwick::qt
