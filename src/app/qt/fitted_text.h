#pragma once
// Controls whose text may be longer than the room they have: a stream box
// cuts its caption in the middle, a file box shows the end of its path; both
// then carry the whole text as their tooltip.

#include <QCheckBox>
#include <QLineEdit>
#include <QString>

namespace tarnwick::qt {

// A stream check box. Its caption (from a playlist, a description of any
// length) is shown whole where it fits, else with its middle left out, so
// that the kind and number at the start and the end of the description stay.
class StreamBox : public QCheckBox {
 public:
  explicit StreamBox(const QString& caption, QWidget* parent = nullptr);

  void setCaption(const QString& caption);
  QString caption() const { return caption_; }
  // The tooltip while the caption is shown whole.
  void setHintTip(const QString& tip);
  bool elided() const { return elided_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void fit();

  QString caption_;
  QString hintTip_;
  bool elided_ = false;
};

// A read-only file box. A path longer than the box shows its end, the file
// name, and the whole path as tooltip.
class PathBox : public QLineEdit {
 public:
  explicit PathBox(QWidget* parent = nullptr);

  void setPath(const QString& path);
  // The tooltip while the path is shown whole, and while there is none.
  void setHintTip(const QString& tip);
  bool cut() const { return cut_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void fit();

  QString hintTip_;
  bool cut_ = false;
};

}  // namespace tarnwick::qt
