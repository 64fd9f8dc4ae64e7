// A whole DownLoad through the window: two simulated handsets plugged in,
// the phone code chosen in the file dialog, DownLoad clicked, and the run
// followed on the bars, the logs and the handsets' flash.
#include <QAbstractButton>
#include <QPushButton>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

#include "ControlIds.h"
#include "DialogWindowFixture.h"
#include "GuiTestUtil.h"
#include "LogView.h"
#include "TestUtil.h"
#include "TextProgressCtrl.h"
#include "WindowArgs.h"
#include "platform/PortMap.h"
#include "sim/SimBench.h"

namespace {

constexpr int kHandsets = 2;
constexpr int kRunLimitMs = 120000;

class DownloadWindowTest : public DialogWindowTest {
 protected:
  void SetUp() override {
    g_efsFileList = EfsFileList();
    CPortMap::Instance().Clear();
    ASSERT_TRUE(sims.Start(kHandsets, SimHandsetConfig{}));
    DialogWindowTest::SetUp();
  }
  void TearDown() override {
    DialogWindowTest::TearDown();
    sims.Stop();
    CPortMap::Instance().Clear();
  }

  CSimBench sims;
  CTempDir tmp;
};

TEST_F(DownloadWindowTest, PhoneCodeReachesBothHandsetsAndTheBarsSayCompleted) {
  // As the program does with its --port arguments.
  std::vector<std::pair<int, std::string>> ports;
  for (int i = 0; i < kHandsets; ++i) ports.emplace_back(i + 1, sims.Handset(i).SlavePath());
  PlugInPorts(host, ports);
  for (int i = 0; i < kHandsets; ++i) {
    EXPECT_TRUE(window.Control(kEntryCheckIds[i])->isEnabled()) << i;
    EXPECT_EQ(host.GetControlText(kPortLabelIds[i]), "[COM" + std::to_string(i + 1) + "]");
  }
  EXPECT_FALSE(window.Control(kEntryCheckIds[kHandsets])->isEnabled());

  const std::string image = MakePhoneImage(tmp.path(), 0x10000 + 12 * 1024 + 77, 0x10000);
  auto chosen = AnswerNextModal([&](QWidget* modal) {
    auto* files = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(files, nullptr);
    ChooseInFileDialog(*files, QString::fromStdString(image));
  });
  QTest::mouseClick(window.Control(IDC_PHONE_CODE), Qt::LeftButton);
  ASSERT_TRUE(*chosen);
  ASSERT_EQ(host.GetCheck(IDC_PHONE_CODE), 1);

  std::string announced;
  auto ended = AnswerNextModal(
      [&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) announced = box->text().toStdString();
        modal->close();
      },
      kRunLimitMs);
  QTest::mouseClick(window.Control(IDC_DOWNLOAD), Qt::LeftButton);
  EXPECT_FALSE(window.Control(IDC_DOWNLOAD)->isEnabled());  // disabled for the run
  ASSERT_TRUE(WaitFor([&] { return dialog.m_bRunning == 0 && *ended; }, kRunLimitMs));
  EXPECT_EQ(announced, "Download Completed.\n2 completed, 0 failed");

  std::vector<uint8_t> bytes = ReadFile(image);
  std::vector<uint8_t> want(bytes.begin() + 0x10000, bytes.end());
  want.resize((want.size() + 1023) / 1024 * 1024, 0xFF);
  for (int i = 0; i < kHandsets; ++i) {
    SCOPED_TRACE(i);
    CTextProgressCtrl* bar = window.ProgressBar(i);
    EXPECT_EQ(bar->GetText(), "Download Completed.");
    EXPECT_EQ(bar->GetPos(), 100);
    // Full: the top row is bar colour from end to end.
    const QImage picture = Grab(*bar);
    EXPECT_EQ(CountPixels(picture, QRect(0, 0, picture.width(), 1), qRgb(0, 0, 128)), picture.width());
    // The caption: small antialiased text leaves few exactly white pixels,
    // so count the light ones, which navy bar pixels never are.
    int light = 0;
    for (int y = 0; y < picture.height(); ++y)
      for (int x = 0; x < picture.width(); ++x) light += qGray(picture.pixel(x, y)) > 180 ? 1 : 0;
    EXPECT_GT(light, 10);

    // The run ends before the last entry's log message is handled: the line
    // is still queued then, so wait for it.
    auto log = [&] { return window.LogView(i)->toPlainText(); };
    EXPECT_TRUE(WaitFor([&] { return log().contains(QStringLiteral("Downloading Completed.")); }, 30000))
        << log().toStdString();
    EXPECT_TRUE(log().startsWith(QLatin1Char('\n')));

    SimRecord record = sims.Handset(i).Record();
    EXPECT_TRUE(record.violations.empty()) << (record.violations.empty() ? "" : record.violations[0]);
    EXPECT_EQ(record.flash.Read(0x10000, static_cast<uint32_t>(want.size())), want);
  }
  EXPECT_EQ(window.ProgressBar(kHandsets)->GetText(), "");
  EXPECT_TRUE(window.Control(IDC_DOWNLOAD)->isEnabled());
  EXPECT_NE(host.GetControlText(IDC_ELAPSED), "");
}

