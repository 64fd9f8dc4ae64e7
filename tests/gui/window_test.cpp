// The main window's own behaviour: keys that must not close it, clicks that
// reach the dialog, dragging, closing, and the About entry.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include <QScreen>

#include "AboutDlg.h"
#include "ControlIds.h"
#include "ControlTable.h"
#include "GuiTestUtil.h"
#include "VelmoraWindow.h"
#include "Window.h"

namespace {

struct Sent {
  uint32_t message;
  uintptr_t wParam;
  int checkedThen;  // check state of the control when the message arrived
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window.SetMessageSink([this](uint32_t message, uintptr_t wParam) {
      int checked = -1;
      if (auto* b = qobject_cast<QAbstractButton*>(window.Control(static_cast<int>(wParam))))
        checked = b->isChecked() ? 1 : 0;
      sent.push_back({message, wParam, checked});
    });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  }

  CVelmoraWindow window;
  std::vector<Sent> sent;
};

TEST_F(WindowTest, EnterAndEscapeNeverCloseTheWindowNorPressTheDefaultButton) {
  std::vector<QWidget*> targets = {&window, window.Control(IDC_DOWNLOAD), window.Control(IDC_ENTRY_LABEL),
                                   window.Control(IDC_ENTRY_SLIDER), window.Control(kLogViewIds[0]),
                                   window.Control(IDC_PHONE_CODE)};
  for (QWidget* target : targets) {
    target->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(target, key);
  }
  QApplication::processEvents();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(sent.empty());
  // Other keys still work: Space presses the focused button.
  window.Control(IDC_DOWNLOAD)->setFocus();
  QTest::keyClick(window.Control(IDC_DOWNLOAD), Qt::Key_Space);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].wParam, static_cast<uintptr_t>(IDC_DOWNLOAD));
}

TEST_F(WindowTest, ClicksSendTheCommandAfterTheCheckStateChanged) {
  QTest::mouseClick(window.Control(IDC_PHONE_CODE), Qt::LeftButton);
  QTest::mouseClick(window.Control(IDC_PHONE_CODE), Qt::LeftButton);
  QTest::mouseClick(window.Control(IDC_CHANGE_DOWNLOADER), Qt::LeftButton);
  QTest::mouseClick(window.Control(IDC_PORT_SEARCH), Qt::LeftButton);
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0].message, WM_COMMAND);
  EXPECT_EQ(sent[0].wParam, static_cast<uintptr_t>(IDC_PHONE_CODE));
  EXPECT_EQ(sent[0].checkedThen, 1);
  EXPECT_EQ(sent[1].checkedThen, 0);
  EXPECT_EQ(sent[2].wParam, static_cast<uintptr_t>(IDC_CHANGE_DOWNLOADER));
  EXPECT_EQ(sent[2].checkedThen, 1);
  EXPECT_EQ(sent[3].wParam, static_cast<uintptr_t>(IDC_PORT_SEARCH));
}

TEST_F(WindowTest, SliderKeysReachTheDialogAsSliderChanged) {
  window.Control(IDC_ENTRY_SLIDER)->setFocus();
  QTest::keyClick(window.Control(IDC_ENTRY_SLIDER), Qt::Key_Right);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].message, WM_SLIDER_CHANGED);
  EXPECT_EQ(sent[0].wParam, 0u);
}

