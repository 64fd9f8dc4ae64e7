#include "DialogMapping.h"

#include "Window.h"

QMessageBox::Icon MessageBoxIcon(uint32_t type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONEXCLAMATION: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

QMessageBox::StandardButtons MessageBoxButtons(uint32_t type) {
  if ((type & MB_BUTTONMASK) == MB_YESNO) return QMessageBox::Yes | QMessageBox::No;
  return QMessageBox::Ok;
}

int MessageBoxAnswer(uint32_t type, int clicked) {
  if ((type & MB_BUTTONMASK) == MB_YESNO) return clicked == QMessageBox::Yes ? IDYES : IDNO;
  return IDOK;
}

QStringList QtNameFilters(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype k = 0; k + 1 < parts.size(); k += 2) {
    const QString& text = parts[k];
    if (text.isEmpty()) break;  // "||" ends the list
    QString patterns = parts[k + 1];
    if (patterns.isEmpty()) break;  // a text without its pattern ends it too
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    const QString suffix = QStringLiteral("(") + patterns + QStringLiteral(")");
    filters << (text.endsWith(suffix) ? text : text + QStringLiteral(" ") + suffix);
  }
  return filters;
}

QString InitialDirectory(const std::string& initialName) {
  const size_t cut = initialName.find_last_of("/\\");
  if (cut == std::string::npos) return QString();
  return QString::fromStdString(initialName.substr(0, cut + 1));
}
