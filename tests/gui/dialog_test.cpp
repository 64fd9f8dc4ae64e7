// The window with the real dialog behind it: the state after start-up, and
// what the operator's keys and clicks do there.
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>
#include <tuple>

#include "ControlIds.h"
#include "DialogWindowFixture.h"
#include "GuiTestUtil.h"
#include "LogView.h"
#include "MySliderCtrl.h"
#include "ports/PortSearchOptions.h"
#include "TextProgressCtrl.h"
#include "support/Choices.h"
#include "support/EngineProbe.h"

namespace {

std::string Text(CVelmoraWindow& w, int id) {
  if (auto* e = qobject_cast<QLineEdit*>(w.Control(id))) return e->text().toStdString();
  return {};
}

TEST_F(DialogWindowTest, StartUpShowsAutoDetectModeWithNoPortBound) {
  EXPECT_EQ(dialog.AutoDetect(), 1);
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
                 IDC_CREATE_RESOURCE, IDC_ENTRY_SLIDER, IDC_ENTRY_LABEL})
    EXPECT_TRUE(Seen(id)) << id;  // and enabled: see below
  for (int id : {IDC_PHONE_CODE, IDC_BOOTLOADER, IDC_QBFS, IDC_EFS2, IDC_CHANGE_DOWNLOADER})
    EXPECT_EQ(host.GetCheck(id), 0) << id;
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
  EXPECT_EQ(dialog.Choices().m_bInputAddress, 0);
  EXPECT_EQ(dialog.SelectedEntry(), 0);
  EXPECT_EQ(host.GetComboSel(IDC_DOWNLOAD_TYPE), 0);
  EXPECT_EQ(host.GetComboSel(IDC_ENTRY_COMBO), 0);
}

// A bar must be readable whatever its colours are: blank after the reset, its
// caption standing out over the filled and the empty part alike, and
// "Error!" in a colour of its own, reddish where a running entry's caption
// is bluish over the same background.
TEST_F(DialogWindowTest, BarsAreBlankAfterTheResetAndAnErrorStandsOutInItsOwnColour) {
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    CTextProgressCtrl* bar = window.ProgressBar(i);
    EXPECT_EQ(std::tuple(bar->GetMinimum(), bar->GetMaximum(), bar->GetPos(), bar->GetText()),
              std::tuple(0, 100, 0, std::string()));
    const QImage blank = Grab(*bar);
    EXPECT_EQ(Ink(blank, blank.rect(), blank.pixel(0, 0)), 0) << i;
  }

  host.ProgressBar(7).SetText("Entry 8 : 50%");
  host.ProgressBar(7).SetPos(50);
  const QImage half = Grab(*window.ProgressBar(7));
  const QRect filled(0, 0, half.width() / 2, half.height()), empty(filled.right() + 1, 0, half.width(), half.height());
  EXPECT_NE(half.pixel(filled.topLeft()), half.pixel(empty.topLeft()));
  EXPECT_GT(Ink(half, filled, half.pixel(filled.topLeft())), 10);
  EXPECT_GT(Ink(half, empty, half.pixel(empty.topLeft())), 10);

  host.ProgressBar(5).SetText("Error!");
  host.ProgressBar(5).Redraw();
  dialog.ShowEntryError(6);
  const QImage normal = Grab(*window.ProgressBar(5)), error = Grab(*window.ProgressBar(6));
  const QRgb grey = normal.pixel(0, 0);
  EXPECT_EQ(error.pixel(0, 0), grey);
  int errorInk = 0, redder = 0, normalInk = 0, bluer = 0;
  for (int y = 0; y < error.height(); ++y) {
    for (int x = 0; x < error.width(); ++x) {
      const QRgb e = error.pixel(x, y), n = normal.pixel(x, y);
      if (e != grey) ++errorInk, redder += qRed(e) > qBlue(e);
      if (n != grey) ++normalInk, bluer += qBlue(n) > qRed(n);
    }
  }
  EXPECT_GT(errorInk, 10);
  EXPECT_EQ(redder, errorInk);
  EXPECT_GT(normalInk, 10);
  EXPECT_EQ(bluer, normalInk);
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
  ChangeChoices(dialog, [&](ImageChoices& c) { c.m_bChangeDownloader = 1; });
  dialog.EnableControls(1);
  EXPECT_TRUE(window.Control(IDC_CHANGE_DOWNLOADER)->isEnabled());
}

