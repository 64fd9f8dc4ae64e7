// The handsets-per-hour line's arithmetic: the station's lines read back, the
// measured span of each mode, the bench's limit and the verdicts. A slip in
// any of them would report a rate nobody measured.
#include <gtest/gtest.h>

#include <algorithm>

#include "HphLedger.h"
#include "Report.h"

namespace {

TEST(HphLines, StationLinesAreReadOnlyWhenWhole) {
  struct Case {
    const char* line;
    StationLine::Kind kind;
    int com;
    bool completed;
    const char* reason;
    int completedCount, failedCount;
  };
  const Case cases[] = {
      {"Entry 3 [COM12]: completed", StationLine::Result, 12, true, "", 0, 0},
      {"Entry 1 [COM1]: failed (version이 다릅니다.다른 tool을 이용하세요.)", StationLine::Result, 1, false,
       "version이 다릅니다.다른 tool을 이용하세요.", 0, 0},
      {"Entry 2 [COM2]: failed (/dev/ttyACM1 (pulled): device gone)", StationLine::Result, 2, false,
       "/dev/ttyACM1 (pulled): device gone", 0, 0},
      {"Batch 7: 19 completed, 1 failed", StationLine::Batch, 0, false, "", 19, 1},
      {"Total: 3 batches, 5 completed, 2 failed", StationLine::Total, 0, false, "", 5, 2},
      {"Total: 7 handsets, 5 completed, 2 failed", StationLine::Total, 0, false, "", 5, 2},
      // Log lines and near misses are not results.
      {"Entry 1: Download interrupted.", StationLine::Other, 0, false, "", 0, 0},
      {"Entry 1 [COM1]: completed, almost", StationLine::Other, 0, false, "", 0, 0},
      {"Entry 1 [COM1]: failed (no closing bracket", StationLine::Other, 0, false, "", 0, 0},
      {"Batch 2: 1 completed", StationLine::Other, 0, false, "", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const StationLine l = ParseStationLine(c.line);
    EXPECT_EQ(l.kind, c.kind);
    EXPECT_EQ(l.com, c.com);
    EXPECT_EQ(l.completed, c.completed);
    EXPECT_EQ(l.reason, c.reason);
    EXPECT_EQ(l.completedCount, c.completedCount);
    EXPECT_EQ(l.failedCount, c.failedCount);
  }
}

TEST(HphLimit, TheSmallerOfTheOperatorAndTheSockets) {
  const BenchLimit operatorBound = ComputeLimit(20, 3, 1, 15);
  EXPECT_DOUBLE_EQ(operatorBound.operatorPerHour, 1200);
  EXPECT_DOUBLE_EQ(operatorBound.socketsPerHour, 20 * 3600.0 / 19);
  EXPECT_DOUBLE_EQ(operatorBound.perHour, 1200);
  const BenchLimit socketBound = ComputeLimit(2, 3, 1, 20);
  EXPECT_DOUBLE_EQ(socketBound.perHour, 300);
}

// Two sockets, three measured handsets, at half the model's speed.
TEST(HphLedger, FlowSpanStartsAfterTheFirstLoadAndCountsOnlyItsHandsets) {
  CHphLedger ledger(true, 2, 3);
  ledger.Result(1, true, 9);  // the first load: not in the span
  ledger.Result(2, true, 9);  // the span starts here
  ledger.Swap(1.5, 2.5);      // half of it in the span
  ledger.Result(3, true, 10, 40);
  ledger.Result(4, false, -1, 60);
  EXPECT_FALSE(ledger.Done());
  ledger.Result(5, true, 20, 80);
  ASSERT_TRUE(ledger.Done());
  ledger.Result(6, true, 100, 1000);  // after the span

  const HphModeFigures f = ledger.Figures(0.5, 3, 1);
  EXPECT_TRUE(f.measured);
  EXPECT_EQ(f.handsets, 3);
  EXPECT_EQ(f.completed, 2);
  EXPECT_EQ(f.failed, 1);
  EXPECT_DOUBLE_EQ(f.spanWallS, 3);
  // 2 completed in 3 s of wall time, 6 s of the model's.
  EXPECT_DOUBLE_EQ(f.perHour, 1200);
  EXPECT_DOUBLE_EQ(f.meanHandsetS, 15);  // the failed handset's time is not a handset's time
  EXPECT_EQ(f.timed, 2);
  EXPECT_DOUBLE_EQ(f.meanStartMs, 60);
  EXPECT_DOUBLE_EQ(f.operatorBusy, 0.5 / 3);
  EXPECT_DOUBLE_EQ(f.limit, ComputeLimit(2, 3, 1, 15).perHour);
}

TEST(HphLedger, BatchSpanRunsFromTheFirstBatchToTheOneThatBringsEnough) {
  CHphLedger ledger(false, 2, 3);
  ledger.Result(9, true, 7);
  ledger.Result(9, true, 7);
  ledger.BatchEnd(10, 2);  // the warm-up: the span starts here
  ledger.Result(19, true, 8);
  ledger.Result(19, false);
  ledger.BatchEnd(20, 2);
  EXPECT_FALSE(ledger.Done());
  ledger.Result(29, true, 12);
  ledger.BatchEnd(30, 1);  // short, but it brings the third
  ASSERT_TRUE(ledger.Done());
  ledger.Result(39, true, 50);
  ledger.BatchEnd(40, 1);

  const HphModeFigures f = ledger.Figures(1, 3, 1);
  EXPECT_EQ(f.handsets, 3);
  EXPECT_EQ(f.completed, 2);
  EXPECT_DOUBLE_EQ(f.spanWallS, 20);
  EXPECT_DOUBLE_EQ(f.perHour, 2 * 3600.0 / 20);
  EXPECT_DOUBLE_EQ(f.meanHandsetS, 10);
  EXPECT_EQ(f.shortBatches, 2);
}

TEST(HphLedger, NoFiguresBeforeTheSpanHasEnded) {
  CHphLedger ledger(true, 2, 3);
  for (double t : {1, 2, 3}) ledger.Result(t, true, 5);
  const HphModeFigures f = ledger.Figures(1, 3, 1);
  EXPECT_FALSE(f.measured);
  EXPECT_EQ(f.perHour, 0);
}

HphFigures GoodHph() {
  HphFigures h;
  h.measured = true;
  auto mode = [](double perHour) {
    HphModeFigures m;
    m.measured = true;
    m.perHour = perHour;
    m.limit = 1200;
    return m;
  };
  h.batch = mode(800);
  h.flow = mode(1100);
  return h;
}

TEST(HphReport, EachTargetFailsOnItsOwnFigure) {
  const std::vector<TargetRow> good = JudgeHphTargets(GoodHph());
  ASSERT_EQ(good.size(), 2u);
  for (const TargetRow& r : good) EXPECT_TRUE(r.met) << r.target << ": " << r.measured;
  struct Case {
    size_t row;
    void (*spoil)(HphFigures&);
  };
  const Case cases[] = {
      {0, [](HphFigures& h) { h.flow.perHour = 1070; }},  // 0.89 of the limit
      {1, [](HphFigures& h) { h.batch.perHour = 850; }},  // 1.29 x batch
      {0, [](HphFigures& h) { h.flow.failure = "the station ended by itself"; }},
      {1, [](HphFigures& h) { h.batch.measured = false; }},
      {1, [](HphFigures& h) { h.batch.perHour = 0; }},
  };
  for (const Case& c : cases) {
    HphFigures h = GoodHph();
    c.spoil(h);
    const std::vector<TargetRow> rows = JudgeHphTargets(h);
    EXPECT_FALSE(rows[c.row].met) << rows[c.row].target << ": " << rows[c.row].measured;
  }
  HphFigures missing;
  missing.why = "no velmora-cli";
  for (const TargetRow& r : JudgeHphTargets(missing)) EXPECT_FALSE(r.met);

  // Among the whole report's targets unless the line was left out.
  auto flowRows = [](const E2eFigures& e) {
    const std::vector<TargetRow> rows = JudgeTargets(e);
    return std::count_if(rows.begin(), rows.end(), [](const TargetRow& r) { return r.target.rfind("flow mode", 0) == 0; });
  };
  E2eFigures e;
  e.hph = GoodHph();
  EXPECT_EQ(flowRows(e), 2);
  e.hph = missing;
  EXPECT_EQ(flowRows(e), 2);
  e.hph.why = "left out (--no-hph)";
  EXPECT_EQ(flowRows(e), 0);
}

}  // namespace
