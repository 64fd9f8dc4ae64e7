// The log view of one download entry: a read-only rich-text view that only
// ever grows. Every line begins with a line break and is bold in the colour
// of its kind, so the view starts with one empty line.
#pragma once

#include <QTextEdit>
#include <string>
#include <utility>
#include <vector>

#include "DialogHost.h"

class CLogView : public QTextEdit {
 public:
  explicit CLogView(QWidget* parent = nullptr);

  /// Appends a line break and `text` (UTF-8) at the very end, bold, in
  /// `colour`, without an undo record. A view scrolled to its end follows
  /// the new line; one scrolled back by the operator stays where it is.
  void AppendLine(Rgb colour, const std::string& text);
  /// The same for several lines in one edit: the view lays out and scrolls
  /// once for all of them.
  void AppendLines(const std::vector<std::pair<Rgb, std::string>>& lines);
};
