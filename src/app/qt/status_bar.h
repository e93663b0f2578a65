#pragma once
// The status bar: panel 0 the state, panel 1 the detail, each sized to its
// text; and, while a scan runs, a progress bar fed by the progress texts of
// panel 1 ("12/2048 Mbytes, Remaining time: 0:01:10").

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

namespace tarnwick::qt {

class StatusBar : public QStatusBar {
 public:
  explicit StatusBar(QWidget* parent = nullptr);

  // shownText: the panel's text with its leading blank. A state is shown
  // at once; progress texts at most ten times a second, the latest one
  // winning, so that painting does not slow a fast scan.
  void setPanel(int panel, const QString& shownText);
  QString panelText(int panel) const;
  int panelWidth(int panel) const;
  QProgressBar* progressBar() const { return progress_; }
  void endProgress();

 private:
  void display(int panel, const QString& shownText);
  // Whether the text is a progress text; if so, updates the progress bar.
  bool showProgress(const QString& text);

  QLabel* panels_[2];
  QProgressBar* progress_;
  QElapsedTimer sinceProgress_;
  QTimer pending_;
  QString pendingText_;
};

}  // namespace tarnwick::qt
