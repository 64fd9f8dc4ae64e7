// The window's part of the bench's record: the shift's counts after a run on
// simulated handsets, the yield picture of a known history, and the CSV
// export held against velmora-cli's.
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QRadioButton>
#include <QRegularExpression>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "BenchRecord.h"
#include "ControlIds.h"
#include "DialogWindowFixture.h"
#include "GuiTestUtil.h"
#include "HistoryRecords.h"
#include "PhoneImage.h"
#include "RunProgram.h"
#include "RunReport.h"
#include "TestUtil.h"
#include "WindowArgs.h"
#include "YieldDlg.h"
#include "platform/PortMap.h"
#include "sim/SimBench.h"
#include "support/Choices.h"
#include "support/EngineProbe.h"

namespace {

using std::chrono::hours;
using std::chrono::system_clock;

class BenchRecordTest : public DialogWindowTest {
 protected:
  void SetUp() override {
    DialogWindowTest::SetUp();
    history = tmp.path() + "/history.sqlite3";
  }
  /// The window's context menu command named `name`, as the operator finds it.
  void Trigger(const char* name) {
    QMenu menu;
    window.FillContextMenu(menu);
    auto* action = menu.findChild<QAction*>(QString::fromLatin1(name));
    ASSERT_NE(action, nullptr) << name;
    action->trigger();
  }
  void Fill(const std::vector<HandsetRecord>& records) {
    std::string error;
    auto store = OpenLocalHistory(history, error);
    ASSERT_TRUE(store) << error;
    for (const HandsetRecord& r : records) ASSERT_TRUE(store->Add(r, error)) << error;
  }
  /// The text of the box the next action opens (closing it).
  std::shared_ptr<std::string> NextBoxText() {
    auto text = std::make_shared<std::string>();
    AnswerNextModal([text](QWidget* modal) {
      if (auto* box = qobject_cast<QMessageBox*>(modal)) *text = box->text().toStdString();
      modal->close();
    });
    return text;
  }

  CTempDir tmp;
  std::string history;
};

// The history cannot be opened at all: the counts come from the dialog.
TEST_F(BenchRecordTest, TheShiftCountsTheHandsetsEndedWhateverTheHistory) {
  std::ofstream(tmp.path() + "/blocker") << "a file where the history's folder should be";
  CBenchRecord record(window, host, dialog, tmp.path() + "/blocker/history.sqlite3", false);
  EXPECT_EQ(window.ShiftLabel()->text().toStdString(), "completed / failed: 0 / 0");
  EXPECT_TRUE(window.ShiftLabel()->isVisible());

  CPortMap::Instance().Clear();
  CSimBench sims;
  ASSERT_TRUE(sims.Start(2, SimHandsetConfig{}));
  sims.Handset(1).AddFault(SimFault{SimFaultKind::NakFailed, 2, 1});
  PlugInPorts(host, {{1, sims.Handset(0).SlavePath()}, {2, sims.Handset(1).SlavePath()}});
  ChangeChoices(dialog, [&](ImageChoices& c) {
    c.m_bPhoneCode = 1;
    c.m_strPhonePath = MakePhoneImage(tmp.path(), 0x10000 + 6 * 1024, 0x10000);
  });
  dialog.UpdateData(false);
  auto ended = NextBoxText();
  QTest::mouseClick(window.Control(IDC_DOWNLOAD), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return !dialog.Running() && !ended->empty(); }, 120000));
  UnbindDialog(host);
  sims.Stop();
  CPortMap::Instance().Clear();

  EXPECT_EQ(window.ShiftLabel()->text().toStdString(), "completed / failed: 1 / 1 (50.0%)");
}

/// The open yield picture: its totals, then each cell as "slot colour text",
/// in slot order.
std::string Picture(QWidget* picture) {
  std::map<int, std::string> cells;
  for (QLabel* cell : picture->findChildren<QLabel*>(QRegularExpression(QStringLiteral("^COM\\d+$"))))
    cells[cell->property("slot").toInt()] =
        cell->palette().color(QPalette::Window).name().toStdString() + " " + cell->text().toStdString();
  std::string seen = picture->findChild<QLabel*>(QStringLiteral("totals"))->text().toStdString();
  for (const auto& [slot, text] : cells) seen += "\n" + std::to_string(slot) + " " + text;
  return seen;
}

std::string Cell(int slot, const QColor& colour, const std::string& text) {
  return "\n" + std::to_string(slot) + " " + colour.name().toStdString() + " " + text;
}

