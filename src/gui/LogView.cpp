#include "LogView.h"

#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextCursor>

CLogView::CLogView(QWidget* parent) : QTextEdit(parent) {
  setReadOnly(true);
  setUndoRedoEnabled(false);
  setAcceptRichText(false);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setLineWrapMode(QTextEdit::WidgetWidth);
}

void CLogView::AppendLine(Rgb colour, const std::string& text) {
  QScrollBar* bar = verticalScrollBar();
  const bool following = bar->value() >= bar->maximum();

  QTextCharFormat format;
  format.setFontWeight(QFont::Bold);
  format.setForeground(QColor(RgbRed(colour), RgbGreen(colour), RgbBlue(colour)));

  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(QStringLiteral("\n") + QString::fromStdString(text), format);

  if (following) bar->setValue(bar->maximum());
}