TEST_F(DownloadWindowTest, AnEntryTheOperatorUntickedIsLeftAlone) {
  std::vector<std::pair<int, std::string>> ports;
  for (int i = 0; i < kHandsets; ++i) ports.emplace_back(i + 1, sims.Handset(i).SlavePath());
  PlugInPorts(host, ports);
  auto* second = qobject_cast<QAbstractButton*>(window.Control(kEntryCheckIds[1]));
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->isChecked());  // a bound port takes part unless told otherwise
  QTest::mouseClick(second, Qt::LeftButton);
  ASSERT_FALSE(second->isChecked());

  const std::string image = MakePhoneImage(tmp.path(), 0x10000 + 2 * 1024, 0x10000);
  dialog.m_bPhoneCode = 1;
  dialog.m_strPhonePath = image;
  dialog.UpdateData(false);
  auto ended = AnswerNextModal([](QWidget* modal) { modal->close(); }, kRunLimitMs);
  QTest::mouseClick(window.Control(IDC_DOWNLOAD), Qt::LeftButton);
  EXPECT_FALSE(window.Control(kEntryCheckIds[0])->isEnabled());
  EXPECT_FALSE(second->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return dialog.m_bRunning == 0 && *ended; }, kRunLimitMs));
  EXPECT_EQ(window.ProgressBar(0)->GetText(), "Download Completed.");
  EXPECT_EQ(window.ProgressBar(1)->GetText(), "");
  EXPECT_TRUE(sims.Handset(1).Record().requests.empty());
  EXPECT_FALSE(sims.Handset(0).Record().requests.empty());
  EXPECT_TRUE(second->isEnabled());
  EXPECT_FALSE(second->isChecked());
}

}  // namespace

namespace {

TEST_F(DownloadWindowTest, ClosingDuringARunAsksFirstNoKeepsItYesStopsIt) {
  sims.Handset(0).SetPace(4000);
  sims.Handset(1).SetPace(4000);
  std::vector<std::pair<int, std::string>> ports;
  for (int i = 0; i < kHandsets; ++i) ports.emplace_back(i + 1, sims.Handset(i).SlavePath());
  PlugInPorts(host, ports);
  dialog.m_bPhoneCode = 1;
  dialog.m_strPhonePath = MakePhoneImage(tmp.path(), 0x10000 + 40 * 1024, 0x10000);
  dialog.UpdateData(false);
  QTest::mouseClick(window.Control(IDC_DOWNLOAD), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return sims.Handset(0).Record().blocksWritten >= 1; }, kRunLimitMs));

  // Asked with No as the default: taking the default keeps window and run.
  std::string question;
  bool noIsDefault = false;
  auto asked = AnswerNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    question = box->text().toStdString();
    noIsDefault = static_cast<QAbstractButton*>(box->defaultButton()) == box->button(QMessageBox::No);
    QTest::keyClick(box, Qt::Key_Return);
  });
  window.close();
  ASSERT_TRUE(*asked);
  EXPECT_EQ(question, "다운로드가 진행 중입니다.\n정말 다운로드를 중단하고 종료하시겠습니까?");
  EXPECT_TRUE(noIsDefault);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(dialog.m_bRunning, 1);
  EXPECT_EQ(dialog.m_bClosing, 0);

  auto yes = AnswerNextModal([](QWidget* modal) { qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Yes)->click(); });
  window.close();
  ASSERT_TRUE(*yes);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(dialog.m_bRunning, 0);
  EXPECT_EQ(dialog.m_bClosing, 1);
  for (int i = 0; i < kHandsets; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(dialog.m_entries[i].m_nResult, RESULT_FAILED);
    EXPECT_FALSE(dialog.m_entries[i].m_comm.IsOpen());
    EXPECT_EQ(sims.Handset(i).Record().transfersDone, 0);
  }
}

}  // namespace
