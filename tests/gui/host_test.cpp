// The Qt host of the dialog: posted messages, timers, message boxes, file
// dialogs, and the controls as the dialog's logic addresses them.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QThread>
#include <thread>
#include <vector>

#include "ControlIds.h"
#include "DialogMapping.h"
#include "GuiTestUtil.h"
#include "LogView.h"
#include "QtDialogHost.h"
#include "TextProgressCtrl.h"
#include "VelmoraWindow.h"

namespace {

struct Received {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
  bool onGuiThread;
};

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.SetWindowProc([this](uint32_t m, uintptr_t w, intptr_t l) -> intptr_t {
      received.push_back({m, w, l, QThread::currentThread() == qApp->thread()});
      return 1;
    });
  }

  int CountOf(uint32_t message, uintptr_t wParam) const {
    int n = 0;
    for (const Received& r : received) n += (r.message == message && r.wParam == wParam) ? 1 : 0;
    return n;
  }

  CVelmoraWindow window;
  CQtDialogHost host{window};
  std::vector<Received> received;
};

TEST_F(HostTest, MessagesPostedFromManyThreadsArriveOnTheGuiThreadInOrder) {
  constexpr int kThreads = 4, kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([this, t] {
      for (int k = 0; k < kEach; ++k) ASSERT_TRUE(host.PostMessage(WM_ENTRY_LOG + t, 0, k));
    });
  for (auto& th : threads) th.join();
  EXPECT_TRUE(received.empty());  // queued, not dispatched on the posting thread
  ASSERT_TRUE(WaitFor([&] { return received.size() == kThreads * kEach; }));
  int next[kThreads] = {};
  for (const Received& r : received) {
    EXPECT_TRUE(r.onGuiThread);
    const int t = static_cast<int>(r.message - WM_ENTRY_LOG);
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(r.lParam, next[t]++);
  }
}

TEST_F(HostTest, TimersRepeatUntilKilledAndReArmingReplaces) {
  host.SetTimer(3, 15);
  host.SetTimer(3, 15);  // the same timer again, not a second one
  ASSERT_TRUE(WaitFor([&] { return CountOf(WM_TIMER, 3) >= 3; }));
  host.KillTimer(3);
  EXPECT_FALSE(host.IsTimerActive(3));
  const int fired = CountOf(WM_TIMER, 3);
  QTest::qWait(60);
  EXPECT_EQ(CountOf(WM_TIMER, 3), fired);

  host.SetTimer(7, 10000);
  host.SetTimer(7, 10);  // replaced by the shorter one
  ASSERT_TRUE(WaitFor([&] { return CountOf(WM_TIMER, 7) >= 1; }, 2000));
  host.KillTimer(7);
  host.KillTimer(12);  // never armed: harmless
}

TEST_F(HostTest, ClockIsMonotonicMilliseconds) {
  const uint32_t a = host.ClockMs();
  QTest::qWait(30);
  const uint32_t b = host.ClockMs();
  EXPECT_GE(b - a, 25u);
  EXPECT_LT(b - a, 5000u);
}

TEST_F(HostTest, PostQuitEndsTheModalLoop) {
  QTimer::singleShot(0, &window, [this] { host.PostQuit(); });
  QTimer::singleShot(5000, &window, [this] { window.done(99); });  // never hang
  EXPECT_EQ(window.exec(), IDCANCEL);
}