TEST_F(WindowTest, DraggingTheBackgroundMovesTheWindow) {
  // Between the left and the right column of frames: background only.
  const QPoint local(window.Units().X(191), window.Units().Y(100));
  ASSERT_EQ(window.childAt(local), nullptr);
  // Inside a frame but on no control: the frame lets the click through.
  ASSERT_EQ(window.childAt(QPoint(window.Units().X(420), window.Units().Y(166))), nullptr);

  window.move(100, 100);
  QApplication::processEvents();
  const QPoint before = window.pos();
  const QPoint global = window.mapToGlobal(local);
  auto send = [this](QEvent::Type type, QPoint g, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent e(type, QPointF(window.mapFromGlobal(g)), QPointF(g), button, held, Qt::NoModifier);
    QApplication::sendEvent(&window, &e);
  };
  send(QEvent::MouseButtonPress, global, Qt::LeftButton, Qt::LeftButton);
  send(QEvent::MouseMove, global + QPoint(15, 5), Qt::NoButton, Qt::LeftButton);
  send(QEvent::MouseMove, global + QPoint(40, 30), Qt::NoButton, Qt::LeftButton);
  send(QEvent::MouseButtonRelease, global + QPoint(40, 30), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(window.pos(), before + QPoint(40, 30));
  // After the release the mouse no longer drags.
  send(QEvent::MouseMove, global + QPoint(90, 90), Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(window.pos(), before + QPoint(40, 30));
}

TEST_F(WindowTest, ClosingReportsToTheOwnerThenEndsTheWindow) {
  std::vector<std::string> order;
  window.SetCloseHandler([&] { order.push_back("close"); });
  window.SetMessageSink([&](uint32_t, uintptr_t) { order.push_back("message"); });
  window.close();
  EXPECT_EQ(order, std::vector<std::string>{"close"});
  EXPECT_FALSE(window.isVisible());
}

// The menu shows the mode the dialog is in, locks it during a run, and
// hands the switch to the dialog.
TEST_F(WindowTest, ContextMenuSwitchesBetweenBatchAndFlow) {
  for (const bool running : {false, true}) {
    SCOPED_TRACE(running ? "running" : "idle");
    window.SetModeQuery([&] { return CVelmoraWindow::ModeState{true, !running}; });
    QMenu menu;
    window.FillContextMenu(menu);
    QAction* flow = nullptr;
    for (QAction* a : menu.actions())
      if (a->data().toInt() == IDM_FLOW_MODE) flow = a;
    ASSERT_NE(flow, nullptr);
    EXPECT_TRUE(flow->isChecked());
    EXPECT_EQ(flow->isEnabled(), !running);
    std::vector<uintptr_t> sent;
    window.SetMessageSink([&](uint32_t, uintptr_t wParam) { sent.push_back(wParam); });
    flow->trigger();
    EXPECT_EQ(sent, running ? std::vector<uintptr_t>{} : std::vector<uintptr_t>{IDM_FLOW_MODE});
  }
  window.SetModeQuery(nullptr);
}

TEST_F(WindowTest, ContextMenuEndsWithForgetPortsAndAboutBelowASeparator) {
  QMenu menu;
  window.FillContextMenu(menu);
  const QList<QAction*> actions = menu.actions();
  ASSERT_GE(actions.size(), 4);
  EXPECT_TRUE(actions[actions.size() - 3]->isSeparator());
  QAction* forget = actions[actions.size() - 2];
  EXPECT_EQ(forget->text().toStdString(), "COM 번호 지우기(&F)...");
  std::vector<std::pair<uint32_t, uintptr_t>> sent;
  window.SetMessageSink([&](uint32_t message, uintptr_t wParam) { sent.emplace_back(message, wParam); });
  forget->trigger();
  EXPECT_EQ(sent, (std::vector<std::pair<uint32_t, uintptr_t>>{{WM_COMMAND, IDM_FORGET_PORTS}}));
  QAction* about = actions.back();
  EXPECT_EQ(about->text().toStdString(), "Velmora 정보(&A)...");
  EXPECT_EQ(about->data().toInt(), IDM_ABOUTBOX);

  std::string title, name, button;
  auto answered = AnswerNextModal([&](QWidget* modal) {
    title = modal->windowTitle().toStdString();
    if (auto* l = modal->findChild<QLabel*>(QStringLiteral("name"))) name = l->text().toStdString();
    if (auto* b = modal->findChild<QPushButton*>(QString::number(IDOK))) {
      button = b->text().toStdString();
      b->click();
    }
  });
  about->trigger();
  EXPECT_TRUE(*answered);
  EXPECT_EQ(title, "Velmora 정보");
  EXPECT_EQ(name, "Velmora [WZB-K470] V5.1");
  EXPECT_EQ(button, "확인");
  EXPECT_TRUE(window.isVisible());
}

TEST_F(WindowTest, MinimiseAndCloseEntriesWork) {
  QMenu menu;
  window.FillContextMenu(menu);
  bool closed = false;
  window.SetCloseHandler([&] { closed = true; });
  menu.actions().front()->trigger();  // minimise
  QApplication::processEvents();
  EXPECT_TRUE(window.isMinimized());
  window.showNormal();
  menu.actions()[1]->trigger();  // close
  EXPECT_TRUE(closed);
  EXPECT_FALSE(window.isVisible());
}

TEST(AboutBox, TemplateTextsAndFixedSize) {
  CAboutDlg about;
  EXPECT_EQ(about.windowTitle().toStdString(), "Velmora 정보");
  auto* notice = about.findChild<QLabel*>(QStringLiteral("notice"));
  ASSERT_NE(notice, nullptr);
  EXPECT_FALSE(notice->text().isEmpty());
  auto* ok = about.findChild<QPushButton*>(QString::number(IDOK));
  ASSERT_NE(ok, nullptr);
  EXPECT_TRUE(ok->isDefault());
  const CDialogUnits du(about.font());
  EXPECT_EQ(about.size(), QSize(du.X(235), du.Y(55)));
  auto* icon = about.findChild<QLabel*>(QStringLiteral("icon"));
  ASSERT_NE(icon, nullptr);
  EXPECT_FALSE(icon->pixmap().isNull());
}

TEST(AboutBox, EscapeAndEnterCloseIt) {
  for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
    CAboutDlg about;
    auto answered = AnswerNextModal([key](QWidget* modal) { QTest::keyClick(modal, key); });
    QTimer::singleShot(5000, &about, [&about] { about.done(99); });  // never hang
    const int result = about.exec();
    EXPECT_TRUE(*answered);
    EXPECT_NE(result, 99) << key;
  }
}

}  // namespace

