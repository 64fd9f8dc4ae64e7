// Dialog units: a layout grid that scales with the dialog font, a quarter of
// the font's average character width across and an eighth of its height
// down. Every window of the program is laid out in them.
#pragma once

#include <QFont>
#include <QRect>

/// The font of every dialog: 9-point "굴림" where it is installed, else a
/// Korean sans-serif ("NanumGothic" first), else the application font.
QFont DialogFont();

class CDialogUnits {
 public:
  /// Cell size from `font`'s metrics (average letter width, line height).
  explicit CDialogUnits(const QFont& font);
  /// A given cell size in pixels.
  CDialogUnits(int cellWidth, int cellHeight) : m_nCellWidth(cellWidth), m_nCellHeight(cellHeight) {}

  int CellWidth() const { return m_nCellWidth; }
  int CellHeight() const { return m_nCellHeight; }

  /// Horizontal and vertical dialog units to pixels (x*cw/4, y*ch/8).
  int X(int du) const { return du * m_nCellWidth / 4; }
  int Y(int du) const { return du * m_nCellHeight / 8; }

  /// A rectangle in dialog units to pixels.
  QRect ToPixels(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }

 private:
  int m_nCellWidth;
  int m_nCellHeight;
};