// The operator knows entry n by its check box "Entry<n>" with the port label
// beside it, by the n-th bar in reading order, and by the status and log seen
// once the slider is at n: what the dialog writes for an entry must land
// there, whatever ids lie in between.
TEST_F(DialogWindowTest, WhatTheDialogWritesForAnEntryIsSeenWhereTheOperatorLooksForIt) {
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    const std::string n = std::to_string(i + 1);
    CEngineProbe::Binding(dialog, i).m_nComPort = 40 + i;
    CEngineProbe::Binding(dialog, i).m_bConnected = 1;
    dialog.SetStatusText(i, "status " + n);
    dialog.SetEntryBarText(i, "bar " + n);
    dialog.PutLog(i, LOG_INFO, "line " + n);
  }
  dialog.RefreshPortLabels();
  ASSERT_TRUE(WaitFor([&] { return window.LogView(MAX_ENTRIES - 1)->document()->blockCount() == 2; }, 20000));

  const QList<QWidget*> children = window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  std::vector<CTextProgressCtrl*> bars;
  for (QWidget* c : children)
    if (auto* bar = dynamic_cast<CTextProgressCtrl*>(c)) bars.push_back(bar);
  std::sort(bars.begin(), bars.end(),
            [](QWidget* a, QWidget* b) { return std::pair(a->y(), a->x()) < std::pair(b->y(), b->x()); });
  ASSERT_EQ(bars.size(), 20u);
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    EXPECT_EQ(bars[i]->GetText(), "bar " + std::to_string(i + 1));
    const QWidget* box = nullptr;
    for (QWidget* c : children)
      if (auto* b = qobject_cast<QCheckBox*>(c); b != nullptr && b->text() == QStringLiteral("Entry%1").arg(i + 1))
        box = b;
    ASSERT_NE(box, nullptr) << i;
    // The port label is the next thing seen right of the box on its line.
    QWidget* beside = nullptr;
    for (QWidget* c : children)
      if (c->isVisibleTo(&window) && c->y() == box->y() && c->x() > box->x() && (!beside || c->x() < beside->x()))
        beside = c;
    ASSERT_NE(qobject_cast<QLabel*>(beside), nullptr) << i;
    EXPECT_EQ(qobject_cast<QLabel*>(beside)->text(), QStringLiteral("[COM%1]").arg(40 + i));
  }

  const QPoint statusAt = window.Control(kStatusIds[0])->geometry().center();
  const QPoint logAt = window.Control(kLogViewIds[0])->geometry().center();
  auto seenAt = [&](QPoint p) {
    return std::count_if(children.begin(), children.end(), [&](QWidget* c) {
      return c->isVisibleTo(&window) && qobject_cast<QGroupBox*>(c) == nullptr && c->geometry().contains(p);
    });
  };
  window.Slider()->setFocus();
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    const std::string n = std::to_string(i + 1);
    if (i > 0) {
      QTest::keyClick(window.Slider(), Qt::Key_Right);
      EXPECT_TRUE(seenAt(statusAt) == 1 && seenAt(logAt) == 1) << n;  // the others are hidden, not covered
    }
    EXPECT_EQ(Text(window, IDC_ENTRY_LABEL), "Entry " + n);
    EXPECT_EQ(host.GetComboSel(IDC_ENTRY_COMBO), i);
    auto* status = qobject_cast<QLineEdit*>(TopChildAt(window, statusAt));
    auto* view = dynamic_cast<CLogView*>(TopChildAt(window, logAt));
    ASSERT_TRUE(status != nullptr && view != nullptr) << n;
    EXPECT_EQ(status->text().toStdString(), "status " + n);
    EXPECT_EQ(view->toPlainText().toStdString(), "\nline " + n);
  }
}