TEST(MessageBoxMapping, FlagsBecomeIconsAndButtons) {
  EXPECT_EQ(MessageBoxIcon(MB_OK), QMessageBox::NoIcon);
  EXPECT_EQ(MessageBoxIcon(MB_YESNO | MB_ICONHAND), QMessageBox::Critical);
  EXPECT_EQ(MessageBoxIcon(MB_ICONEXCLAMATION), QMessageBox::Warning);
  EXPECT_EQ(MessageBoxIcon(MB_ICONINFORMATION | MB_SYSTEMMODAL), QMessageBox::Information);
  EXPECT_EQ(MessageBoxIcon(MB_ICONQUESTION), QMessageBox::Question);
  EXPECT_EQ(MessageBoxButtons(MB_OK | MB_ICONHAND), QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(MessageBoxButtons(MB_YESNO), QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(MessageBoxAnswer(MB_YESNO, QMessageBox::Yes), IDYES);
  EXPECT_EQ(MessageBoxAnswer(MB_YESNO, QMessageBox::No), IDNO);
  EXPECT_EQ(MessageBoxAnswer(MB_YESNO, QMessageBox::Escape), IDNO);
  EXPECT_EQ(MessageBoxAnswer(MB_OK, QMessageBox::Ok), IDOK);
}

TEST_F(HostTest, MessageBoxShowsTextIconAndButtonsAndReturnsTheAnswer) {
  struct Case {
    uint32_t type;
    QMessageBox::StandardButton press;  // NoButton: Escape
    QMessageBox::Icon icon;
    int answer;
  };
  const Case cases[] = {
      {MB_YESNO | MB_ICONHAND, QMessageBox::Yes, QMessageBox::Critical, IDYES},
      {MB_YESNO | MB_ICONHAND, QMessageBox::No, QMessageBox::Critical, IDNO},
      {MB_YESNO, QMessageBox::NoButton, QMessageBox::NoIcon, IDNO},
      {MB_OK | MB_ICONINFORMATION, QMessageBox::Ok, QMessageBox::Information, IDOK},
      {MB_OK | MB_ICONEXCLAMATION, QMessageBox::Ok, QMessageBox::Warning, IDOK},
  };
  for (const Case& c : cases) {
    std::string text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    auto answered = AnswerNextModal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      if (box == nullptr) {
        modal->close();
        return;
      }
      text = box->text().toStdString();
      title = box->windowTitle().toStdString();
      icon = box->icon();
      buttons = static_cast<int>(box->standardButtons());
      if (c.press == QMessageBox::NoButton)
        QTest::keyClick(box, Qt::Key_Escape);
      else
        box->button(c.press)->click();
    });
    const int answer = host.MessageBox("다운로드용 파일이 아닙니다.", c.type);
    ASSERT_TRUE(*answered);
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(text, "다운로드용 파일이 아닙니다.");
    EXPECT_EQ(title, "Velmora");
    EXPECT_EQ(icon, c.icon);
    EXPECT_EQ(buttons, static_cast<int>(MessageBoxButtons(c.type)));
  }
}

TEST(FileDialogMapping, FiltersAndInitialDirectory) {
  EXPECT_EQ(QtNameFilters("Download Phone Binary (*.bin)|*.bin|All Files (*.*)|*.*||"),
            (QStringList{"Download Phone Binary (*.bin)", "All Files (*.*)"}));
  EXPECT_EQ(QtNameFilters("Images|*.bin;*.mot|Everything|*||"), (QStringList{"Images (*.bin *.mot)", "Everything (*)"}));
  EXPECT_EQ(QtNameFilters(""), QStringList{});
  EXPECT_EQ(QtNameFilters("Dangling|"), QStringList{});
  EXPECT_EQ(InitialDirectory("/home/op/img/*.bin").toStdString(), "/home/op/img/");
  EXPECT_EQ(InitialDirectory("C:\\*.bin").toStdString(), "C:\\");
  EXPECT_EQ(InitialDirectory("*.bin").toStdString(), "");
}

TEST_F(HostTest, OpenFileDialogOpensInTheRememberedDirectoryAndReturnsTheChoice) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath(QStringLiteral("phone.bin"));
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
  }
  QString openedIn;
  QStringList filters;
  auto answered = AnswerNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    openedIn = dialog->directory().absolutePath();
    filters = dialog->nameFilters();
    ChooseInFileDialog(*dialog, file);
  });
  const auto chosen = host.OpenFileDialog("Download Phone Binary (*.bin)|*.bin|All Files (*.*)|*.*||",
                                          dir.path().toStdString() + "/*.bin", "bin");
  ASSERT_TRUE(*answered);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(QFileInfo(QString::fromStdString(*chosen)).canonicalFilePath(), QFileInfo(file).canonicalFilePath());
  EXPECT_EQ(QDir(openedIn).canonicalPath(), QDir(dir.path()).canonicalPath());
  EXPECT_EQ(filters, (QStringList{"Download Phone Binary (*.bin)", "All Files (*.*)"}));

  auto cancelled = AnswerNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
  EXPECT_FALSE(host.OpenFileDialog("A|*.bin||", dir.path().toStdString() + "/*.bin", "bin").has_value());
  EXPECT_TRUE(*cancelled);
}

