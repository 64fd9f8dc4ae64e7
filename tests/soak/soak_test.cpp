// Twenty simulated handsets on pseudo-terminals, round after round, each
// handset with faults drawn from the round's seed. Every round must end;
// every entry reported completed must hold the exact image, every failure
// must be shown on its entry; no thread or descriptor may outlive a round.
//
// SOAK_ROUNDS (default 3) and SOAK_SEED (default: from the clock) choose
// the rounds; round r uses seed SOAK_SEED + r, printed when it fails.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "ControlIds.h"
#include "ProcessCounts.h"
#include "platform/Registry.h"
#include "SoakPlan.h"
#include "SimRig.h"
#include "TestUtil.h"
#include "VelmoraDlg.h"
#include "headless/HeadlessHost.h"
#include "sim/SimBench.h"

namespace {

constexpr int kHandsets = 20;
constexpr uint32_t kRunLimitMs = 300000;
// A round takes seconds (its slowest handset: a 5 s erase, a 3.5 s reply,
// two 5 s timer expiries). Strays that kept a wait from ever ending would
// hold it to kRunLimitMs; well before that it is late.
constexpr uint32_t kChatterRunLimitMs = 120000;

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') return fallback;
  return std::strtoull(v, nullptr, 0);
}

struct Totals {
  int rounds = 0, injected = 0, fired = 0, completed = 0, failed = 0, leaks = 0;
  int silentFailures = 0;  ///< failed entries whose log holds no error line
  double seconds = 0;
};

std::vector<uint8_t> Padded(const std::vector<uint8_t>& image, size_t from) {
  std::vector<uint8_t> v(image.begin() + static_cast<long>(from), image.end());
  v.resize((v.size() + 1023) / 1024 * 1024, 0xFF);
  return v;
}

bool Has(const SoakHandsetPlan& h, SimFaultKind kind) {
  for (const SimFault& f : h.faults)
    if (f.kind == kind) return true;
  return false;
}

bool HasErrorLine(const CHeadlessHost& host, int k) {
  for (const LogLine& l : host.m_logs[k])
    if (l.colour == MakeRgb(255, 0, 0) && !l.text.empty()) return true;
  return false;
}

class SoakRound {
 public:
  explicit SoakRound(const SoakRoundPlan& plan) : m_plan(plan) {}

