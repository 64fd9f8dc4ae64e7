#include "YieldDlg.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "DialogUnits.h"
#include "QtDialogHost.h"
#include "records/HistoryWhen.h"

namespace {

// A cell in dialog units: room for "COM20  100.0%", the counts and a
// shortened reason; ten rows of them fit where the main window does.
constexpr int kCellWidthDu = 118;
constexpr int kCellHeightDu = 27;
constexpr int kColumns = 2;
constexpr int kShownRows = MAX_ENTRIES / kColumns;

QLabel* MakeCell(const YieldCell& cell, const CDialogUnits& du, QWidget* parent) {
  const ComSummary& c = cell.counts;
  auto* label = new QLabel(parent);
  label->setObjectName(QStringLiteral("COM%1").arg(c.com));
  label->setProperty("slot", cell.slot);
  label->setFixedSize(du.X(kCellWidthDu), du.Y(kCellHeightDu));
  label->setAutoFillBackground(true);
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, YieldColour(c.completed, c.failed));
  palette.setColor(QPalette::WindowText, Qt::black);
  label->setPalette(palette);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setContentsMargins(du.X(2), 0, du.X(2), 0);

  QString text = QStringLiteral("COM%1   %2\n%3 completed / %4 failed")
                     .arg(c.com)
                     .arg(QString::fromStdString(YieldText(c.completed, c.failed)))
                     .arg(c.completed)
                     .arg(c.failed);
  if (c.topReasonCount > 0) {
    const QString reason = QString::fromStdString(c.topReason) + QStringLiteral(" (%1)").arg(c.topReasonCount);
    text += QLatin1Char('\n') + label->fontMetrics().elidedText(reason, Qt::ElideRight, du.X(kCellWidthDu - 6));
    label->setToolTip(reason);
  }
  label->setText(text);
  return label;
}

}  // namespace

bool ReadLocalHistory(const std::string& path, const HistoryPeriod& period, std::vector<HandsetRecord>& out,
                      std::string& error) {
  out.clear();
  if (path.empty()) {
    error = "no place for it (neither VELMORA_HISTORY nor HOME is set)";
    return false;
  }
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) return true;
  const std::unique_ptr<IHistoryStore> store = OpenLocalHistory(path, error);
  return store && store->Query(period, out, error);
}

std::vector<YieldCell> LayOutYield(const std::vector<HandsetRecord>& records,
                                   const std::array<int, MAX_ENTRIES>& boundComs) {
  // This station's history: a COM number is one socket whatever host name
  // its records carry.
  std::vector<HandsetRecord> local = records;
  std::map<int, int> lastEntry;
  for (HandsetRecord& r : local) {
    r.station.clear();
    lastEntry[r.com] = r.entry;
  }
  std::map<int, ComSummary> byCom;
  for (const ComSummary& c : Summarize(local).coms) byCom[c.com] = c;
  for (int com : boundComs)
    if (com > 0 && !byCom.count(com)) byCom[com].com = com;

  std::vector<YieldCell> cells;
  std::set<int> placed, taken;
  auto place = [&](int slot, int com) {
    cells.push_back({slot, byCom[com]});
    placed.insert(com);
    taken.insert(slot);
  };
  for (int i = 0; i < MAX_ENTRIES; ++i)
    if (boundComs[i] > 0 && !placed.count(boundComs[i])) place(i, boundComs[i]);
  int next = MAX_ENTRIES;
  for (const auto& [com, summary] : byCom) {
    if (placed.count(com)) continue;
    const int wanted = lastEntry.count(com) ? lastEntry[com] - 1 : -1;
    place(wanted >= 0 && wanted < MAX_ENTRIES && !taken.count(wanted) ? wanted : next++, com);
  }
  std::sort(cells.begin(), cells.end(), [](const YieldCell& a, const YieldCell& b) { return a.slot < b.slot; });
  return cells;
}

QColor YieldColour(int completed, int failed) {
  const int ended = completed + failed;
  if (ended == 0) return kYieldNone;
  // In whole handsets, so that 19 of 20 is good and no rounding decides.
  if (completed * 100 >= 95 * ended) return kYieldGood;
  if (completed * 100 >= 80 * ended) return kYieldFair;
  return kYieldPoor;
}

