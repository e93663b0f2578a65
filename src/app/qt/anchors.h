#pragma once
// Keeps child widgets at their design places as their container is resized:
// an edge anchored right or bottom keeps its distance to that edge of the
// container; anchored on both sides of an axis the widget stretches. Columns
// side by side that all stretch share the width the container gains.

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <vector>

namespace tarnwick::qt {

enum Anchor : unsigned { kLeft = 1, kTop = 2, kRight = 4, kBottom = 8 };

// Column `index` of `count` columns that share the width gained: each grows
// by its part, and moves by the parts of the columns left of it.
struct Column {
  int index = 0;
  int count = 1;
};

class Anchors : public QObject {
 public:
  // designSize: the container's size at which the design rectangles hold.
  Anchors(QWidget* container, QSize designSize);

  void add(QWidget* widget, QRect designRect, unsigned anchors, Column column = {});
  // A widget added before gets another design place (the pages make room
  // for the title chooser).
  void moveDesign(QWidget* widget, QRect designRect);
  // Places every widget for the container's current size.
  void apply();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Entry {
    QPointer<QWidget> widget;
    QRect design;
    unsigned anchors;
    Column column;
  };
  QWidget* container_;
  QSize designSize_;
  std::vector<Entry> entries_;
};

// The rectangle of a widget designed at `design` in a container of designSize
// that now has size `now`.
QRect anchoredRect(QRect design, unsigned anchors, QSize designSize, QSize now, Column column = {});

}  // namespace tarnwick::qt