  /// Runs the round; the problems found, empty when it held.
  std::vector<std::string> Run(Totals& totals) {
    std::vector<std::string> problems;
    ResetProgramState(m_tmp.path());
    const std::string path = MakePhoneImage(m_tmp.path(), m_plan.imageSize, m_plan.start);
    const std::vector<uint8_t> want = Padded(ReadFile(path), m_plan.start);
    {
      CHeadlessHost host;
      CSimBench sims;
      std::string error;
      // Unpaced: a paced line hands a reply over in pieces when the machine
      // is busy, and the link (by design) drops a reply split across two
      // receive bursts, which would fault even the clean handsets.
      if (!sims.Start(kHandsets, SimHandsetConfig{}, &error) || !sims.MapPorts(1))
        return {"cannot start the handsets: " + error};
      for (int k = 0; k < kHandsets; ++k) {
        const SoakHandsetPlan& h = m_plan.handsets[static_cast<size_t>(k)];
        for (const SimFault& f : h.faults) sims.Handset(k).AddFault(f);
        if (h.eraseDelayMs) sims.Handset(k).SetEraseDelayMs(h.eraseDelayMs);
      }
      auto dlg = OpenDialog(host, kHandsets);
      ChooseImage(host, IDC_PHONE_CODE, path);

      std::vector<bool> vanished(kHandsets, false);
      std::string chatterers;
      for (int k = 0; k < kHandsets; ++k)
        if (Has(m_plan.handsets[static_cast<size_t>(k)], SimFaultKind::Chatter))
          chatterers += (chatterers.empty() ? "" : ", ") + std::to_string(k + 1);
      const uint32_t limitMs = chatterers.empty() ? kRunLimitMs : kChatterRunLimitMs;
      const auto began = std::chrono::steady_clock::now();
      host.Click(IDC_DOWNLOAD);
      // The check runs on the dialog's thread between messages: the right
      // moment to pull a handset's cable.
      const bool ended = host.RunUntil(
          [&] {
            for (int k = 0; k < kHandsets; ++k) {
              const int at = m_plan.handsets[static_cast<size_t>(k)].vanishAtBlock;
              if (at < 0 || vanished[static_cast<size_t>(k)]) continue;
              int got = 0;
              sims.Handset(k).Inspect([&](const SimRecord& r) { got = r.blocksReceived; });
              if (got > at) {
                sims.Handset(k).Stop();
                vanished[static_cast<size_t>(k)] = true;
                ++totals.fired;
              }
            }
            return !dlg->Running();
          },
          limitMs);
      totals.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
      if (!ended)
        problems.push_back("the run did not end within " + std::to_string(limitMs / 1000) + " s" +
                           (chatterers.empty() ? "" : "; chattering handsets: entries " + chatterers));

      for (int k = 0; k < kHandsets; ++k) {
        const SoakHandsetPlan& h = m_plan.handsets[static_cast<size_t>(k)];
        const RunEntry& e = dlg->Outcome(k);
        const SimRecord r = sims.Handset(k).Record();
        totals.injected += h.Injected();
        totals.fired += r.faultsFired + (h.eraseDelayMs ? 1 : 0);
        const std::string who = "entry " + std::to_string(k + 1) + " (" + h.text + ")";
        if (e.m_nResult == RESULT_COMPLETED) {
          ++totals.completed;
          if (r.flash.Read(m_plan.start, static_cast<uint32_t>(want.size())) != want)
            problems.push_back(who + ": reported completed, but the handset's flash differs from the image");
          if (host.m_bars[k].m_strText != "Download Completed.")
            problems.push_back(who + ": completed, but the bar shows '" + host.m_bars[k].m_strText + "'");
          if (h.outcome == SoakOutcome::Fail) problems.push_back(who + ": completed despite a fatal fault");
        } else {
          ++totals.failed;
          // A failure in the run shows on the entry's bar; an entry that
          // could not even join it says why in its log.
          if (e.m_nResult == RESULT_FAILED && host.m_bars[k].m_strText != "Error!")
            problems.push_back(who + ": failed, but the bar shows '" + host.m_bars[k].m_strText + "'");
          if (e.m_nResult == RESULT_NONE && host.m_logs[k].empty())
            problems.push_back(who + ": left out of the run without a word in its log");
          if (!HasErrorLine(host, k)) ++totals.silentFailures;
          if (e.m_nResult == RESULT_RUNNING) problems.push_back(who + ": still running");
          if (h.outcome == SoakOutcome::Complete) {
            std::string last = host.m_logs[k].empty() ? "" : host.m_logs[k].back().text;
            problems.push_back(who + ": failed although every fault was recoverable; last log line '" + last +
                               "'; handset: " + sims.Handset(k).Summary());
          }
        }
        if (h.text == "clean" && !r.violations.empty())
          problems.push_back(who + ": protocol violation seen by a clean handset: " + r.violations[0]);
        // Two replies came for one unit: the second must not be taken for
        // the next unit's.
        if (Has(h, SimFaultKind::LateReply))
          for (const std::string& v : r.violations)
            if (v.rfind(sim::kEarlySend, 0) == 0) {
              problems.push_back(who + ": " + v);
              break;
            }
      }
      if (!problems.empty())
        for (const auto& box : host.m_boxes) problems.push_back("message box: " + box.text);
      dlg.reset();
      sims.Stop();
      CPortMap::Instance().Clear();
    }
    return problems;
  }

 private:
  SoakRoundPlan m_plan;
  CTempDir m_tmp;
};

// Threads end a moment after they are told to; give them that moment.
ProcessCounts SettledCounts(const ProcessCounts& want) {
  ProcessCounts now = CountProcess();
  for (int i = 0; i < 100 && !(now == want); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    now = CountProcess();
  }
  return now;
}

