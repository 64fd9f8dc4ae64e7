// The simulated line's token bucket: 5760 bytes per second is 57600 baud
// with 8N1, one byte every 173.6 us.
#include <gtest/gtest.h>

#include "sim/SimPacer.h"

namespace {
constexpr uint32_t kBps = 5760;
constexpr uint64_t kT0 = 1000000;  // any start time but 0 (0 means "never refilled")

TEST(SimPacer, LineRateWhileBytesFlowAndAtMostTwentyMillisecondsBanked) {
  CSimPacer p;
  p.Refill(kT0, kBps);
  EXPECT_EQ(p.Available(), 0u);
  p.Refill(kT0 + 10000, kBps);  // 10 ms: 57.6 bytes
  EXPECT_EQ(p.Available(), 57u);
  p.Spend(57);
  p.Refill(kT0 + 5000000, kBps);  // a long pause banks only 20 ms worth
  EXPECT_EQ(p.Available(), 115u);
}

TEST(SimPacer, RestartChargesTheFirstByteAfterAnIdleLine) {
  CSimPacer p;
  p.Refill(kT0, kBps);
  p.Refill(kT0 + 1000000, kBps);
  ASSERT_EQ(p.Available(), 115u);
  // The tool's next block: nothing of the pause may be spent on it.
  p.Restart(kT0 + 1000000);
  EXPECT_EQ(p.Available(), 0u);
  p.Refill(kT0 + 1000100, kBps);
  EXPECT_EQ(p.Available(), 0u);
  p.Refill(kT0 + 1000180, kBps);
  EXPECT_EQ(p.Available(), 1u);
  p.Refill(kT0 + 1001000, kBps);
  EXPECT_EQ(p.Available(), 5u);
}

TEST(SimPacer, WaitForTheNextByteIsInMicroseconds) {
  CSimPacer p;
  p.Restart(kT0);
  // A whole-millisecond wait would stretch every byte-sized step sixfold.
  EXPECT_NEAR(static_cast<double>(p.UsUntilByte(kBps)), 174.0, 1.0);
  p.Refill(kT0 + 100, kBps);
  EXPECT_NEAR(static_cast<double>(p.UsUntilByte(kBps)), 74.0, 1.0);
  EXPECT_GE(p.UsUntilByte(0), 1);
}

TEST(SimPacer, WaitForSeveralBytesStopsAtTheBucketsSize) {
  CSimPacer p;
  p.Restart(kT0);
  EXPECT_NEAR(static_cast<double>(p.UsUntilBytes(100, kBps)), 100 * 1e6 / kBps, 1.0);
  // A whole block is taken in bucket-sized steps.
  EXPECT_EQ(CSimPacer::Cap(kBps), 115u);
  EXPECT_EQ(p.UsUntilBytes(1024, kBps), p.UsUntilBytes(115, kBps));
  p.Refill(kT0 + 30000, kBps);
  EXPECT_EQ(p.UsUntilBytes(50, kBps), 1);
}

TEST(SimPacer, StepIsHalfTheBucketButNeverNothing) {
  EXPECT_EQ(CSimPacer::Step(kBps), 57u);
  // At a few bytes per second a step of zero bytes would never move any.
  EXPECT_EQ(CSimPacer::Step(60), 1u);
  EXPECT_EQ(CSimPacer::Step(1), 1u);
  // A reply is handed over in pieces of 2 ms, an ACK (5 bytes) whole.
  EXPECT_EQ(CSimPacer::Piece(kBps), 11u);
  EXPECT_EQ(CSimPacer::Piece(60), 1u);
}
}  // namespace