CYieldDlg::CYieldDlg(std::string historyPath, const std::array<int, MAX_ENTRIES>& boundComs, QWidget* parent)
    : QDialog(parent), m_path(std::move(historyPath)), m_boundComs(boundComs) {
  setWindowTitle(QStringLiteral("Yield"));
  if (parent != nullptr) setFont(parent->font());  // the main window's, fitted to the screen
  const CDialogUnits du(font());

  m_today = new QRadioButton(QStringLiteral("today"), this);
  m_week = new QRadioButton(QStringLiteral("the last 7 days"), this);
  m_today->setChecked(true);
  auto* periods = new QButtonGroup(this);
  periods->addButton(m_today);
  periods->addButton(m_week);
  connect(m_today, &QRadioButton::toggled, this, [this](bool on) {
    if (on) OnPeriodChosen(Period::Today);
  });
  connect(m_week, &QRadioButton::toggled, this, [this](bool on) {
    if (on) OnPeriodChosen(Period::LastSevenDays);
  });
  auto* switchRow = new QHBoxLayout;
  switchRow->addWidget(m_today);
  switchRow->addWidget(m_week);
  switchRow->addStretch();

  m_totals = new QLabel(this);
  m_totals->setObjectName(QStringLiteral("totals"));

  m_cells = new QScrollArea(this);
  m_cells->setFrameShape(QFrame::NoFrame);
  m_cells->setWidgetResizable(true);
  const int spacing = du.X(3);
  m_cells->setMinimumSize(kColumns * du.X(kCellWidthDu) + spacing + m_cells->verticalScrollBar()->sizeHint().width(),
                          kShownRows * (du.Y(kCellHeightDu) + spacing));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(switchRow);
  layout->addWidget(m_totals);
  layout->addWidget(m_cells, 1);
  layout->addWidget(buttons);
}

bool CYieldDlg::ShowPeriod(Period period, std::string& error) {
  const int64_t now =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  HistoryPeriod span;
  span.sinceMs = DaysBackStart(period == Period::Today ? 0 : 6, now);
  std::vector<HandsetRecord> records;
  if (!ReadLocalHistory(m_path, span, records, error)) return false;

  const CDialogUnits du(font());
  auto* grid = new QWidget(this);  // the dialog's font before the cells measure their texts
  auto* layout = new QGridLayout(grid);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(du.X(3));
  int completed = 0, failed = 0;
  for (const YieldCell& cell : LayOutYield(records, m_boundComs)) {
    layout->addWidget(MakeCell(cell, du, grid), cell.slot / kColumns, cell.slot % kColumns);
    completed += cell.counts.completed;
    failed += cell.counts.failed;
  }
  // Empty places keep their room, as an unbound entry keeps its place.
  for (int row = 0; row < layout->rowCount(); ++row) layout->setRowMinimumHeight(row, du.Y(kCellHeightDu));
  for (int column = 0; column < kColumns; ++column) layout->setColumnMinimumWidth(column, du.X(kCellWidthDu));
  layout->setRowStretch(layout->rowCount(), 1);
  layout->setColumnStretch(kColumns, 1);
  m_cells->setWidget(grid);  // the previous period's cells go with it
  m_totals->setText(CountsText(completed, failed));

  m_shown = period;
  QSignalBlocker blockToday(m_today), blockWeek(m_week);
  (period == Period::Today ? m_today : m_week)->setChecked(true);
  return true;
}

void CYieldDlg::OnPeriodChosen(Period period) {
  std::string error;
  if (ShowPeriod(period, error)) return;
  QMessageBox::warning(this, QString::fromUtf8(CQtDialogHost::kBoxTitle),
                       QString::fromStdString("The history cannot be read: " + m_path + "\n" + error));
  // The switch goes back to what the cells show.
  QSignalBlocker blockToday(m_today), blockWeek(m_week);
  (m_shown == Period::Today ? m_today : m_week)->setChecked(true);
}

QString CountsText(int completed, int failed) {
  const QString counts = QStringLiteral("completed / failed: %1 / %2").arg(completed).arg(failed);
  if (completed + failed == 0) return counts;
  return counts + QStringLiteral(" (%1)").arg(QString::fromStdString(YieldText(completed, failed)));
}