TEST_F(BenchRecordTest, TheYieldPictureLaysTheComNumbersOutAsTheEntriesAre) {
  const auto now = system_clock::now();
  const std::string today = IsoTime(now), earlier = IsoTime(now - hours(72));
  std::vector<HandsetRecord> records = {
      MadeUpRecord("bench", 3, today), MadeUpRecord("bench", 3, today),
      MadeUpRecord("bench", 5, today), MadeUpRecord("bench", 5, today, "Flash error!!"),
      MadeUpRecord("bench", 5, earlier, "No response"), MadeUpRecord("bench", 5, earlier, "No response"),
      MadeUpRecord("bench", 12, IsoTime(now - hours(240)), "Flash error!!")};
  for (int k = 0; k < 5; ++k) {
    // COM7 last ran on Entry1, whose place COM5 has now.
    records.push_back(MadeUpRecord("bench", 7, today, k == 0 ? "Flash error!!" : ""));
    records.back().entry = 1;
  }
  Fill(records);
  CEngineProbe::Binding(dialog, 0).m_nComPort = 5;
  CEngineProbe::Binding(dialog, 1).m_nComPort = 9;
  CBenchRecord record(window, host, dialog, history, false);

  std::string first, second;
  auto shown = AnswerNextModal([&](QWidget* picture) {
    first = Picture(picture);
    for (QRadioButton* period : picture->findChildren<QRadioButton*>())
      if (period->text() == QStringLiteral("the last 7 days")) period->click();
    second = Picture(picture);
    picture->close();
  });
  Trigger("yield");
  ASSERT_TRUE(*shown);
  const std::string others = Cell(1, kYieldNone, "COM9   -\n0 completed / 0 failed") +
                             Cell(2, kYieldGood, "COM3   100.0%\n2 completed / 0 failed") +
                             Cell(20, kYieldFair, "COM7   80.0%\n4 completed / 1 failed\nFlash error!! (1)");
  EXPECT_EQ(first, "completed / failed: 7 / 2 (77.8%)" +
                       Cell(0, kYieldPoor, "COM5   50.0%\n1 completed / 1 failed\nFlash error!! (1)") + others);
  EXPECT_EQ(second, "completed / failed: 7 / 4 (63.6%)" +
                        Cell(0, kYieldPoor, "COM5   25.0%\n1 completed / 3 failed\nNo response (2)") + others);
}

TEST_F(BenchRecordTest, TheExportWritesWhatTheCommandLineWrites) {
  Fill({MadeUpRecord("bench", 3, IsoTime(system_clock::now()), "Flash error!! \"block 2\", twice", "pci-0:1.2"),
        MadeUpRecord("bench", 4, IsoTime(system_clock::now() - hours(500)))});
  CBenchRecord record(window, host, dialog, history, false);
  const std::string target = tmp.path() + "/export.csv";
  auto chosen = AnswerNextModal([&](QWidget* modal) {
    auto* files = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(files, nullptr);
    ChooseInFileDialog(*files, QString::fromStdString(target));
  });
  Trigger("exportCsv");
  ASSERT_TRUE(*chosen);
  std::stringstream written;
  written << std::ifstream(target, std::ios::binary).rdbuf();
  const ProgramResult cli = RunProgram(VELMORA_CLI, "history --csv --history " + history, tmp);
  ASSERT_EQ(cli.status, 0) << cli.err;
  EXPECT_EQ(written.str(), cli.out);
  EXPECT_NE(cli.out.find("\"Flash error!! \"\"block 2\"\", twice\""), std::string::npos);
}

TEST_F(BenchRecordTest, AHistoryThatCannotBeReadIsToldInABox) {
  CBenchRecord record(window, host, dialog, history, false);
  const std::string garbage = "not a database, and long enough to be read as one's header......................";
  const std::tuple<std::string, const char*, std::string> cases[] = {
      {garbage, "yield", "The history cannot be read: " + history + "\n"},
      {garbage, "exportCsv", "The history cannot be read: " + history + "\n"},
      {"", "exportCsv", "No handset has been recorded yet: " + history}};
  for (const auto& [content, command, told] : cases) {
    std::filesystem::remove(history);
    if (!content.empty()) std::ofstream(history) << content;
    auto said = NextBoxText();
    Trigger(command);
    EXPECT_EQ(said->rfind(told, 0), 0u) << command << ": " << *said;
  }
  EXPECT_FALSE(std::filesystem::exists(history));  // reading made none
}

}  // namespace
