// Handsets that misbehave on purpose: replies of any length, floods of
// flags, endless retransmission requests or refusals, an echo of every
// request. Whatever they do, the dialog keeps handling its messages, memory
// stays bounded, the others complete, and each such entry ends with an
// error it can show.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "FakeBench.h"
#include "HostilePeer.h"
#include "SimRig.h"
#include "TestUtil.h"
#include "platform/Registry.h"

#if defined(__SANITIZE_ADDRESS__)
// Memory is judged by the process's resident size. ASan keeps every freed
// block in quarantine, up to 256 MB by default, so a flood that allocates and
// frees a few kB per read would read as 60 MB of growth that the tool does
// not hold (10 MB with the quarantine off). A small quarantine still catches
// a use after free of recent blocks; ASAN_OPTIONS can still change it.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }
#endif

namespace {

constexpr uint32_t kRunLimitMs = 120000;
// The longest the dialog's thread may go without getting back to its loop.
constexpr uint32_t kMaxGapMs = 1000;
constexpr size_t kImageStart = 0x10000;

long RssKb() {
  std::ifstream in("/proc/self/status");
  std::string key;
  while (in >> key) {
    long v = 0;
    if (key == "VmRSS:" && in >> v) return v;
    std::getline(in, key);
  }
  return 0;
}

/// Milliseconds the calling thread has spent ready to run but waiting for a
/// CPU; 0 where the kernel does not tell.
long RunQueueWaitMs() {
  std::ifstream in("/proc/thread-self/schedstat");
  long long runNs = 0, waitNs = 0;
  if (!(in >> runNs >> waitNs)) return 0;
  return static_cast<long>(waitNs / 1000000);
}

class HostileTest : public ::testing::Test, protected CSimRig {
 protected:
  void SetUp() override {
    ResetProgramState(m_tmp.path());
  }
  void TearDown() override {
    m_dlg.reset();
    m_peers.clear();
    m_sims.Stop();
    CPortMap::Instance().Clear();
  }

  /// COM1.. are the hostile peers, then `clean` well-behaved handsets
  /// (their faults, if any, are added by the test afterwards), on an image
  /// of 40 blocks after the start address. The well-behaved ones finish
  /// long before a hostile entry fails by its own handling; the step waits
  /// for it.
  void Start(int clean) {
    constexpr int blocks = 40;
    int com = 1;
    for (auto& p : m_peers) {
      ASSERT_TRUE(p->Ok());
      CPortMap::Instance().Set(com++, p->SlavePath());
    }
    ASSERT_TRUE(m_sims.Start(clean, SimHandsetConfig{}));
    for (int k = 0; k < clean; ++k) CPortMap::Instance().Set(com++, m_sims.Handset(k).SlavePath());
    OpenDialog(com - 1);
    m_path = MakePhoneImage(m_tmp.path(), kImageStart + static_cast<size_t>(blocks - 1) * 1024 + 99, kImageStart);
    Choose(IDC_PHONE_CODE, m_path);
  }

  /// Presses DownLoad and runs until the run ends; records the longest
  /// stretch between two turns of the dialog's loop. Time the thread only
  /// waited for a CPU does not count: on a loaded machine that alone can
  /// exceed the bound, and it is no hold-up of the dialog's making.
  bool Run() {
    m_nRssBeforeKb = RssKb();
    auto last = std::chrono::steady_clock::now();
    long lastWait = RunQueueWaitMs();
    m_host.Click(IDC_DOWNLOAD);
    const bool ended = m_host.RunUntil(
        [&] {
          const auto now = std::chrono::steady_clock::now();
          const long wait = RunQueueWaitMs();
          const long gap = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count()) -
                           (wait - lastWait);
          if (gap > m_nMaxGapMs) m_nMaxGapMs = gap;
          last = now;
          lastWait = wait;
          return !m_dlg->Running();
        },
        kRunLimitMs);
    m_nRssAfterKb = RssKb();
    return ended;
  }

  void ExpectEndedWithError(int k, const std::string& line = "") {
    SCOPED_TRACE(k);
    EXPECT_EQ(m_dlg->Outcome(k).m_nResult, RESULT_FAILED);
    EXPECT_EQ(m_host.m_bars[k].m_strText, "Error!");
    bool red = false;
    for (const LogLine& l : m_host.m_logs[k]) red |= l.colour == MakeRgb(255, 0, 0);
    EXPECT_TRUE(red) << "no error line in the entry's log";
    if (!line.empty()) {
      EXPECT_TRUE(HasLog(m_host, k, line)) << line;
    }
  }

  void ExpectCompleted(int k, int sim) {
    SCOPED_TRACE(k);
    EXPECT_EQ(m_dlg->Outcome(k).m_nResult, RESULT_COMPLETED);
    std::vector<uint8_t> want = ReadFile(m_path);
    want.erase(want.begin(), want.begin() + kImageStart);
    want.resize((want.size() + 1023) / 1024 * 1024, 0xFF);
    EXPECT_EQ(m_sims.Handset(sim).Record().flash.Read(kImageStart, static_cast<uint32_t>(want.size())), want);
  }

  void ExpectResponsiveAndBounded() {
    EXPECT_LE(m_nMaxGapMs, kMaxGapMs) << "the dialog's thread was held up";
    EXPECT_LE(m_nRssAfterKb - m_nRssBeforeKb, 64 * 1024) << "memory grew by " << m_nRssAfterKb - m_nRssBeforeKb
                                                         << " kB";
  }

  CTempDir m_tmp;
  std::vector<std::unique_ptr<CHostilePeer>> m_peers;
  std::string m_path;
  long m_nMaxGapMs = 0, m_nRssBeforeKb = 0, m_nRssAfterKb = 0;
};