// Each kind of line is bold and reads apart from the others and from the
// view's background; an error is reddish.
TEST_F(DialogWindowTest, LogLinesOfAConnectedEntryReachItsViewThroughTheQueueInColoursOfTheirKind) {
  CEngineProbe::Binding(dialog, 2).m_bConnected = 1;
  dialog.PutLog(2, LOG_ERROR, "Flash error!!");
  dialog.PutLog(2, LOG_STATUS, "패킷 재전송합니다.");
  dialog.PutLog(2, LOG_INFO, "Downloading Completed.");
  dialog.PutLog(3, LOG_INFO, "not connected");  // dropped when drained
  CLogView* view = window.LogView(2);
  EXPECT_EQ(view->toPlainText().toStdString(), "");  // posted, not yet handled
  ASSERT_TRUE(WaitFor([&] { return view->document()->blockCount() == 4; }, 20000));
  EXPECT_EQ(view->toPlainText().toStdString(), "\nFlash error!!\n패킷 재전송합니다.\nDownloading Completed.");
  QApplication::processEvents();
  EXPECT_EQ(window.LogView(3)->toPlainText().toStdString(), "");

  std::vector<QColor> colours = {view->palette().color(QPalette::Base)};
  for (int line = 1; line <= 3; ++line) {
    QTextCursor c(view->document()->findBlockByNumber(line));
    c.movePosition(QTextCursor::NextCharacter);
    EXPECT_EQ(c.charFormat().fontWeight(), QFont::Bold) << line;
    const QColor colour = c.charFormat().foreground().color();
    EXPECT_EQ(std::count(colours.begin(), colours.end(), colour), 0) << line;
    colours.push_back(colour);
  }
  EXPECT_GT(colours[1].red(), 2 * std::max(colours[1].green(), colours[1].blue()));
}