TEST(Soak, TwentyHandsetsWithRandomFaults) {
  const uint64_t rounds = EnvNumber("SOAK_ROUNDS", 3);
  const uint64_t base = EnvNumber(
      "SOAK_SEED", static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) % 1000000007);
  std::printf("soak: %llu rounds from SOAK_SEED=%llu\n", static_cast<unsigned long long>(rounds),
              static_cast<unsigned long long>(base));
  Totals totals;
  // A sanitizer's runtime starts a helper thread of its own with the first
  // thread the program makes; let that happen before counting.
  std::thread([] {}).join();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const ProcessCounts before = CountProcess();
  for (uint64_t round = 0; round < rounds; ++round) {
    const uint64_t seed = base + round;
    const SoakRoundPlan plan = DrawSoakRound(seed, kHandsets);
    const int completedBefore = totals.completed, failedBefore = totals.failed;
    std::vector<std::string> problems = SoakRound(plan).Run(totals);
    const ProcessCounts after = SettledCounts(before);
    if (!(after == before)) {
      ++totals.leaks;
      problems.push_back("threads " + std::to_string(before.threads) + " -> " + std::to_string(after.threads) +
                         ", descriptors " + std::to_string(before.fds) + " -> " + std::to_string(after.fds));
    }
    ++totals.rounds;
    std::printf("soak: round %llu seed %llu: %d completed, %d failed, %s\n", static_cast<unsigned long long>(round),
                static_cast<unsigned long long>(seed), totals.completed - completedBefore,
                totals.failed - failedBefore, problems.empty() ? "ok" : "FAILED");
    if (!problems.empty()) {
      std::string text;
      for (const auto& p : problems) text += "\n  " + p;
      ADD_FAILURE() << "round seed " << seed << " (replay: SOAK_SEED=" << seed << " SOAK_ROUNDS=1):" << text;
    }
    std::fflush(stdout);
  }
  std::printf("soak: %d rounds, %d faults planned, %d fired, %d entries completed, %d failed, %d leaking rounds, "
              "%d failures without an error line, %.0f s of runs\n",
              totals.rounds, totals.injected, totals.fired, totals.completed, totals.failed, totals.leaks,
              totals.silentFailures, totals.seconds);
}

// The plan itself: the same seed is the same round, and what it promises
// follows from its faults.
TEST(SoakPlan, SameSeedSameRoundAndOutcomesFollowTheFaults) {
  const SoakRoundPlan a = DrawSoakRound(42, kHandsets), b = DrawSoakRound(42, kHandsets);
  ASSERT_EQ(a.handsets.size(), static_cast<size_t>(kHandsets));
  EXPECT_EQ(a.imageSize, b.imageSize);
  int clean = 0, fatal = 0, late = 0, chatter = 0;
  for (uint64_t seed = 0; seed < 50; ++seed) {
    const SoakRoundPlan p = DrawSoakRound(seed, kHandsets);
    EXPECT_GT(p.imageSize, p.start + static_cast<uint32_t>(p.blocks - 1) * 1024);
    EXPECT_LE(p.imageSize, p.start + static_cast<uint32_t>(p.blocks) * 1024);
    for (const SoakHandsetPlan& h : p.handsets) {
      bool deadly = h.vanishAtBlock >= 0;
      // Held up, but nothing that costs the transfer a timer expiry.
      bool onlyDelays = (!h.faults.empty() || h.eraseDelayMs > 0) && !deadly;
      for (const SimFault& f : h.faults) {
        deadly |= f.kind == SimFaultKind::NakFailed || f.kind == SimFaultKind::HangUp;
        switch (f.kind) {
          case SimFaultKind::LateReply:
            EXPECT_TRUE(f.arg == 0xA0 || f.arg == 0xAB || f.arg == 0xC0) << h.text;
            EXPECT_GT(f.ms, 3000) << "past the request timer";
            onlyDelays &= f.arg != 0xC0;
            ++late;
            break;
          case SimFaultKind::Chatter:
            EXPECT_GE(f.arg, 200);
            EXPECT_EQ(f.times, 0);
            ++chatter;
            break;
          case SimFaultKind::BadAck:
          case SimFaultKind::LoseReply:
            EXPECT_FALSE(f.kind == SimFaultKind::LoseReply && f.arg == 0xEE) << "waited for without limit";
            onlyDelays &= f.arg != 0xC0;
            break;
          default:
            EXPECT_LT(f.arg, p.blocks);
            onlyDelays = false;
        }
      }
      EXPECT_LE(h.eraseDelayMs, 5000u);
      if (deadly) {
        EXPECT_EQ(h.outcome, SoakOutcome::Fail) << h.text;
      }
      if (onlyDelays) {
        EXPECT_EQ(h.outcome, SoakOutcome::Complete) << h.text;
      }
      clean += h.text == "clean";
      fatal += h.outcome == SoakOutcome::Fail;
    }
  }
  for (size_t k = 0; k < a.handsets.size(); ++k) EXPECT_EQ(a.handsets[k].text, b.handsets[k].text);
  // Most handsets must have something to complete, and faults must be common.
  EXPECT_GT(clean, 50 * kHandsets / 5);
  EXPECT_LT(clean, 50 * kHandsets / 2);
  EXPECT_LT(fatal, 50 * kHandsets / 3);
  EXPECT_GT(late, 20);
  EXPECT_GT(chatter, 20);
}

}  // namespace
