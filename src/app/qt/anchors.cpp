#include "app/qt/anchors.h"

#include <QEvent>

namespace tarnwick::qt {

QRect anchoredRect(QRect design, unsigned anchors, QSize designSize, QSize now, Column column) {
  const int dx = now.width() - designSize.width();
  const int dy = now.height() - designSize.height();
  QRect r = design;
  if ((anchors & kRight) != 0) {
    if ((anchors & kLeft) != 0) {
      // The columns' parts add up to dx whatever the rounding.
      const int before = dx * column.index / column.count;
      const int through = dx * (column.index + 1) / column.count;
      r.moveLeft(design.left() + before);
      r.setWidth(design.width() + through - before);
    } else {
      r.moveLeft(design.left() + dx);
    }
  }
  if ((anchors & kBottom) != 0) {
    if ((anchors & kTop) != 0)
      r.setHeight(design.height() + dy);
    else
      r.moveTop(design.top() + dy);
  }
  return r;
}

Anchors::Anchors(QWidget* container, QSize designSize)
    : QObject(container), container_(container), designSize_(designSize) {
  container->installEventFilter(this);
}

void Anchors::add(QWidget* widget, QRect designRect, unsigned anchors, Column column) {
  entries_.push_back({widget, designRect, anchors, column});
  widget->setGeometry(anchoredRect(designRect, anchors, designSize_, container_->size(), column));
}

void Anchors::moveDesign(QWidget* widget, QRect designRect) {
  for (Entry& e : entries_)
    if (e.widget == widget) {
      e.design = designRect;
      widget->setGeometry(anchoredRect(designRect, e.anchors, designSize_, container_->size(), e.column));
    }
}

void Anchors::apply() {
  for (const Entry& e : entries_)
    if (e.widget)
      e.widget->setGeometry(anchoredRect(e.design, e.anchors, designSize_, container_->size(), e.column));
}

bool Anchors::eventFilter(QObject* watched, QEvent* event) {
  if (watched == container_ && event->type() == QEvent::Resize) apply();
  return QObject::eventFilter(watched, event);
}

}  // namespace tarnwick::qt
