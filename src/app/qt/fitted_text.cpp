#include "app/qt/fitted_text.h"

#include <QEvent>
#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>

namespace tarnwick::qt {
namespace {

// "&" in a caption is a character, not a keyboard accelerator.
QString shownCaption(QString text) { return text.replace("&", "&&"); }

// A font or style change alters what fits.
bool refits(const QEvent* event) {
  return event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange;
}

}  // namespace

StreamBox::StreamBox(const QString& caption, QWidget* parent) : QCheckBox(parent), caption_(caption) { fit(); }

void StreamBox::setCaption(const QString& caption) {
  caption_ = caption;
  fit();
}

void StreamBox::setHintTip(const QString& tip) {
  hintTip_ = tip;
  fit();
}

void StreamBox::resizeEvent(QResizeEvent* event) {
  QCheckBox::resizeEvent(event);
  fit();
}

void StreamBox::changeEvent(QEvent* event) {
  QCheckBox::changeEvent(event);
  if (refits(event)) fit();
}

void StreamBox::fit() {
  QStyleOptionButton option;
  option.initFrom(this);
  // The room right of the tick box, as the style lays out the label.
  const int room = style()->subElementRect(QStyle::SE_CheckBoxContents, &option, this).width();
  const QString shown = fontMetrics().elidedText(caption_, Qt::ElideMiddle, room);
  elided_ = shown != caption_;
  setText(shownCaption(shown));
  setToolTip(elided_ ? caption_ : hintTip_);
}

PathBox::PathBox(QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);
  // Not a tab stop; a click may still select the path to copy it.
  setFocusPolicy(Qt::ClickFocus);
}

void PathBox::setPath(const QString& path) {
  setText(path);
  // Where the box is too short, the line scrolls to keep this end in view.
  setCursorPosition(static_cast<int>(path.size()));
  fit();
}

void PathBox::setHintTip(const QString& tip) {
  hintTip_ = tip;
  fit();
}

void PathBox::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  fit();
}

void PathBox::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (refits(event)) fit();
}

void PathBox::fit() {
  QStyleOptionFrame option;
  initStyleOption(&option);
  QRect room = style()->subElementRect(QStyle::SE_LineEditContents, &option, this).marginsRemoved(textMargins());
  // The line edit keeps two pixels free at each side of its text.
  constexpr int kMargins = 2 * 2;
  cut_ = fontMetrics().horizontalAdvance(text()) > room.width() - kMargins;
  setToolTip(cut_ ? text() : hintTip_);
}

}  // namespace tarnwick::qt
