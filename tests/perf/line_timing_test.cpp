// Whole downloads on pseudo-terminals, judged by the simulated handset's
// timing: it records the tool's turnaround per block, and at a paced line
// rate it must charge every byte and every pause, so that a run can never be
// shorter than its bytes' time on the wire plus the tool's pauses.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <numeric>

#include "SimRig.h"
#include "TestUtil.h"
#include "platform/Registry.h"

namespace {
constexpr uint32_t kRunLimitMs = 60000;
constexpr uint32_t kStart = 0x10000;
constexpr int kBlocks = 8;

class LineTimingTest : public ::testing::Test, protected CSimRig {
 protected:
  void SetUp() override {
    ResetProgramState(m_tmp.path());
    ASSERT_TRUE(StartHandsets(1));
    OpenDialog(1);
    Choose(IDC_PHONE_CODE, MakePhoneImage(m_tmp.path(), kStart + kBlocks * 1024, kStart));
  }
  void TearDown() override { StopRig(); }
  /// One DownLoad to its end; the time it took in seconds.
  double Run() {
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(RunToEnd(kRunLimitMs));
    EXPECT_EQ(m_dlg->Outcome(0).m_nResult, RESULT_COMPLETED);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }

  CTempDir m_tmp;
};

TEST_F(LineTimingTest, HandsetTakesOneTurnaroundPerBlock) {
  Run();
  SimRecord r = m_sims.Handset(0).Record();
  EXPECT_TRUE(r.violations.empty()) << (r.violations.empty() ? "" : r.violations[0]);
  EXPECT_EQ(r.blocksReceived, kBlocks);
  // Every block follows an ACK (the first one the erase's); the final jump
  // follows the last block's ACK but is no block.
  ASSERT_EQ(r.blockTurnaroundUs.size(), static_cast<size_t>(kBlocks));
  for (uint32_t us : r.blockTurnaroundUs) {
    EXPECT_GT(us, 0u);
    EXPECT_LT(us, 1000000u);
  }
}

TEST_F(LineTimingTest, PacedRunIsNeverShorterThanItsWireTimeAndPauses) {
  Run();  // opens the link and settles the boot version at full speed
  SimRecord before = m_sims.Handset(0).Record();
  m_sims.Handset(0).SetPace(5760);
  const double seconds = Run();
  SimRecord after = m_sims.Handset(0).Record();
  EXPECT_TRUE(after.violations.empty()) << (after.violations.empty() ? "" : after.violations[0]);

  // Bytes each way in the paced run: blocks whole, requests with at least
  // their flags and FCS, replies as they went on the line.
  uint64_t bytes = static_cast<uint64_t>(after.blocksReceived - before.blocksReceived) * 1024;
  for (size_t k = before.requests.size(); k < after.requests.size(); ++k) bytes += after.requests[k].size() + 4;
  for (size_t k = before.replies.size(); k < after.replies.size(); ++k) bytes += after.replies[k].size();
  const uint64_t pausesUs = std::accumulate(after.blockTurnaroundUs.begin() + static_cast<long>(before.blockTurnaroundUs.size()),
                                            after.blockTurnaroundUs.end(), uint64_t{0});
  const double floor = static_cast<double>(bytes) / 5760.0 + static_cast<double>(pausesUs) / 1e6;
  EXPECT_EQ(after.blocksReceived - before.blocksReceived, kBlocks);
  // The floor leaves out every pause but the turnarounds, so any run below
  // it was let through faster than the line: by a pause that paid for the
  // next bytes (about 20 ms a block), or by a reply the tool could read
  // before its last byte had crossed (the ACK's last four bytes, 0.7 ms).
  EXPECT_GE(seconds, floor) << "bytes " << bytes << ", pauses " << pausesUs << " us";
  EXPECT_LT(seconds, floor * 1.5);
}
TEST_F(LineTimingTest, HandsetProgrammingEachBlockHoldsItsAck) {
  Run();  // opens the link
  constexpr uint32_t kProgramUs = 50000;
  m_sims.Handset(0).SetProgramUs(kProgramUs);
  const double seconds = Run();
  const SimRecord r = m_sims.Handset(0).Record();
  EXPECT_TRUE(r.violations.empty()) << (r.violations.empty() ? "" : r.violations[0]);
  // Unprogrammed the run takes a few ms a block.
  EXPECT_GE(seconds, kBlocks * kProgramUs / 1e6);
}
}  // namespace
