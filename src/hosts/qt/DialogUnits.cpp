#include "DialogUnits.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>

QFont DialogFont() {
  const QStringList families = QFontDatabase::families();
  QString family;
  for (const char* wanted : {"굴림", "Gulim", "NanumGothic"}) {
    if (families.contains(QString::fromUtf8(wanted))) {
      family = QString::fromUtf8(wanted);
      break;
    }
  }
  if (family.isEmpty()) {
    const QStringList korean = QFontDatabase::families(QFontDatabase::Korean);
    if (!korean.isEmpty()) family = korean.front();
  }
  QFont font = QApplication::font();
  if (!family.isEmpty()) font.setFamily(family);
  font.setPointSize(9);
  return font;
}

CDialogUnits::CDialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // Average width of the 52 Latin letters, rounded, as the dialog manager
  // has always measured it.
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  m_nCellWidth = (letters / 26 + 1) / 2;
  m_nCellHeight = metrics.height();
  if (m_nCellWidth < 1) m_nCellWidth = 1;
  if (m_nCellHeight < 1) m_nCellHeight = 1;
}