TEST_F(HostileTest, RepliesOfAnyLengthUpTo600Bytes) {
  // Five handsets answer with ACK-looking replies whose lengths step
  // through 0..600 on different schedules; their check bytes are never
  // right, so none of them is ever accepted outside a block transfer.
  for (int h = 0; h < 5; ++h) {
    auto count = std::make_shared<int>(0);
    m_peers.push_back(std::make_unique<CHostilePeer>([h, count](const std::vector<uint8_t>&) {
      const size_t len = static_cast<size_t>(h * 120 + (*count)++ * 37) % 601;
      std::vector<uint8_t> body(len);
      for (size_t k = 0; k < len; ++k) body[k] = static_cast<uint8_t>(0x31 + k % 40);
      if (len > 0) body[0] = 0x02;
      return HostileFrame(body);
    }));
  }
  Start(1);
  ASSERT_TRUE(Run());
  for (int k = 0; k < 5; ++k) ExpectEndedWithError(k);
  ExpectCompleted(5, 0);
  ExpectResponsiveAndBounded();
}

TEST_F(HostileTest, FloodOfFlagsFromTheFirstMoment) {
  // Alone: nothing but the flood decides how the run ends.
  m_peers.push_back(std::make_unique<CHostilePeer>([](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; },
                                                   std::vector<uint8_t>(2048, 0x7E)));
  Start(0);
  ASSERT_TRUE(Run());
  ExpectEndedWithError(0, "응답이 없습니다.");
  ExpectResponsiveAndBounded();
  EXPECT_GT(m_peers[0]->Sent(), 100000u) << "the flood never got going";
  std::printf("flood: %zu bytes of flags, %zu lines in the entry's log, %ld kB more memory, longest turn %ld ms\n",
              m_peers[0]->Sent(), m_host.m_logs[0].size(), m_nRssAfterKb - m_nRssBeforeKb, m_nMaxGapMs);
}

TEST_F(HostileTest, FloodOfFlagsBesideAWellBehavedHandset) {
  m_peers.push_back(std::make_unique<CHostilePeer>([](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; },
                                                   std::vector<uint8_t>(2048, 0x7E)));
  Start(1);
  ASSERT_TRUE(Run());
  ExpectEndedWithError(0);
  ExpectCompleted(1, 0);
  ExpectResponsiveAndBounded();
}

TEST_F(HostileTest, EchoOfEveryRequest) {
  m_peers.push_back(std::make_unique<CHostilePeer>([](const std::vector<uint8_t>& in) { return in; }));
  Start(1);
  ASSERT_TRUE(Run());
  ExpectEndedWithError(0, "응답이 없습니다.");
  ExpectCompleted(1, 0);
  ExpectResponsiveAndBounded();
  EXPECT_GT(m_peers[0]->Sent(), 0u);
}

TEST_F(HostileTest, ResendAckForEveryBlockForever) {
  Start(2);
  m_sims.Handset(0).AddFault(SimFault{SimFaultKind::Hostile, 0, 0});
  ASSERT_TRUE(Run());
  ExpectEndedWithError(0, "응답없음. 처음부터 다시 해주시기 바랍니다.");
  ExpectCompleted(1, 1);
  ExpectResponsiveAndBounded();
}

TEST_F(HostileTest, BlockRefusedForeverGivesTheEntryUp) {
  // Every attempt at one block is refused, the damaged way and the plain
  // way: each refusal asks for the block again, so only a limit on
  // refusals in a row can end it.
  Start(3);
  m_sims.Handset(0).AddFault(SimFault{SimFaultKind::BadNakFailed, 3, 0});
  m_sims.Handset(1).AddFault(SimFault{SimFaultKind::NakRetry, 0, 0});
  ASSERT_TRUE(Run());
  ExpectEndedWithError(0, "재시도 횟수 초과. 처음부터 다시 해주시기 바랍니다.");
  ExpectEndedWithError(1, "재시도 횟수 초과. 처음부터 다시 해주시기 바랍니다.");
  ExpectCompleted(2, 2);
  ExpectResponsiveAndBounded();
}

// The same limit on the fake bench, where it can be counted exactly: ten
// refusals in a row end the entry; fewer, with an accepted reply between,
// never add up.
TEST(RefusalLimit, TenInARowEndTheEntryNineDoNot) {
  CTempDir tmp;
  CRegistry::SetStorePath(tmp.path() + "/settings.ini");
  const std::string path = MakePhoneImage(tmp.path(), kImageStart + 30 * 1024, kImageStart);
  CFakeBench b(2);
  b.BindAll();
  b.ChoosePhone(path);
  // Handset 0 refuses block 4 forever; handset 1 refuses each of blocks
  // 1..20 nine times, then takes it.
  // (A bare A1 is too short a frame for boot framing: it would be silence.)
  b.handset(0).onBlock = [](int k) { return k == 4 ? BlockAction::NakFailedDamaged : BlockAction::Ack; };
  auto refusals = std::make_shared<std::map<int, int>>();
  b.handset(1).onBlock = [refusals](int k) {
    if (k < 1 || k > 20 || (*refusals)[k] >= 9) return BlockAction::Ack;
    ++(*refusals)[k];
    return BlockAction::NakFailedDamaged;
  };
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_FAILED);
  EXPECT_EQ(CountLog(b.host(), 0, "재시도 횟수 초과. 처음부터 다시 해주시기 바랍니다."), 1);
  EXPECT_EQ(b.handset(0).markers, 9) << "nine refusals are retried, the tenth is not";
  EXPECT_EQ(b.dlg().Outcome(1).m_nResult, RESULT_COMPLETED);
  EXPECT_EQ(CountLog(b.host(), 1, "NAK_FAILED, but crc error. Retry"), 9 * 20);
}

}  // namespace
