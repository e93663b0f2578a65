#pragma once
// The status bar: panel 0 the state, panel 1 the detail, each sized to its
// text; and, while a scan runs, a progress bar fed by the progress texts of
// panel 1 ("12/2048 Mbytes, Remaining time: 0:01:10").

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

namespace tarnwick::qt {

class StatusBar : public QStatusBar {
 public:
  explicit StatusBar(QWidget* parent = nullptr);

  // shownText: the panel's text with its leading blank.
  void setPanel(int panel, const QString& shownText);
  QString panelText(int panel) const;
  int panelWidth(int panel) const;
  QProgressBar* progressBar() const { return progress_; }
  void endProgress();

 private:
  void showProgress(const QString& text);

  QLabel* panels_[2];
  QProgressBar* progress_;
};

}  // namespace tarnwick::qt
