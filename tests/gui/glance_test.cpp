// What an operator must tell from the window at a glance, on whole runs
// against simulated handsets: which socket failed, how the run went, and
// that a close question does not outlive the run it was about.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "ControlIds.h"
#include "GuiTestUtil.h"
#include "HostBinding.h"
#include "LogView.h"
#include "MySliderCtrl.h"
#include "QtDialogHost.h"
#include "platform/Registry.h"
#include "TestUtil.h"
#include "TextProgressCtrl.h"
#include "VelmoraDlg.h"
#include "VelmoraWindow.h"
#include "WindowArgs.h"
#include "platform/PortMap.h"
#include "sim/SimBench.h"

namespace {

constexpr int kRunLimitMs = 120000;

// Counts the calls for attention the window makes.
class CCountingHost : public CQtDialogHost {
 public:
  using CQtDialogHost::CQtDialogHost;
  void AskAttention() override {
    ++attention;
    CQtDialogHost::AskAttention();
  }
  int attention = 0;
};

// One box the run opened, as the operator saw it.
struct SeenBox {
  std::string text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool questionStillShown = false;
};

class GlanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch.isValid());
    CRegistry::SetStorePath(scratch.filePath(QStringLiteral("settings.ini")).toStdString());
    CPortMap::Instance().Clear();
    ASSERT_TRUE(sims.Start(kHandsets, SimHandsetConfig{}));
    BindDialog(host, dialog);
    dialog.OnInitDialog();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    std::vector<std::pair<int, std::string>> ports;
    for (int i = 0; i < kHandsets; ++i) ports.emplace_back(i + 1, sims.Handset(i).SlavePath());
    PlugInPorts(host, ports);
  }
  void TearDown() override {
    UnbindDialog(host);
    sims.Stop();
    CPortMap::Instance().Clear();
    CRegistry::SetStorePath("");
  }

  void ChoosePhone(uint32_t blocks) {
    ChangeChoices(dialog, [&](ImageChoices& c) {
      c.m_bPhoneCode = 1;
      c.m_strPhonePath = MakePhoneImage(tmp.path(), 0x10000 + blocks * 1024, 0x10000);
    });
    dialog.UpdateData(false);
  }

  // Answers every box that opens, keeping what it said. A question is left
  // to the operator, who looks away: it is only answered No once it has
  // outlived the run by seconds, so that a test of it fails instead of hanging.
  void WatchBoxes() {
    auto* poll = new QTimer(&window);
    auto idle = std::make_shared<QElapsedTimer>();
    QObject::connect(poll, &QTimer::timeout, poll, [this, idle] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      if (box->button(QMessageBox::Yes) != nullptr) {
        question = box;
        asked = true;
        if (dialog.Running() || !idle->isValid()) idle->start();
        if (!dialog.Running() && idle->elapsed() > 3000) box->button(QMessageBox::No)->click();
        return;
      }
      boxes.push_back({box->text().toStdString(), box->icon(), question && question->isVisible()});
      box->accept();
    });
    poll->start(10);
  }

  static constexpr int kHandsets = 2;
  QTemporaryDir scratch;
  CTempDir tmp;
  CSimBench sims;
  CVelmoraWindow window;
  CCountingHost host{window};
  CVelmoraDlg dialog{host};
  std::vector<SeenBox> boxes;
  QPointer<QMessageBox> question;
  bool asked = false;
};

TEST_F(GlanceTest, AFailedSocketIsMarkedCountedAndItsLogIsAClickAway) {
  sims.Handset(1).AddFault(SimFault{SimFaultKind::NakFailed, 2, 1});
  ChoosePhone(6);
  WatchBoxes();
  QTest::mouseClick(window.Control(IDC_DOWNLOAD), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return !dialog.Running() && !boxes.empty(); }, kRunLimitMs));

  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Download Completed.\n1 completed, 1 failed\nEntry 2 [COM2]: Flash error!!");
  EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
  EXPECT_EQ(host.attention, 1);

  // The failed entry lost its port, not its socket's number.
  auto* label = qobject_cast<QLabel*>(window.Control(kPortLabelIds[1]));
  EXPECT_EQ(label->text().toStdString(), "[COM2]×");
  EXPECT_TRUE(label->property("failed").toBool());
  EXPECT_FALSE(window.Control(kEntryCheckIds[1])->isEnabled());
  EXPECT_EQ(host.GetControlText(kPortLabelIds[0]), "[COM1]");
  EXPECT_FALSE(window.Control(kPortLabelIds[0])->property("failed").toBool());

  // A click on its bar shows its log; one on the other's label, the other's.
  QTest::mouseClick(window.ProgressBar(1), Qt::LeftButton);
  EXPECT_EQ(window.Slider()->value(), 1);
  EXPECT_TRUE(window.LogView(1)->isVisible());
  EXPECT_FALSE(window.LogView(0)->isVisible());
  EXPECT_TRUE(WaitFor([&] { return window.LogView(1)->toPlainText().contains(QStringLiteral("Flash error!!")); }));
  QTest::mouseClick(label, Qt::LeftButton);
  EXPECT_EQ(host.GetControlText(IDC_ENTRY_LABEL), "Entry 2");
  QTest::mouseClick(window.Control(kPortLabelIds[0]), Qt::LeftButton);
  EXPECT_TRUE(window.LogView(0)->isVisible());

  // The handset is pulled: its socket stops standing for a failure.
  DevBroadcastPort port;
  port.number = 2;
  host.Dispatch(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<intptr_t>(&port));
  EXPECT_EQ(label->text().toStdString(), "");
  EXPECT_FALSE(label->property("failed").toBool());
}

TEST_F(GlanceTest, TheCloseQuestionGoesWhenTheRunEndsUnderIt) {
  for (int i = 0; i < kHandsets; ++i) sims.Handset(i).SetPace(8000);
  ChoosePhone(6);
  WatchBoxes();
  QTest::mouseClick(window.Control(IDC_DOWNLOAD), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return sims.Handset(0).Record().blocksWritten >= 1; }, kRunLimitMs));
  // The operator asks to close and then looks away until the run is over.
  window.close();
  ASSERT_TRUE(asked);
  EXPECT_FALSE(dialog.Running());
  EXPECT_TRUE(question.isNull() || !question->isVisible());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Download Completed.\n2 completed, 0 failed");
  EXPECT_FALSE(boxes[0].questionStillShown);
  // The question went unanswered: the window stays, its run completed.
  EXPECT_TRUE(window.isVisible());
  for (int i = 0; i < kHandsets; ++i) EXPECT_EQ(dialog.Outcome(i).m_nResult, RESULT_COMPLETED) << i;
}

}  // namespace
