// The benchmark's judgement of its own figures, and the helpers its
// measurements stand on: a wrong verdict or a wrong image would make the
// performance report say what was never measured.
#include <gtest/gtest.h>

#include <chrono>
#include <sys/syscall.h>
#include <unistd.h>

#include "DloadFile.h"
#include "Report.h"
#include "Resources.h"

namespace {

CountFigures Count(int n, double perEntry, double turnMs, double efficiency, double stallMs, double perBlockMs = 0) {
  CountFigures f;
  f.count = n;
  f.runsOk = 3;
  f.blocksPerSecEntry = perEntry;
  f.blocksPerSecTotal = perEntry * n;
  f.turnaroundMedianMs = turnMs;
  f.efficiency = efficiency;
  f.longestStallMs = stallMs;
  f.longestStallWhat = "WM_TIMER(0)";
  f.perBlockMs = perBlockMs;
  return f;
}

/// Figures that meet every target.
E2eFigures Good() {
  E2eFigures e;
  for (int n : {1, 5, 20}) {
    e.unpaced.push_back(Count(n, n == 1 ? 2000 : 600, n == 1 ? 0.2 : 1.5, 0, 4));
    e.paced.push_back(Count(n, 5.5, 0.2, 0.994, 3));
  }
  e.programUs = 3000;
  for (int n : {1, 20}) e.programmed.push_back(Count(n, 300, 0.2, 0, 4, 3.3));
  e.firstOpenMs = 120;
  e.firstOpenBusyMs = 20;
  e.firstOpenLongestMs = 10;
  e.idleMs = 10000;
  e.idleRxCpuMs = 0.05;
  e.rssSmallKiB = 4600;
  e.rssLargeKiB = 4700;
  return e;
}

bool Met(const E2eFigures& e, const std::string& start) {
  for (const TargetRow& r : JudgeTargets(e))
    if (r.target.rfind(start, 0) == 0) return r.met;
  ADD_FAILURE() << "no target row " << start;
  return false;
}

TEST(BenchReport, EveryTargetMetByGoodFigures) {
  const std::vector<TargetRow> rows = JudgeTargets(Good());
  ASSERT_EQ(rows.size(), 9u);
  for (const TargetRow& r : rows) EXPECT_TRUE(r.met) << r.target << ": " << r.measured;
}

TEST(BenchReport, EachTargetFailsOnItsOwnFigure) {
  E2eFigures e = Good();
  e.unpaced[0].turnaroundMedianMs = 0.6;  // one entry decides; twenty are only reported
  EXPECT_FALSE(Met(e, "own turnaround"));
  e = Good();
  e.unpaced[2].turnaroundMedianMs = 9;
  EXPECT_TRUE(Met(e, "own turnaround"));

  e = Good();
  e.unpaced[0].blocksPerSecEntry = 950;
  EXPECT_FALSE(Met(e, "blocks per second per entry"));

  e = Good();
  e.paced[1].efficiency = 0.985;
  EXPECT_FALSE(Met(e, "paced efficiency"));

  e = Good();
  e.programmed[0].perBlockMs = 3.7;
  EXPECT_FALSE(Met(e, "per-block time"));

  e = Good();
  e.programmed[1].blocksPerSecTotal = 0.94 * 20 * 300;
  EXPECT_FALSE(Met(e, "20-entry aggregate"));

  e = Good();
  e.faulted = Count(20, 190, 5.1, 0, 51);  // Disconnect inside a run counts
  EXPECT_FALSE(Met(e, "longest single dialog-thread stall"));
  e = Good();
  e.disconnectIdleMs = 60;
  EXPECT_FALSE(Met(e, "longest single dialog-thread stall"));
  e = Good();
  e.firstOpenLongestMs = 101;  // so does the first DownLoad's
  EXPECT_FALSE(Met(e, "longest single dialog-thread stall"));

  e = Good();
  e.firstOpenBusyMs = 260;
  EXPECT_FALSE(Met(e, "dialog-thread time of the first DownLoad"));

  e = Good();
  e.idleRxCpuMs = 12;
  EXPECT_FALSE(Met(e, "CPU of an idle"));

  e = Good();
  e.rssLargeKiB = 4600 * 2;
  EXPECT_FALSE(Met(e, "peak RSS"));
}

TEST(BenchReport, FailedRunsAreNeverReportedAsMet) {
  E2eFigures e = Good();
  e.paced[2].failure = "entry 3 did not complete";
  EXPECT_FALSE(Met(e, "paced efficiency"));
  e = Good();
  e.unpaced[0].runsOk = 0;
  EXPECT_FALSE(Met(e, "own turnaround"));
  e = Good();
  e.programmed[1].failure = "entry 20 did not complete";
  EXPECT_FALSE(Met(e, "per-block time"));
  e = Good();
  e.firstOpenMs = 0;  // never measured
  EXPECT_FALSE(Met(e, "dialog-thread time of the first DownLoad"));
  e = Good();
  e.rssFailure = "the child's download failed";
  EXPECT_FALSE(Met(e, "peak RSS"));
  e = Good();
  e.faulted = Count(20, 190, 5.1, 0, 5);
  e.faulted.failure = "entry 1 was not disconnected";
  EXPECT_FALSE(Met(e, "longest single dialog-thread stall"));
}

/// A window line that meets its targets.
WindowFigures GoodWindow() {
  WindowFigures w;
  w.measured = true;
  w.handsets = 20;
  w.programUs = 3000;
  w.paceBps = 5760;
  auto host = [](double seconds, double cpuMs, int clicks, double clickMaxMs) {
    HostFigures f;
    f.runs = f.runsOk = 4;
    f.seconds = seconds;
    f.cpuMs = cpuMs;
    f.clicks = clicks;
    f.clickMaxMs = clickMaxMs;
    return f;
  };
  w.programmed.headless = host(0.70, 160, 0, 0);
  w.programmed.window = host(0.75, 400, 3, 20);
  w.paced.headless = host(8.60, 30, 0, 0);
  w.paced.window = host(8.65, 300, 40, 60);
  return w;
}

TEST(BenchReport, WindowTargetsAreJudgedEachOnItsOwnFigure) {
  E2eFigures e = Good();
  e.window = GoodWindow();
  EXPECT_EQ(JudgeTargets(e).size(), 13u);
  for (const TargetRow& r : JudgeTargets(e)) EXPECT_TRUE(r.met) << r.target << ": " << r.measured;
  struct Case {
    const char* target;
    void (*spoil)(WindowFigures&);
  };
  const Case cases[] = {
      {"window run time / headless host's, 3.0 ms", [](WindowFigures& w) { w.programmed.window.seconds = 0.78; }},
      {"window CPU", [](WindowFigures& w) { w.programmed.window.cpuMs = 500; }},
      {"window run time / headless host's, paced", [](WindowFigures& w) { w.paced.window.seconds = 8.70; }},
      {"a click during a window run", [](WindowFigures& w) { w.paced.window.clickMaxMs = 120; }},
      {"a click during a window run", [](WindowFigures& w) { w.paced.window.clicks = w.programmed.window.clicks = 0; }},
      {"window CPU", [](WindowFigures& w) { w.programmed.headless.failure = "entry 3 did not complete"; }},
  };
  for (const Case& c : cases) {
    e.window = GoodWindow();
    c.spoil(e.window);
    EXPECT_FALSE(Met(e, c.target)) << c.target;
  }
  // Not measured is never met; left out adds no rows.
  e.window = WindowFigures();
  e.window.why = "no velmora-window-bench";
  EXPECT_FALSE(Met(e, "window CPU"));
  e.window.why = "left out (--no-window)";
  EXPECT_EQ(JudgeTargets(e).size(), 9u);
}

TEST(BenchResources, PhoneImageLoadsWithItsStartAddressAndSize) {
  CTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = MakePhoneImage(dir.path(), 0x10000 + 70000, 0x10000);
  ASSERT_FALSE(path.empty());
  CDloadFile file(nullptr);
  ASSERT_TRUE(file.Load(path, IMAGE_PHONE_CODE));
  EXPECT_EQ(file.GetSize(), 0x10000u + 70000u);
  EXPECT_EQ(file.GetStartAddress(), 0x10000u);
  EXPECT_EQ(file.GetSwVersion(), 7u);
}

TEST(BenchResources, ThreadUsageGrowsWithWork) {
  const int self = static_cast<int>(::syscall(SYS_gettid));
  const ThreadUsage before = ThreadUsageOf(self);
  // Spins until the thread has had its 10 ms of CPU, however long a loaded
  // machine takes to give them (bounded): 50 ms of wall time may bring less.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  volatile uint64_t spin = 0;
  ThreadUsage after = before;
  while (std::chrono::steady_clock::now() < until && after.cpuNs <= before.cpuNs + 10000000u) {
    for (int k = 0; k < 100000; ++k) spin = spin + 1;
    after = ThreadUsageOf(self);
  }
  EXPECT_GT(after.cpuNs, before.cpuNs + 10000000u);
  EXPECT_EQ(ThreadUsageOf(-1).cpuNs, 0u);
}
}  // namespace