TEST_F(HostTest, BrowseFolderReturnsTheChosenFolderOrNothing) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("efs")));
  const QString folder = dir.filePath(QStringLiteral("efs"));
  auto answered = AnswerNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    ChooseInFileDialog(*dialog, folder);
  });
  const auto chosen = host.BrowseFolder();
  ASSERT_TRUE(*answered);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(QDir(QString::fromStdString(*chosen)).canonicalPath(), QDir(folder).canonicalPath());

  auto cancelled = AnswerNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
  EXPECT_FALSE(host.BrowseFolder().has_value());
  EXPECT_TRUE(*cancelled);
}

TEST_F(HostTest, ControlsAreReachedByIdWhateverTheirKind) {
  host.SetControlText(IDC_PHONE_TEXT, "/img/폰.bin");
  EXPECT_EQ(host.GetControlText(IDC_PHONE_TEXT), "/img/폰.bin");
  EXPECT_EQ(qobject_cast<QLineEdit*>(window.Control(IDC_PHONE_TEXT))->text(), QString::fromUtf8("/img/폰.bin"));
  host.SetControlText(kPortLabelIds[3], "[COM7]");
  EXPECT_EQ(qobject_cast<QLabel*>(window.Control(kPortLabelIds[3]))->text().toStdString(), "[COM7]");
  host.SetControlText(kProgressIds[2], "Erasing Flash...");  // the bar's window text is its caption
  EXPECT_EQ(window.ProgressBar(2)->GetText(), "Erasing Flash...");
  EXPECT_EQ(host.GetControlText(kProgressIds[2]), "Erasing Flash...");

  host.SetCheck(IDC_BOOTLOADER, 1);
  EXPECT_TRUE(qobject_cast<QPushButton*>(window.Control(IDC_BOOTLOADER))->isChecked());
  EXPECT_EQ(host.GetCheck(IDC_BOOTLOADER), 1);
  host.SetCheck(IDC_AUTO_DETECT, 1);
  EXPECT_EQ(host.GetCheck(IDC_AUTO_DETECT), 1);
  EXPECT_EQ(host.GetCheck(IDC_DOWNLOAD), 0);

  host.SetComboSel(IDC_DOWNLOAD_TYPE, 2);
  EXPECT_EQ(host.GetComboSel(IDC_DOWNLOAD_TYPE), 2);
  host.SetComboSel(IDC_ENTRY_COMBO, 25);  // no such item: nothing selected
  EXPECT_EQ(host.GetComboSel(IDC_ENTRY_COMBO), -1);

  for (int k = 1; k <= 30; ++k) host.AddListItem(IDC_PORT_LIST, "COM" + std::to_string(k));
  auto* list = qobject_cast<QListWidget*>(window.Control(IDC_PORT_LIST));
  ASSERT_EQ(list->count(), 30);
  list->item(1)->setSelected(true);
  list->item(3)->setSelected(true);
  EXPECT_TRUE(host.IsListItemSelected(IDC_PORT_LIST, 1));
  EXPECT_TRUE(host.IsListItemSelected(IDC_PORT_LIST, 3));
  EXPECT_FALSE(host.IsListItemSelected(IDC_PORT_LIST, 2));
  EXPECT_FALSE(host.IsListItemSelected(IDC_PORT_LIST, 30));
  // Renaming an item keeps its selection; an index out of range is ignored.
  host.SetListItemText(IDC_PORT_LIST, 3, "COM4  /dev/ttyACM1");
  host.SetListItemText(IDC_PORT_LIST, 30, "COM31");
  EXPECT_EQ(list->item(3)->text().toStdString(), "COM4  /dev/ttyACM1");
  EXPECT_TRUE(host.IsListItemSelected(IDC_PORT_LIST, 3));
  EXPECT_EQ(list->count(), 30);

  host.SetSliderRange(IDC_ENTRY_SLIDER, 0, 19);
  host.SetSliderPos(IDC_ENTRY_SLIDER, 25);  // clamped by the slider
  EXPECT_EQ(host.GetSliderPos(IDC_ENTRY_SLIDER), 19);

  host.EnableControl(IDC_DOWNLOAD, false);
  EXPECT_FALSE(window.Control(IDC_DOWNLOAD)->isEnabled());
  host.ShowControl(IDC_PORT_LIST, false);
  EXPECT_TRUE(window.Control(IDC_PORT_LIST)->isHidden());
  host.ShowControl(IDC_AUTO_DETECT, true);
  EXPECT_FALSE(window.Control(IDC_AUTO_DETECT)->isHidden());

  // Unknown ids are ignored.
  host.SetControlText(4242, "x");
  host.EnableControl(4242, false);
  EXPECT_EQ(host.GetControlText(4242), "");
  EXPECT_EQ(host.GetCheck(4242), 0);
  EXPECT_EQ(&host.ProgressBar(3), static_cast<IProgressBar*>(window.ProgressBar(3)));
  host.ProgressBar(20).SetPos(5);  // out of range: a bar nobody sees
  host.SetPortHint(2, "/dev/ttyACM0");
  EXPECT_EQ(window.Control(kPortLabelIds[2])->toolTip().toStdString(), "/dev/ttyACM0");
}

