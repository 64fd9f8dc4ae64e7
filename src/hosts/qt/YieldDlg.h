// The yield picture of the local history: one cell per COM number, laid out
// as the entries are (two columns, Entry1 top left), coloured by its yield,
// for today or the last seven days. A socket that fails more than its
// neighbours stands out in its place on the bench.
#pragma once

#include <QColor>
#include <QDialog>
#include <array>
#include <string>
#include <vector>

#include "Window.h"
#include "records/HandsetRecord.h"
#include "records/HistoryExport.h"
#include "records/HistoryStore.h"

class QLabel;
class QRadioButton;
class QScrollArea;

/// The records of `period` in the local history at `path`. A history not
/// made yet reads as empty and is not made by reading. False, with the
/// reason, when it cannot be opened or read.
bool ReadLocalHistory(const std::string& path, const HistoryPeriod& period, std::vector<HandsetRecord>& out,
                      std::string& error);

struct YieldCell {
  /// The entry whose place it takes (0..19); past them, places in the
  /// same grid for COM numbers that have none.
  int slot = 0;
  ComSummary counts;
};

/// A cell for each COM number of `records` and each of `boundComs` (the COM
/// number of each entry now, 0 for none), by slot: a COM number takes the
/// place of the entry it is bound to, else of the entry it last ran on if
/// that is free, else one after the entries.
std::vector<YieldCell> LayOutYield(const std::vector<HandsetRecord>& records,
                                   const std::array<int, MAX_ENTRIES>& boundComs);

/// A cell's colour by its yield.
inline const QColor kYieldGood{140, 210, 140};    ///< 95 % and more
inline const QColor kYieldFair{240, 195, 90};     ///< 80 % and more
inline const QColor kYieldPoor{235, 120, 110};    ///< below
inline const QColor kYieldNone{205, 205, 205};    ///< nothing ended there
QColor YieldColour(int completed, int failed);

/// "completed / failed: 12 / 1 (92.3%)"; without the yield when nothing ended.
QString CountsText(int completed, int failed);

class CYieldDlg : public QDialog {
 public:
  enum class Period { Today, LastSevenDays };

  CYieldDlg(std::string historyPath, const std::array<int, MAX_ENTRIES>& boundComs, QWidget* parent = nullptr);

  /// Shows `period` from the history. False, with the reason, when the
  /// history cannot be read; the cells then stay as they were.
  bool ShowPeriod(Period period, std::string& error);

 private:
  void OnPeriodChosen(Period period);

  std::string m_path;
  std::array<int, MAX_ENTRIES> m_boundComs;
  QScrollArea* m_cells = nullptr;
  QLabel* m_totals = nullptr;
  QRadioButton* m_today = nullptr;
  QRadioButton* m_week = nullptr;
  Period m_shown = Period::Today;
};
