// The window with the real dialog behind it: the state after start-up, and
// what the operator's keys and clicks do there.
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

#include "ControlIds.h"
#include "DialogWindowFixture.h"
#include "GuiTestUtil.h"
#include "LogView.h"
#include "MySliderCtrl.h"
#include "TextProgressCtrl.h"

namespace {

constexpr Rgb kWhite = MakeRgb(255, 255, 255);
constexpr Rgb kLightGrey = MakeRgb(192, 192, 192);
constexpr Rgb kNavy = MakeRgb(0, 0, 128);

std::string Text(CVelmoraWindow& w, int id) {
  if (auto* e = qobject_cast<QLineEdit*>(w.Control(id))) return e->text().toStdString();
  return {};
}

TEST_F(DialogWindowTest, StartUpShowsAutoDetectModeWithNoPortBound) {
  EXPECT_EQ(dialog.m_bAutoDetect, 1);
  EXPECT_EQ(host.GetCheck(IDC_AUTO_DETECT), 1);
  EXPECT_FALSE(Seen(IDC_AUTO_DETECT));  // the mode cannot be changed
  EXPECT_FALSE(Seen(IDC_PORT_LIST));
  auto* list = qobject_cast<QListWidget*>(window.Control(IDC_PORT_LIST));
  ASSERT_EQ(list->count(), 30);
  EXPECT_EQ(list->item(0)->text().toStdString(), "COM1");
  EXPECT_EQ(list->item(29)->text().toStdString(), "COM30");
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    EXPECT_TRUE(Seen(kEntryCheckIds[i])) << i;
    EXPECT_FALSE(window.Control(kEntryCheckIds[i])->isEnabled()) << i;
    EXPECT_TRUE(Seen(kPortLabelIds[i])) << i;
    EXPECT_EQ(host.GetControlText(kPortLabelIds[i]), "") << i;
  }
}

TEST_F(DialogWindowTest, StartUpStateOfTheRunControlsAndFields) {
  for (int id : {IDC_DOWNLOAD, IDC_PORT_SEARCH, IDC_PHONE_CODE, IDC_BOOTLOADER, IDC_QBFS, IDC_EFS2,
                 IDC_CREATE_RESOURCE, IDC_ENTRY_SLIDER, IDC_ENTRY_LABEL}) {
    EXPECT_TRUE(window.Control(id)->isEnabled()) << id;
    EXPECT_TRUE(Seen(id)) << id;
  }
  for (int id : {IDC_PHONE_CODE, IDC_BOOTLOADER, IDC_QBFS, IDC_EFS2, IDC_CHANGE_DOWNLOADER})
    EXPECT_EQ(host.GetCheck(id), 0) << id;
  EXPECT_FALSE(window.Control(IDC_ELAPSED)->isEnabled());
  EXPECT_EQ(Text(window, IDC_ENTRY_LABEL), "Entry 1");
  auto* slider = window.Slider();
  EXPECT_EQ(slider->minimum(), 0);
  EXPECT_EQ(slider->maximum(), 19);
  EXPECT_EQ(slider->value(), 0);
  EXPECT_EQ(Text(window, IDC_ADDRESS1), "20000");
  EXPECT_EQ(Text(window, IDC_ADDRESS2), "0");
  EXPECT_EQ(Text(window, IDC_ADDRESS3), "20000");
  EXPECT_EQ(Text(window, IDC_ADDRESS4), "740000");
  EXPECT_EQ(Text(window, IDC_ADDRESS5), "900000");
  EXPECT_EQ(dialog.m_bInputAddress, 0);
  EXPECT_EQ(dialog.m_nSelEntry, 0);
  EXPECT_EQ(host.GetComboSel(IDC_DOWNLOAD_TYPE), 0);
  EXPECT_EQ(host.GetComboSel(IDC_ENTRY_COMBO), 0);
  // Every view and status edit is shown; the first entry's lie on top.
  for (int i = 0; i < MAX_ENTRIES; ++i) EXPECT_TRUE(Seen(kLogViewIds[i])) << i;
  EXPECT_EQ(window.childAt(window.Control(kLogViewIds[0])->geometry().center())->parentWidget(),
            window.Control(kLogViewIds[0]));
}

