#include "app/qt/log_view.h"

#include <QScrollBar>
#include <QTextCursor>

namespace tarnwick::qt {

LogView::LogView(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setUndoRedoEnabled(false);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  bold_.setFontWeight(QFont::Bold);
  plain_.setFontWeight(QFont::Normal);
}

void LogView::appendLine(const LogLine& line) {
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  // The empty document already holds the first, empty line.
  if (lines_ > 0) cursor.insertBlock();
  ++lines_;
  const std::string& text = line.text;
  const std::size_t start = std::min(line.boldStart, text.size());
  const std::size_t length = std::min(line.boldLength, text.size() - start);
  // The run is counted in bytes of the UTF-8 text; the tags are ASCII, so
  // both ends fall between characters.
  if (length == 0) {
    cursor.insertText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), plain_);
  } else {
    cursor.insertText(QString::fromUtf8(text.data(), static_cast<qsizetype>(start)), plain_);
    cursor.insertText(QString::fromUtf8(text.data() + start, static_cast<qsizetype>(length)), bold_);
    cursor.insertText(QString::fromUtf8(text.data() + start + length, static_cast<qsizetype>(text.size() - start - length)),
                      plain_);
  }
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogView::clearLines() {
  clear();
  lines_ = 0;
}

}  // namespace tarnwick::qt
