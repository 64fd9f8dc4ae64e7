// How the dialog's requests for message boxes and file dialogs translate to
// Qt: box flags to buttons and icons, answers back to ids, and the
// "Text|*.bin|All|*.*||" filters to Qt's name filters.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <string>

/// Icon for the MB_ICON part of `type` (stop, warning, question,
/// information, or none).
QMessageBox::Icon MessageBoxIcon(uint32_t type);
/// Buttons for the MB_ button part of `type`: Yes and No for MB_YESNO,
/// otherwise OK.
QMessageBox::StandardButtons MessageBoxButtons(uint32_t type);
/// The answer as IDOK, IDYES or IDNO. A Yes/No box closed without a choice
/// answers IDNO; anything else from an OK box answers IDOK.
int MessageBoxAnswer(uint32_t type, int clicked);

/// Qt name filters from a filter in the "Text|pattern|Text|pattern||" form;
/// a text that does not already end in its pattern gets it appended.
QStringList QtNameFilters(const std::string& filter);
/// The directory part of `initialName` (up to its last separator), where a
/// file dialog opens; empty when it has none.
QString InitialDirectory(const std::string& initialName);