TEST_F(DialogWindowTest, StartUpResetsEveryBarToAnEmptyBarWithoutText) {
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    CTextProgressCtrl* bar = window.ProgressBar(i);
    EXPECT_EQ(bar->GetMinimum(), 0);
    EXPECT_EQ(bar->GetMaximum(), 100);
    EXPECT_EQ(bar->GetPos(), 0);
    EXPECT_EQ(bar->GetText(), "");
    EXPECT_EQ(bar->GetTextOnBarColour(), kWhite);
    EXPECT_EQ(bar->GetBgColour(), kLightGrey);
    EXPECT_EQ(bar->GetBarColour(), kNavy);
    EXPECT_EQ(bar->GetTextOnBgColour(), kNavy);
  }
  const QImage image = Grab(*window.ProgressBar(7));
  EXPECT_EQ(CountPixels(image, image.rect(), qRgb(192, 192, 192)), image.width() * image.height());
}

TEST_F(DialogWindowTest, EnablingControlsAroundARun) {
  dialog.EnableControls(0);
  for (int id : {IDC_DOWNLOAD, IDC_BOOTLOADER, IDC_RESOURCE, IDC_EFS2, IDC_QBFS, IDC_PHONE_CODE,
                 IDC_CHANGE_DOWNLOADER, IDC_PORT_LIST, IDC_PORT_SEARCH})
    EXPECT_FALSE(window.Control(id)->isEnabled()) << id;
  EXPECT_TRUE(window.Control(IDC_ENTRY_SLIDER)->isEnabled());
  EXPECT_TRUE(window.Control(IDC_CREATE_RESOURCE)->isEnabled());
  dialog.EnableControls(1);
  EXPECT_TRUE(window.Control(IDC_DOWNLOAD)->isEnabled());
  EXPECT_TRUE(window.Control(IDC_PORT_SEARCH)->isEnabled());
  EXPECT_FALSE(window.Control(IDC_CHANGE_DOWNLOADER)->isEnabled());
  dialog.m_bChangeDownloader = 1;
  dialog.EnableControls(1);
  EXPECT_TRUE(window.Control(IDC_CHANGE_DOWNLOADER)->isEnabled());
}

TEST_F(DialogWindowTest, SliderKeysShowTheChosenEntry) {
  window.Slider()->setFocus();
  for (int k = 0; k < 4; ++k) QTest::keyClick(window.Slider(), Qt::Key_Right);
  EXPECT_EQ(dialog.m_nSelEntry, 4);
  EXPECT_EQ(Text(window, IDC_ENTRY_LABEL), "Entry 5");
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    EXPECT_EQ(Seen(kLogViewIds[i]), i == 4) << i;
    EXPECT_EQ(Seen(kStatusIds[i]), i == 4) << i;
  }
  EXPECT_TRUE(Seen(1061));
  EXPECT_TRUE(Seen(1067));
  EXPECT_EQ(host.GetComboSel(IDC_ENTRY_COMBO), 4);
  QTest::keyClick(window.Slider(), Qt::Key_End);
  EXPECT_EQ(Text(window, IDC_ENTRY_LABEL), "Entry 20");
  EXPECT_TRUE(Seen(kLogViewIds[19]));
}

TEST_F(DialogWindowTest, LogLinesOfAConnectedEntryReachItsViewThroughTheQueue) {
  dialog.m_entries[2].m_bConnected = 1;
  dialog.PutLog(2, LOG_ERROR, "Flash error!!");
  dialog.PutLog(2, LOG_STATUS, "패킷 재전송합니다.");
  dialog.PutLog(3, LOG_INFO, "not connected");  // dropped when drained
  CLogView* view = window.LogView(2);
  EXPECT_EQ(view->toPlainText().toStdString(), "");  // posted, not yet handled
  ASSERT_TRUE(WaitFor([&] { return view->document()->blockCount() == 3; }));
  EXPECT_EQ(view->toPlainText().toStdString(), "\nFlash error!!\n패킷 재전송합니다.");
  QApplication::processEvents();
  EXPECT_EQ(window.LogView(3)->toPlainText().toStdString(), "");
}

