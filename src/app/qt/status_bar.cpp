#include "app/qt/status_bar.h"

#include <QEvent>

#include <algorithm>

namespace tarnwick::qt {

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
  detail_ = " Select or drop an EVO file to demux";
  panels_[1]->setText(detail_);
  panels_[1]->setMinimumWidth(50);
  // Panel 1 takes the room the others leave and cuts its text to it; its
  // text never widens the window.
  panels_[1]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  panels_[1]->installEventFilter(this);
  pending_.setSingleShot(true);
  connect(&pending_, &QTimer::timeout, this, [this] {
    sinceProgress_.start();
    display(1, pendingText_, &pendingProgress_);
  });
}

void StatusBar::setPanel(int panel, const QString& shownText) {
  if (panel == 1) pending_.stop();
  display(panel, shownText, nullptr);
}

void StatusBar::showProgress(const RunProgress& p) {
  constexpr qint64 kMiB = 0x100000;
  const std::string remaining = remainingTime(p);
  const QString text = QString::fromStdString(progressText(p, remaining));
  ProgressValue bar;
  bar.total = static_cast<int>(std::clamp<qint64>(p.size / kMiB, 1, INT32_MAX));
  bar.done = static_cast<int>(std::clamp<qint64>(p.position / kMiB, 0, bar.total));
  bar.remaining = QString::fromStdString(remaining);
  setToolTip(text);
  constexpr qint64 kProgressMs = 100;
  if (sinceProgress_.isValid() && sinceProgress_.elapsed() < kProgressMs) {
    pendingText_ = " " + text;
    pendingProgress_ = bar;
    if (!pending_.isActive()) pending_.start(static_cast<int>(kProgressMs - sinceProgress_.elapsed()));
    return;
  }
  sinceProgress_.start();
  pending_.stop();
  display(1, " " + text, &bar);
}

void StatusBar::display(int panel, const QString& shownText, const ProgressValue* progress) {
  QLabel* label = panels_[panel == 0 ? 0 : 1];
  if (panel == 0) {
    label->setText(shownText);
  } else {
    detail_ = shownText;
    fitDetail();
  }
  // Panel 0 is sized to its text and one letter more; panel 1, the last,
  // takes the rest of the bar, as wide as the text wherever the window is.
  if (panel == 0) {
    label->setFixedWidth(label->fontMetrics().horizontalAdvance(shownText + "a"));
  } else if (progress != nullptr) {
    progress_->setRange(0, progress->total);
    progress_->setValue(progress->done);
    progress_->setFormat("%p%, " + progress->remaining + " left");
    progress_->show();
  } else if (shownText.trimmed().isEmpty()) {
    endProgress();
  }
  // The message loop runs only at the commands' progress points.
  repaint();
}

QString StatusBar::panelText(int panel) const { return panel == 0 ? panels_[0]->text() : detail_; }

void StatusBar::fitDetail() {
  QLabel* label = panels_[1];
  const QString shown = label->fontMetrics().elidedText(detail_, Qt::ElideRight, label->contentsRect().width());
  label->setText(shown);
  label->setToolTip(shown == detail_ ? QString() : detail_.trimmed());
}

bool StatusBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == panels_[1] && event->type() == QEvent::Resize) fitDetail();
  return QStatusBar::eventFilter(watched, event);
}

int StatusBar::panelWidth(int panel) const { return panels_[panel == 0 ? 0 : 1]->width(); }

void StatusBar::endProgress() {
  pending_.stop();
  progress_->hide();
}

}  // namespace tarnwick::qt
