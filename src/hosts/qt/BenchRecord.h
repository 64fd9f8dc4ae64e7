// The window's part of the bench's record: each handset goes into the
// history as its entry's result is known, the shift's counts (since the
// window opened) stay in sight beside the elapsed time, and the context
// menu opens the yield picture and exports the history as CSV.
#pragma once

#include <string>

#include "records/HistoryKeeper.h"

class CQtDialogHost;
class CVelmoraDlg;
class CVelmoraWindow;

class CBenchRecord {
 public:
  /// Records `dialog`'s handsets into the history at `historyPath` (empty:
  /// the default); `deliver` as for CHistoryKeeper. The window, host and
  /// dialog must outlive it.
  CBenchRecord(CVelmoraWindow& window, CQtDialogHost& host, CVelmoraDlg& dialog, std::string historyPath = {},
               bool deliver = true);
  ~CBenchRecord();
  CBenchRecord(const CBenchRecord&) = delete;
  CBenchRecord& operator=(const CBenchRecord&) = delete;

  /// Opens the yield picture modally (today's first); a box instead when
  /// the history cannot be read.
  void ShowYield();
  /// Asks for a file and writes the whole history there as CSV, as
  /// `velmora-cli history --csv` does; a box when it cannot.
  void ExportCsv();

 private:
  void OnEntryResult(int entry);
  void Warn(const std::string& text);

  CVelmoraWindow& m_window;
  CQtDialogHost& m_host;
  CVelmoraDlg& m_dialog;
  CHistoryKeeper m_keeper;
  /// The handsets ended since the window opened, as the dialog told them:
  /// they count whether or not the history could be written.
  int m_completed = 0, m_failed = 0;
};
