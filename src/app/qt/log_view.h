#pragma once
// The message log reMessage: lines appended at the end with their bold run,
// the view following the newest line. Appending costs the same with ten
// thousand lines as with ten: nothing already shown is laid out again.

#include <QPlainTextEdit>
#include <QTextCharFormat>

#include "engine/message_log.h"

namespace tarnwick::qt {

class LogView : public QPlainTextEdit {
 public:
  explicit LogView(QWidget* parent = nullptr);

  void appendLine(const LogLine& line);
  void clearLines();
  int lineCount() const { return lines_; }

 private:
  QTextCharFormat plain_;
  QTextCharFormat bold_;
  int lines_ = 0;
};

}  // namespace tarnwick::qt
