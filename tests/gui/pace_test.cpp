// What a run costs the window: its paints, counted, never timed.
#include <QElapsedTimer>
#include <QLineEdit>
#include <map>

#include "ControlIds.h"
#include "DialogWindowFixture.h"
#include "FramePacer.h"
#include "GuiTestUtil.h"
#include "LogView.h"
#include "MySliderCtrl.h"
#include "TextProgressCtrl.h"

namespace {

// Counts paint events per widget of one window.
class CPaints : public QObject {
 public:
  explicit CPaints(QWidget& window) : m_window(window) { qApp->installEventFilter(this); }
  ~CPaints() override { qApp->removeEventFilter(this); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* w = qobject_cast<QWidget*>(watched);
    if (event->type() == QEvent::Paint && w != nullptr && w->window() == &m_window) {
      // A child of a control (a view's viewport) counts for the control.
      while (w != &m_window && w->parentWidget() != &m_window) w = w->parentWidget();
      ++byWidget[w];
      ++total;
    }
    return false;
  }
  int Of(QWidget* w) const {
    auto it = byWidget.find(w);
    return it == byWidget.end() ? 0 : it->second;
  }
  std::map<QWidget*, int> byWidget;
  int total = 0;

 private:
  QWidget& m_window;
};

class PaceTest : public DialogWindowTest {
 protected:
  static constexpr int kBlocks = 40;

  void SetUp() override {
    DialogWindowTest::SetUp();
    for (int i = 0; i < MAX_ENTRIES; ++i) {
      dialog.m_entries[i].m_nComPort = i + 1;
      dialog.m_entries[i].m_bConnected = 1;
      dialog.m_entries[i].m_nState = STATE_FLASH_BLOCKS;
    }
    dialog.m_nTotalBlocks = kBlocks;
    dialog.m_nImageSize = kBlocks * 1024;
  }

  // Every entry takes kBlocks blocks, the loop turning after each round as
  // the replies of a run let it; the paints of the run, per widget.
  std::map<QWidget*, int> RunBlocks() {
    dialog.ResetProgress();
    Settle();
    CPaints paints(window);
    for (int b = 1; b <= kBlocks; ++b) {
      for (int i = 0; i < MAX_ENTRIES; ++i) {
        dialog.m_entries[i].m_nBlock = b;
        dialog.ShowEntryProgress(i);
        if (b % 10 == 0) dialog.PutLog(i, LOG_INFO, "block " + std::to_string(b));
      }
      Settle();
    }
    return paints.byWidget;
  }

  void Settle() {
    for (int k = 0; k < 3; ++k) {
      QCoreApplication::sendPostedEvents();
      QApplication::processEvents();
    }
  }
};

// Before the first slider move every stacked status edit and log view was
// visible and painted with each block; now the shown entry alone costs.
TEST_F(PaceTest, ARunPaintsTheSameWhicheverEntryIsShown) {
  window.FramePacer().SetIntervalMs(0);  // a paint per turn of the loop: counts, not frames
  const std::map<QWidget*, int> first = RunBlocks();
  window.Slider()->setFocus();
  QTest::keyClick(window.Slider(), Qt::Key_End);
  ASSERT_EQ(dialog.m_nSelEntry, MAX_ENTRIES - 1);
  const std::map<QWidget*, int> last = RunBlocks();

  auto sum = [](const std::map<QWidget*, int>& m) {
    int n = 0;
    for (const auto& [w, count] : m) n += count;
    return n;
  };
  EXPECT_EQ(sum(first), sum(last));
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    SCOPED_TRACE(i);
    QWidget* status = window.Control(kStatusIds[i]);
    QWidget* view = window.Control(kLogViewIds[i]);
    // An entry not shown never paints its status or its log.
    if (i != 0) {
      EXPECT_EQ(first.count(status) + first.count(view), 0u);
    }
    if (i != MAX_ENTRIES - 1) {
      EXPECT_EQ(last.count(status) + last.count(view), 0u);
    }
    // A bar paints once per width it takes, at most.
    EXPECT_LE(first.at(window.Control(kProgressIds[i])), kBlocks);
  }
  // The shown one does, and its log lines reach its view.
  EXPECT_GT(first.count(window.Control(kStatusIds[0])), 0u);
  EXPECT_GT(last.count(window.Control(kLogViewIds[MAX_ENTRIES - 1])), 0u);
  EXPECT_LE(sum(first), kBlocks * (MAX_ENTRIES + 4));
}

// However fast values change, the window paints at most once per frame.
TEST_F(PaceTest, TheWindowPaintsAtMostOncePerFrame) {
  CFramePacer& pacer = window.FramePacer();
  ASSERT_GE(pacer.IntervalMs(), 8);  // a screen of at most 120 Hz
  pacer.SetIntervalMs(40);
  CTextProgressCtrl* bar = window.ProgressBar(3);
  bar->SetRange(0, 1000);
  Settle();
  const int before = bar->PaintCount();
  QElapsedTimer clock;
  clock.start();
  for (int pos = 1; pos <= 1000; ++pos) {
    bar->SetPos(pos);
    QApplication::processEvents();
  }
  const qint64 spent = clock.elapsed();
  ASSERT_TRUE(WaitFor([&] { return bar->PaintCount() > before; }));
  // One paint per started frame of the time spent, and the last one.
  EXPECT_LE(bar->PaintCount() - before, static_cast<int>(spent / 40) + 2);
  EXPECT_EQ(bar->GetPos(), 1000);  // the value itself changed at once
}

}  // namespace