namespace {

// The window on whatever screen the run gives it: ctest runs this also on a
// 1366x768 laptop at 125 % and a 1920x1080 screen at 200 % (tests/gui/screens).
TEST(ScaledScreen, TheWindowFitsTheScreenAndKeepsItsLayoutWhereItFits) {
  CVelmoraWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  const QSize room = window.screen()->availableGeometry().size();
  EXPECT_LE(window.width(), room.width());
  EXPECT_LE(window.height(), room.height());
  for (int id : {IDC_ELAPSED, kProgressIds[19], kLogViewIds[0], kEntryCheckIds[19], IDC_ENTRY_SLIDER})
    EXPECT_TRUE(window.rect().contains(window.Control(id)->geometry())) << id;
  // The shift's counts of a long day fit under the entries.
  QLabel* shift = window.ShiftLabel();
  shift->setText(QStringLiteral("completed / failed: 1234 / 56 (95.7%)"));
  EXPECT_LE(shift->sizeHint().width(), shift->width());
  EXPECT_TRUE(window.rect().contains(shift->geometry()));
  for (int id : {IDC_ELAPSED, kEntryCheckIds[18], kPortLabelIds[19]})
    EXPECT_FALSE(shift->geometry().intersects(window.Control(id)->geometry())) << id;
  const CDialogUnits nine(DialogFont());
  const bool nineFits = nine.X(kDialogWidthDu) + 16 <= room.width() && nine.Y(kDialogHeightDu) + 48 <= room.height();
  EXPECT_EQ(window.font().pointSizeF() == DialogFont().pointSizeF(), nineFits) << room.width() << "x" << room.height();
}

TEST(ScaledScreen, TheDialogFontShrinksOnlyAsFarAsTheScreenNeeds) {
  const QFont nine = DialogFont();
  EXPECT_EQ(FitDialogFont(nine, QSize(1920, 1080)).pointSizeF(), nine.pointSizeF());
  EXPECT_EQ(FitDialogFont(nine, QSize()).pointSizeF(), nine.pointSizeF());  // no screen known
  // 1366x768 at 125 % and 1920x1080 at 200 %, each less a task bar.
  for (QSize screen : {QSize(1093, 582), QSize(960, 520)}) {
    const QFont fitted = FitDialogFont(nine, screen);
    const CDialogUnits small(fitted);
    EXPECT_LE(small.Y(kDialogHeightDu), screen.height()) << screen.width() << "x" << screen.height();
    EXPECT_LE(small.X(kDialogWidthDu), screen.width());
    // Not smaller than it must be: half a point more would not fit.
    QFont bigger = fitted;
    bigger.setPointSizeF(fitted.pointSizeF() + 0.5);
    const CDialogUnits big(bigger);
    EXPECT_TRUE(big.X(kDialogWidthDu) + 16 > screen.width() || big.Y(kDialogHeightDu) + 48 > screen.height());
  }
}

}  // namespace