TEST_F(DialogWindowTest, EnterDoesNotPressDownLoadButSpaceDoes) {
  window.Control(IDC_DOWNLOAD)->setFocus();
  QTest::keyClick(window.Control(IDC_DOWNLOAD), Qt::Key_Return);
  QTest::keyClick(window.Control(IDC_DOWNLOAD), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(window.isVisible());

  std::string text;
  auto answered = AnswerNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box) text = box->text().toStdString();
    modal->close();
  });
  QTest::keyClick(window.Control(IDC_DOWNLOAD), Qt::Key_Space);
  EXPECT_TRUE(*answered);
  EXPECT_EQ(text, "No binaries has been selected.");
}

TEST_F(DialogWindowTest, PhoneCodeChosenInTheFileDialogIsShownAndRemembered) {
  const QString dir = scratch.path() + QStringLiteral("/img");
  ASSERT_TRUE(QDir().mkpath(dir));
  const QString file = dir + QStringLiteral("/Phone.BIN");
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("phone");
  }
  ASSERT_TRUE(CRegistry::WriteString("NEW_PHONE_BIN_PATH", dir.toStdString() + "/"));

  QString openedIn;
  auto answered = AnswerNextModal([&](QWidget* modal) {
    auto* dialogWidget = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialogWidget, nullptr);
    openedIn = dialogWidget->directory().absolutePath();
    ChooseInFileDialog(*dialogWidget, file);
  });
  QTest::mouseClick(window.Control(IDC_PHONE_CODE), Qt::LeftButton);
  ASSERT_TRUE(*answered);
  EXPECT_EQ(QDir(openedIn).canonicalPath(), QDir(dir).canonicalPath());
  EXPECT_EQ(host.GetCheck(IDC_PHONE_CODE), 1);
  EXPECT_EQ(QFileInfo(QString::fromStdString(Text(window, IDC_PHONE_TEXT))).canonicalFilePath(),
            QFileInfo(file).canonicalFilePath());
  EXPECT_TRUE(window.Control(IDC_CHANGE_DOWNLOADER)->isEnabled());

  // Releasing the button forgets the choice and disables Change Downloader.
  QTest::mouseClick(window.Control(IDC_PHONE_CODE), Qt::LeftButton);
  EXPECT_EQ(host.GetCheck(IDC_PHONE_CODE), 0);
  EXPECT_EQ(Text(window, IDC_PHONE_TEXT), "");
  EXPECT_FALSE(window.Control(IDC_CHANGE_DOWNLOADER)->isEnabled());
}

TEST_F(DialogWindowTest, CancelledFileDialogReleasesTheButton) {
  auto answered = AnswerNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
  QTest::mouseClick(window.Control(IDC_QBFS), Qt::LeftButton);
  ASSERT_TRUE(*answered);
  EXPECT_EQ(host.GetCheck(IDC_QBFS), 0);
  EXPECT_EQ(dialog.m_bQbfs, 0);
}

TEST_F(DialogWindowTest, ClosingTheWindowMarksTheDialogClosingAndEndsTheLoop) {
  QTimer::singleShot(0, &window, [this] { window.close(); });
  QTimer::singleShot(5000, &window, [this] { window.done(99); });  // never hang
  EXPECT_NE(window.exec(), 99);
  EXPECT_EQ(dialog.m_bClosing, 1);
}

TEST_F(DialogWindowTest, CancelWhileNotClosingEndsTheLoop) {
  QTimer::singleShot(0, &window, [this] { host.Dispatch(WM_COMMAND, IDCANCEL, 0); });
  QTimer::singleShot(5000, &window, [this] { window.done(99); });  // never hang
  EXPECT_EQ(window.exec(), IDCANCEL);
  EXPECT_EQ(dialog.m_bClosing, 0);
}

}  // namespace
