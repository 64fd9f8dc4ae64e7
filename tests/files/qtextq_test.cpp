#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

// The slots are private; the invariant that a taken slot is back in its
// default state can only be seen from inside.
#define private public
#include "link/QTextQ.h"
#include "Window.h"
#undef private

#include "support/TraceCapture.h"

namespace {

TEST(QTextQ, NewQueueIsEmptyAndLeavesOutAlone) {
  CQTextQ q;
  CTextQItem out(LOG_ERROR, "untouched");
  EXPECT_FALSE(q.Get(out));
  EXPECT_EQ(out.kind, LOG_ERROR);
  EXPECT_EQ(out.text, "untouched");
}

TEST(QTextQ, HoldsHundredLinesAndRefusesTheNext) {
  TraceCapture trace;
  CQTextQ q;
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(q.Put(LOG_INFO, "line " + std::to_string(i))) << i;
  EXPECT_TRUE(trace.Texts().empty());

  EXPECT_FALSE(q.Put(LOG_ERROR, "one too many"));
  ASSERT_EQ(trace.Texts(), std::vector<std::string>{"TEXT QUEUE FULL\n"});

  CTextQItem item;
  ASSERT_TRUE(q.Get(item));
  EXPECT_EQ(item.text, "line 0");
  EXPECT_TRUE(q.Put(LOG_STATUS, "after one taken"));
  EXPECT_FALSE(q.Put(LOG_STATUS, "full again"));

  // The refused lines never entered: 99 old lines, then the one accepted.
  for (int i = 1; i < 100; ++i) {
    ASSERT_TRUE(q.Get(item));
    EXPECT_EQ(item.text, "line " + std::to_string(i));
    EXPECT_EQ(item.kind, LOG_INFO);
  }
  ASSERT_TRUE(q.Get(item));
  EXPECT_EQ(item.text, "after one taken");
  EXPECT_EQ(item.kind, LOG_STATUS);
  EXPECT_FALSE(q.Get(item));
}

TEST(QTextQ, KeepsOrderAcrossTheWrap) {
  CQTextQ q;
  CTextQItem item;
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(q.Put(LOG_INFO, "a" + std::to_string(i)));
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(q.Get(item));
    ASSERT_EQ(item.text, "a" + std::to_string(i));
  }
  for (int i = 0; i < 80; ++i) ASSERT_TRUE(q.Put(i % 4 + 1, "b" + std::to_string(i)));
  EXPECT_LT(q.m_nTail, q.m_nHead);  // the 80 lines really wrapped
  for (int i = 0; i < 80; ++i) {
    ASSERT_TRUE(q.Get(item));
    EXPECT_EQ(item.text, "b" + std::to_string(i));
    EXPECT_EQ(item.kind, i % 4 + 1);
  }
  EXPECT_FALSE(q.Get(item));
}

TEST(QTextQ, TakenSlotIsBackInDefaultState) {
  CQTextQ q;
  ASSERT_TRUE(q.Put(LOG_ERROR, "red line"));
  CTextQItem item;
  ASSERT_TRUE(q.Get(item));
  EXPECT_EQ(item.kind, LOG_ERROR);
  EXPECT_EQ(item.text, "red line");
  EXPECT_EQ(q.m_items[0].kind, 0);
  EXPECT_TRUE(q.m_items[0].text.empty());
}

TEST(QTextQ, EmptyTextIsQueuedLikeAnyLine) {
  CQTextQ q;
  ASSERT_TRUE(q.Put(LOG_BLUE, ""));
  CTextQItem item(LOG_ERROR, "old");
  ASSERT_TRUE(q.Get(item));
  EXPECT_EQ(item.kind, LOG_BLUE);
  EXPECT_EQ(item.text, "");
  EXPECT_FALSE(q.Get(item));
}

TEST(QTextQ, ResetEmptiesTheQueue) {
  CQTextQ q;
  for (int i = 0; i < 30; ++i) ASSERT_TRUE(q.Put(LOG_INFO, "x"));
  q.Reset();
  CTextQItem item;
  EXPECT_FALSE(q.Get(item));
  for (const CTextQItem& slot : q.m_items) {
    EXPECT_EQ(slot.kind, 0);
    EXPECT_TRUE(slot.text.empty());
  }
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(q.Put(LOG_INFO, "y"));
}

// Several producers push numbered lines, retrying when the queue is full;
// the single consumer must see every line exactly once, in each producer's
// own order.
TEST(QTextQ, ConcurrentProducersLoseNothing) {
  std::atomic<int> fullTraces{0};
  TraceSink previous = SetTraceSink([&](std::string_view) { ++fullTraces; });

  constexpr int kProducers = 4;
  constexpr int kLines = 3000;
  CQTextQ q;
  std::atomic<bool> giveUp{false};
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int n = 0; n < kLines && !giveUp; ++n) {
        while (!q.Put(p + 1, std::to_string(p) + ":" + std::to_string(n))) {
          if (giveUp) return;
          std::this_thread::yield();
        }
      }
    });
  }

  std::vector<int> next(kProducers, 0);
  int received = 0;
  bool orderKept = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  CTextQItem item;
  while (received < kProducers * kLines && std::chrono::steady_clock::now() < deadline) {
    if (!q.Get(item)) {
      std::this_thread::yield();
      continue;
    }
    const size_t colon = item.text.find(':');
    const int p = std::stoi(item.text.substr(0, colon));
    const int n = std::stoi(item.text.substr(colon + 1));
    if (p + 1 != item.kind || n != next[p]) orderKept = false;
    next[p] = n + 1;
    ++received;
  }
  giveUp = true;
  for (std::thread& t : producers) t.join();
  SetTraceSink(previous);

  EXPECT_TRUE(orderKept);
  EXPECT_EQ(received, kProducers * kLines);
  EXPECT_FALSE(q.Get(item));  // nothing duplicated or left over
}

}  // namespace
