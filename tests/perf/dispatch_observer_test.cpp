// The headless host's optional timing of every message it hands the dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "ControlIds.h"
#include "FakeBench.h"

namespace {

struct Seen {
  uint32_t msg;
  uintptr_t wParam;
  uint64_t startNs, endNs;
};

class CRecorder : public IDispatchObserver {
 public:
  void OnDispatched(uint32_t msg, uintptr_t wParam, uint64_t startNs, uint64_t endNs) override {
    seen.push_back({msg, wParam, startNs, endNs});
  }
  std::vector<Seen> seen;
};

TEST(DispatchObserver, TimesPostedMessagesTimersAndClicksInOrder) {
  CFakeBench bench(1);
  CRecorder rec;
  bench.host().SetDispatchObserver(&rec);
  bench.host().PostMessage(WM_ENTRY_LOG + 3, 0, 0);
  bench.host().PostMessage(WM_SLIDER_CHANGED, 0, 0);
  EXPECT_EQ(bench.host().DispatchPending(), 2);
  ASSERT_EQ(rec.seen.size(), 2u);
  EXPECT_EQ(rec.seen[0].msg, WM_ENTRY_LOG + 3);
  EXPECT_EQ(rec.seen[1].msg, WM_SLIDER_CHANGED);

  // A timer's expiry is timed too (whatever the entry then does, and the
  // messages that causes, are seen as well).
  bench.host().SetTimer(7, 100);
  bench.host().SetNow(100);
  const int fired = bench.host().FireDueTimers();
  ASSERT_GE(fired, 1);
  ASSERT_GT(rec.seen.size(), 2u);
  EXPECT_EQ(rec.seen[2].msg, WM_TIMER);
  EXPECT_EQ(rec.seen[2].wParam, 7u);
  EXPECT_EQ(std::count_if(rec.seen.begin(), rec.seen.end(), [](const Seen& s) { return s.msg == WM_TIMER; }),
            fired);
  bench.host().m_timers.clear();

  const size_t beforeClick = rec.seen.size();
  bench.host().Click(IDC_AUTO_DETECT, 0);
  ASSERT_EQ(rec.seen.size(), beforeClick + 1);
  EXPECT_EQ(rec.seen.back().msg, WM_COMMAND);
  EXPECT_EQ(rec.seen.back().wParam, static_cast<uintptr_t>(IDC_AUTO_DETECT));
  for (size_t k = 0; k < rec.seen.size(); ++k) {
    EXPECT_LE(rec.seen[k].startNs, rec.seen[k].endNs) << k;
    if (k > 0) {
      EXPECT_LE(rec.seen[k - 1].endNs, rec.seen[k].startNs) << k;
    }
  }
}

TEST(DispatchObserver, ClearedObserverIsNoLongerTold) {
  CFakeBench bench(1);
  CRecorder rec;
  bench.host().SetDispatchObserver(&rec);
  bench.host().PostMessage(WM_SLIDER_CHANGED, 0, 0);
  bench.host().DispatchPending();
  bench.host().SetDispatchObserver(nullptr);
  bench.host().PostMessage(WM_SLIDER_CHANGED, 0, 0);
  // The dialog still gets its message without an observer.
  EXPECT_EQ(bench.host().DispatchPending(), 1);
  EXPECT_EQ(rec.seen.size(), 1u);
}
}  // namespace