TEST_F(HostTest, WindowClicksAndCloseReachTheWindowProcedure) {
  std::vector<std::string> order;
  host.SetOnClose([&] { order.push_back("OnClose"); });
  host.SetWindowProc([&](uint32_t m, uintptr_t w, intptr_t) -> intptr_t {
    order.push_back(std::to_string(m) + ":" + std::to_string(w));
    return 0;
  });
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTest::mouseClick(window.Control(IDC_QBFS), Qt::LeftButton);
  window.close();
  EXPECT_EQ(order, (std::vector<std::string>{std::to_string(WM_COMMAND) + ":" + std::to_string(IDC_QBFS), "OnClose",
                                             std::to_string(WM_COMMAND) + ":" + std::to_string(IDCANCEL)}));
}

TEST_F(HostTest, LogLinesAreBoldColouredAndEachBeginsWithALineBreak) {
  host.AppendLogLine(0, MakeRgb(255, 0, 0), "USB 연결 상태를 확인하세요.");
  host.AppendLogLine(0, MakeRgb(0, 0, 0), "");
  host.AppendLogLine(0, MakeRgb(0, 0, 255), "Downloading Completed.");
  host.AppendLogLine(5, MakeRgb(0, 0, 255), "other entry");
  host.AppendLogLine(20, MakeRgb(0, 0, 255), "nowhere");  // out of range: ignored
  CLogView* view = window.LogView(0);
  // The lines of one turn of the loop reach their views together, after it.
  EXPECT_EQ(view->toPlainText().toStdString(), "");
  ASSERT_TRUE(WaitFor([&] { return !view->toPlainText().isEmpty(); }));
  EXPECT_EQ(view->toPlainText().toStdString(), "\nUSB 연결 상태를 확인하세요.\n\nDownloading Completed.");
  EXPECT_EQ(window.LogView(5)->toPlainText().toStdString(), "\nother entry");
  EXPECT_TRUE(view->isReadOnly());
  EXPECT_FALSE(view->document()->isUndoAvailable());

  const QTextDocument* doc = view->document();
  ASSERT_EQ(doc->blockCount(), 4);
  auto formatAt = [doc](int block) {
    QTextCursor c(doc->findBlockByNumber(block));
    c.movePosition(QTextCursor::NextCharacter);
    return c.charFormat();
  };
  EXPECT_EQ(formatAt(1).foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(formatAt(1).fontWeight(), QFont::Bold);
  EXPECT_EQ(formatAt(3).foreground().color(), QColor(0, 0, 255));
  EXPECT_EQ(formatAt(3).fontWeight(), QFont::Bold);
}

}  // namespace
