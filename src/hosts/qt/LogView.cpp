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

void CLogView::AppendLine(Rgb colour, const std::string& text) { AppendLines({{colour, text}}); }

void CLogView::AppendLines(const std::vector<std::pair<Rgb, std::string>>& lines) {
  if (lines.empty()) return;
  QScrollBar* bar = verticalScrollBar();
  const bool following = bar->value() >= bar->maximum();

  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  cursor.beginEditBlock();
  QTextCharFormat format;
  format.setFontWeight(QFont::Bold);
  for (const auto& [colour, text] : lines) {
    format.setForeground(QColor(RgbRed(colour), RgbGreen(colour), RgbBlue(colour)));
    cursor.insertText(QStringLiteral("\n") + QString::fromStdString(text), format);
  }
  cursor.endEditBlock();

  if (following) bar->setValue(bar->maximum());
}