// Nothing the operator sees lies on something else: the controls the template
// keeps hidden (resource and address controls, the File Info area) lie over
// seen ones, so one shown by mistake is caught here. The stacked views and
// status edits lie exactly on one another by design. Of what is seen, only the
// entries without a port and the clock cannot be used.
TEST_F(DialogWindowTest, AtStartUpNoSeenControlCoversAnotherAndAllButUnboundEntriesCanBeUsed) {
  QList<QWidget*> seen;
  for (QWidget* w : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    if (w->isVisibleTo(&window) && qobject_cast<QGroupBox*>(w) == nullptr) seen << w;
  // The template lets a few neighbours touch by up to two units: the slider
  // the entry label above it, the wider check boxes their port labels.
  const CDialogUnits& du = window.Units();
  for (qsizetype a = 0; a < seen.size(); ++a) {
    for (qsizetype b = a + 1; b < seen.size(); ++b) {
      const QRect both = seen[a]->geometry() & seen[b]->geometry();
      if (both.isEmpty() || seen[a]->geometry() == seen[b]->geometry()) continue;
      EXPECT_TRUE(both.width() <= du.X(2) || both.height() <= du.Y(2))
          << seen[a]->objectName().toStdString() << " / " << seen[b]->objectName().toStdString();
    }
    auto* box = qobject_cast<QCheckBox*>(seen[a]);
    const bool unboundEntry = box != nullptr && box->text().startsWith(QStringLiteral("Entry"));
    EXPECT_EQ(seen[a]->isEnabled(), !unboundEntry && seen[a] != window.Control(IDC_ELAPSED))
        << seen[a]->objectName().toStdString();
  }
  EXPECT_FALSE(Seen(IDC_DOWNLOAD_TYPE));  // it lies in free space, and is not offered either
  EXPECT_FALSE(Seen(IDC_DOWNLOAD_TYPE_LABEL));
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

// A remembered folder opens the same place written with or without its
// trailing separator (a script's settings often lack it).
TEST_F(DialogWindowTest, PhoneCodeChosenInTheFileDialogIsShownAndRemembered) {
  const QString dir = scratch.path() + QStringLiteral("/img");
  ASSERT_TRUE(QDir().mkpath(dir));
  const QString file = dir + QStringLiteral("/Phone.BIN");
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("phone");
  }
  for (const std::string& remembered : {dir.toStdString() + "/", dir.toStdString()}) {
    SCOPED_TRACE(remembered);
    ASSERT_TRUE(CRegistry::WriteString("NEW_PHONE_BIN_PATH", remembered));

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
}

// After the handsets were pulled, DownLoad must not stand over the results
// of earlier runs: every entry outside the new run is emptied.
TEST_F(DialogWindowTest, DownLoadClearsWhatEarlierRunsLeftOnEntriesOutsideTheNewRun) {
  for (int i : {0, 7, 19}) {
    dialog.ShowEntryError(i);
    host.ProgressBar(i).SetText(i == 0 ? "Error!" : "Download Completed.");
    host.ProgressBar(i).SetPos(i == 0 ? 0 : 100);
    dialog.SetStatusText(i, "0x33000 / 0x33000");
  }
  dialog.UpdateData(false);
  ChangeChoices(dialog, [&](ImageChoices& c) {
    c.m_bPhoneCode = 1;
    c.m_strPhonePath = "/nonexistent/phone.bin";
  });
  dialog.UpdateData(false);

  std::string said;
  auto answered = AnswerNextModal([&](QWidget* modal) {
    said = qobject_cast<QMessageBox*>(modal)->text().toStdString();
    modal->close();
  });
  QTest::mouseClick(window.Control(IDC_DOWNLOAD), Qt::LeftButton);
  ASSERT_TRUE(*answered);
  EXPECT_EQ(said, "No Phone is connected.");
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(window.ProgressBar(i)->GetText(), "");
    EXPECT_EQ(window.ProgressBar(i)->GetPos(), 0);
    EXPECT_EQ(host.GetControlText(kStatusIds[i]), "");
  }
}

TEST_F(DialogWindowTest, APortSearchThatFindsNothingSaysSo) {
  QTemporaryDir sys, dev;
  SetPortSearchRoots(sys.path().toStdString(), dev.path().toStdString());
  std::string said;
  auto answered = AnswerNextModal([&](QWidget* modal) {
    said = qobject_cast<QMessageBox*>(modal)->text().toStdString();
    modal->close();
  });
  QTest::mouseClick(window.Control(IDC_PORT_SEARCH), Qt::LeftButton);
  SetPortSearchRoots("", "");
  EXPECT_TRUE(*answered);
  EXPECT_EQ(said, "No handset port found.");
  EXPECT_EQ(dialog.PortCount(), 0);
}

TEST_F(DialogWindowTest, CancelledFileDialogReleasesTheButton) {
  auto answered = AnswerNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
  QTest::mouseClick(window.Control(IDC_QBFS), Qt::LeftButton);
  ASSERT_TRUE(*answered);
  EXPECT_EQ(host.GetCheck(IDC_QBFS), 0);
  EXPECT_EQ(dialog.Choices().m_bQbfs, 0);
}

TEST_F(DialogWindowTest, ClosingTheWindowMarksTheDialogClosingAndEndsTheLoop) {
  QTimer::singleShot(0, &window, [this] { window.close(); });
  QTimer::singleShot(5000, &window, [this] { window.done(99); });  // never hang
  EXPECT_NE(window.exec(), 99);
  EXPECT_EQ(dialog.Closing(), 1);
}

TEST_F(DialogWindowTest, CancelWhileNotClosingEndsTheLoop) {
  QTimer::singleShot(0, &window, [this] { host.Dispatch(WM_COMMAND, IDCANCEL, 0); });
  QTimer::singleShot(5000, &window, [this] { window.done(99); });  // never hang
  EXPECT_EQ(window.exec(), IDCANCEL);
  EXPECT_EQ(dialog.Closing(), 0);
}

}  // namespace
