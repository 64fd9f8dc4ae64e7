#include "link/Trace.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(Trace, SinkReceivesTextsWholeFromManyThreadsAndIsRestored) {
  std::vector<std::string> got;  // the sink runs under the trace lock
  TraceSink previous = SetTraceSink([&](std::string_view t) { got.emplace_back(t); });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) Trace(std::string(50, static_cast<char>('a' + t)) + "\n");
    });
  for (auto& th : threads) th.join();
  TraceSink mine = SetTraceSink(previous);
  EXPECT_TRUE(static_cast<bool>(mine));
  ASSERT_EQ(got.size(), 800u);
  for (const auto& text : got) {
    ASSERT_EQ(text.size(), 51u);
    EXPECT_EQ(text.find_first_not_of(text[0]), 50u);
  }
  Trace("after restore\n");  // goes to the earlier sink, not to ours
  EXPECT_EQ(got.size(), 800u);
}

}  // namespace
