#include "app/qt/status_bar.h"

#include <QRegularExpression>

namespace tarnwick::qt {
namespace {

const QRegularExpression& progressPattern() {
  static const QRegularExpression pattern(R"(^ (\d+)/(\d+) Mbytes, Remaining time: (.+)$)");
  return pattern;
}

bool isProgressText(const QString& text) { return progressPattern().match(text).hasMatch(); }

}  // namespace

StatusBar::StatusBar(QWidget* parent) : QStatusBar(parent) {
  const char* names[2] = {"StatusPanel0", "StatusPanel1"};
  for (int k = 0; k < 2; ++k) {
    panels_[k] = new QLabel(this);
    panels_[k]->setObjectName(names[k]);
    panels_[k]->setTextFormat(Qt::PlainText);
  }
  addWidget(panels_[0]);
  addWidget(panels_[1], 1);
  progress_ = new QProgressBar(this);
  progress_->setObjectName("Progress");
  progress_->setMaximumHeight(14);
  progress_->setFixedWidth(130);
  progress_->setTextVisible(true);
  addPermanentWidget(progress_);
  progress_->hide();
  // The design widths before the first text is set.
  panels_[0]->setText(" Ready");
  panels_[0]->setFixedWidth(40);
  panels_[1]->setText(" Select or drop an EVO file to demux");
  panels_[1]->setMinimumWidth(50);
  pending_.setSingleShot(true);
  connect(&pending_, &QTimer::timeout, this, [this] {
    sinceProgress_.start();
    display(1, pendingText_);
  });
}

void StatusBar::setPanel(int panel, const QString& shownText) {
  if (panel == 1 && isProgressText(shownText)) {
    constexpr qint64 kProgressMs = 100;
    if (sinceProgress_.isValid() && sinceProgress_.elapsed() < kProgressMs) {
      pendingText_ = shownText;
      if (!pending_.isActive()) pending_.start(static_cast<int>(kProgressMs - sinceProgress_.elapsed()));
      return;
    }
    sinceProgress_.start();
  }
  if (panel == 1) pending_.stop();
  display(panel, shownText);
}

void StatusBar::display(int panel, const QString& shownText) {
  QLabel* label = panels_[panel == 0 ? 0 : 1];
  label->setText(shownText);
  // Panel 0 is sized to its text and one letter more; panel 1, the last,
  // takes the rest of the bar, as wide as the text wherever the window is.
  if (panel == 0)
    label->setFixedWidth(label->fontMetrics().horizontalAdvance(shownText + "a"));
  else if (!showProgress(shownText) && shownText.trimmed().isEmpty())
    endProgress();
  // The message loop runs only at the commands' progress points.
  repaint();
}

QString StatusBar::panelText(int panel) const { return panels_[panel == 0 ? 0 : 1]->text(); }

int StatusBar::panelWidth(int panel) const { return panels_[panel == 0 ? 0 : 1]->width(); }

void StatusBar::endProgress() {
  pending_.stop();
  progress_->hide();
}

bool StatusBar::showProgress(const QString& text) {
  const QRegularExpressionMatch m = progressPattern().match(text);
  if (!m.hasMatch()) return false;
  const int done = m.captured(1).toInt();
  const int total = std::max(1, m.captured(2).toInt());
  progress_->setRange(0, total);
  progress_->setValue(std::min(done, total));
  progress_->setFormat("%p%, " + m.captured(3) + " left");
  progress_->show();
  return true;
}

}  // namespace tarnwick::qt
