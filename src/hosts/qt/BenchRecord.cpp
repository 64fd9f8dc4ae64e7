#include "BenchRecord.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <array>
#include <filesystem>
#include <system_error>

#include "QtDialogHost.h"
#include "VelmoraDlg.h"
#include "VelmoraWindow.h"
#include "YieldDlg.h"
#include "records/HistoryExport.h"

CBenchRecord::CBenchRecord(CVelmoraWindow& window, CQtDialogHost& host, CVelmoraDlg& dialog, std::string historyPath,
                           bool deliver)
    : m_window(window), m_host(host), m_dialog(dialog), m_keeper(dialog, std::move(historyPath), deliver) {
  m_window.ShiftLabel()->setText(CountsText(0, 0));
  m_window.ShiftLabel()->setToolTip(QStringLiteral("Handsets ended since the window opened"));
  m_host.SetEntryResultSink([this](int entry) { OnEntryResult(entry); });
  m_window.SetMenuFiller([this](QMenu& menu) {
    menu.addAction(QString::fromUtf8("수율 보기(&Y)..."), &m_window, [this] { ShowYield(); })
        ->setObjectName(QStringLiteral("yield"));
    menu.addAction(QString::fromUtf8("기록 CSV로 내보내기(&E)..."), &m_window, [this] { ExportCsv(); })
        ->setObjectName(QStringLiteral("exportCsv"));
  });
}

CBenchRecord::~CBenchRecord() {
  m_window.SetMenuFiller(nullptr);
  m_host.SetEntryResultSink(nullptr);
}

void CBenchRecord::OnEntryResult(int entry) {
  if (entry < 0 || entry >= MAX_ENTRIES) return;
  // Counted before the history is written: the counts never wait for the
  // disk, nor depend on it.
  const int result = m_dialog.Outcome(entry).m_nResult;
  if (result == RESULT_COMPLETED || result == RESULT_FAILED) {
    ++(result == RESULT_COMPLETED ? m_completed : m_failed);
    m_window.ShiftLabel()->setText(CountsText(m_completed, m_failed));
  }
  if (auto problem = m_keeper.Record(entry)) m_dialog.PutLog(FirstEntryOfRun(m_dialog), LOG_ERROR, *problem);
}

void CBenchRecord::Warn(const std::string& text) {
  QMessageBox::warning(&m_window, QString::fromUtf8(CQtDialogHost::kBoxTitle), QString::fromStdString(text));
}

void CBenchRecord::ShowYield() {
  std::array<int, MAX_ENTRIES> bound{};
  for (int i = 0; i < MAX_ENTRIES; ++i) bound[i] = m_dialog.Binding(i).m_nComPort;
  CYieldDlg picture(m_keeper.Path(), bound, &m_window);
  std::string error;
  if (!picture.ShowPeriod(CYieldDlg::Period::Today, error)) {
    Warn("The history cannot be read: " + m_keeper.Path() + "\n" + error);
    return;
  }
  picture.exec();
}

void CBenchRecord::ExportCsv() {
  const std::string& source = m_keeper.Path();
  std::error_code ec;
  if (!source.empty() && !std::filesystem::exists(source, ec) && !ec) {
    Warn("No handset has been recorded yet: " + source);
    return;
  }
  std::vector<HandsetRecord> records;
  std::string error;
  if (!ReadLocalHistory(source, {}, records, error)) {
    Warn("The history cannot be read: " + source + "\n" + error);
    return;
  }
  QFileDialog ask(&m_window, QString::fromUtf8("다른 이름으로 저장"),
                  QDir::home().filePath(QStringLiteral("velmora-history.csv")));
  ask.setOption(QFileDialog::DontUseNativeDialog);
  ask.setAcceptMode(QFileDialog::AcceptSave);
  ask.setNameFilters({QStringLiteral("CSV (*.csv)"), QStringLiteral("All files (*)")});
  ask.setDefaultSuffix(QStringLiteral("csv"));
  if (ask.exec() != QDialog::Accepted || ask.selectedFiles().isEmpty()) return;
  const QString target = ask.selectedFiles().front();

  std::string csv = CsvHeader();
  for (const HandsetRecord& r : records) csv += CsvLine(r);
  // Written aside and renamed: a full disk leaves an older export whole.
  QSaveFile file(target);
  if (!file.open(QIODevice::WriteOnly) || file.write(csv.data(), static_cast<qint64>(csv.size())) < 0 ||
      !file.commit())
    Warn("The history could not be written to " + target.toStdString() + "\n" + file.errorString().toStdString());
}
