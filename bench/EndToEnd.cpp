#include "EndToEnd.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "BenchRig.h"
#include "ControlIds.h"
#include "platform/Registry.h"
#include "Resources.h"
#include "platform/PortMap.h"
#include "sim/SimHandset.h"

extern char** environ;

namespace {

constexpr uint32_t kStart = 0x10000;
constexpr uint32_t kRunLimitMs = 600000;

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Percentile(std::vector<uint32_t> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t at = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
  return static_cast<double>(v[at]);
}

void Progress(const std::string& text) {
  std::fprintf(stderr, "bench: %s\n", text.c_str());
  std::fflush(stderr);
}

void NoteStall(CountFigures& f, const RunResult& r) {
  const double ms = static_cast<double>(r.dialog.longestNs) / 1e6;
  if (ms > f.longestStallMs) {
    f.longestStallMs = ms;
    f.longestStallWhat = DescribeMessage(r.dialog.longestMsg, r.dialog.longestParam);
  }
}

/// Folds the measured runs of one entry count into its medians.
CountFigures Summarise(int count, const std::vector<RunResult>& runs, uint32_t paceBps) {
  CountFigures f;
  f.count = count;
  std::vector<double> seconds, perEntry, total, busy, efficiency, perBlock, cores;
  std::vector<uint32_t> turnaround;
  for (const RunResult& r : runs) {
    NoteStall(f, r);
    if (!r.ok) {
      if (f.failure.empty()) f.failure = r.failure;
      continue;
    }
    ++f.runsOk;
    seconds.push_back(r.seconds);
    perEntry.push_back(r.blocks / r.seconds);
    total.push_back(count * r.blocks / r.seconds);
    busy.push_back(static_cast<double>(r.dialog.busyNs) / (r.seconds * 1e9));
    if (paceBps) efficiency.push_back((static_cast<double>(r.imageBytes) / paceBps) / r.seconds);
    if (r.blocks > 0) perBlock.push_back(r.seconds * 1000.0 / r.blocks);
    cores.push_back(static_cast<double>(r.cpuUs) / (r.seconds * 1e6));
    turnaround.insert(turnaround.end(), r.turnaroundUs.begin(), r.turnaroundUs.end());
  }
  f.seconds = Median(seconds);
  f.blocksPerSecEntry = Median(perEntry);
  f.blocksPerSecTotal = Median(total);
  f.busyShare = Median(busy);
  f.efficiency = Median(efficiency);
  f.perBlockMs = Median(perBlock);
  f.cpuCores = Median(cores);
  f.turnaroundMedianMs = Percentile(turnaround, 0.5) / 1000.0;
  f.turnaroundP95Ms = Percentile(turnaround, 0.95) / 1000.0;
  return f;
}

/// What a line's handsets and receive threads do.
struct LineSpec {
  uint32_t paceBps = 0;    ///< 0 = unpaced
  uint32_t programUs = 0;  ///< per block, 0 = none
  int settleMs = 0;        ///< RX_SETTLE_MS of the tool
  const char* name = "";   ///< for progress lines
};

/// The setting is read by the tool's links; each line's rig opens them
/// afresh, so writing it before the rig starts is enough.
void SetSettle(int ms) { CRegistry::WriteString(kRxSettleSetting, std::to_string(ms)); }

/// One entry count: a warm-up run (it opens the links and asks the boot
/// version once), then the measured runs, both as `line` says;
/// then, when asked, the idle entry or the run with two entries failing.
CountFigures MeasureCount(int count, const std::string& image, const LineSpec& line, int runs, E2eFigures& all,
                          bool idle = false, bool faults = false) {
  SetSettle(line.settleMs);
  CBenchRig rig;
  std::string error;
  CountFigures failed;
  failed.count = count;
  if (!rig.Start(count, image, error)) {
    failed.failure = error;
    return failed;
  }
  // The warm-up goes at the line's own pace: unpaced, a short image is
  // through on one handset before another's first block is answered, and
  // the first to finish drops the entries that never flashed.
  rig.SetPace(line.paceBps);
  rig.SetProgramUs(line.programUs);
  Progress(std::to_string(count) + " entries, " + line.name + ", warm-up (opens the links)");
  RunResult warm = rig.Run(kRunLimitMs);
  if (count == 20) {
    all.firstPressMs = std::max(all.firstPressMs, warm.downloadPressMs);
    if (warm.openMs > all.firstOpenMs) {
      all.firstOpenMs = warm.openMs;
      all.firstOpenBusyMs = static_cast<double>(warm.opening.busyNs) / 1e6;
    }
    const double longest = static_cast<double>(warm.opening.longestNs) / 1e6;
    if (longest > all.firstOpenLongestMs) {
      all.firstOpenLongestMs = longest;
      all.firstOpenLongestWhat = DescribeMessage(warm.opening.longestMsg, warm.opening.longestParam);
    }
  }
  if (!warm.ok) {
    failed.failure = "warm-up: " + warm.failure;
    return failed;
  }
  std::vector<RunResult> results;
  for (int k = 0; k < runs; ++k) {
    Progress(std::to_string(count) + " entries, " + line.name + ", run " + std::to_string(k + 1) + "/" +
             std::to_string(runs));
    results.push_back(rig.Run(kRunLimitMs));
    all.downloadPressMs = std::max(all.downloadPressMs, results.back().downloadPressMs);
  }
  CountFigures f = Summarise(count, results, line.paceBps);

  if (idle) {
    // The entry stays connected after its run; its thread waits for input.
    Progress("idle entry for " + std::to_string(all.idleMs / 1000) + " s");
    const uint64_t before = ProcessCpuUs();
    const ThreadUsage rxBefore = rig.ReceiveThreads();
    rig.Idle(all.idleMs);
    const ThreadUsage rxAfter = rig.ReceiveThreads();
    all.idleCpuMs = static_cast<double>(ProcessCpuUs() - before) / 1000.0;
    all.idleRxCpuMs = static_cast<double>(rxAfter.cpuNs - rxBefore.cpuNs) / 1e6;
    all.idleRxSwitches = rxAfter.switches - rxBefore.switches;
  }
  if (faults && count >= 2) {
    // Disconnect inside a run: handset 1 hangs up, handset 2 reports a
    // flash failure, half-way through the image.
    Progress(std::to_string(count) + " entries, two of them failing half-way");
    const int half = static_cast<int>(results.empty() ? 1 : results.front().blocks / 2);
    rig.Handsets().Handset(0).AddFault(SimFault{SimFaultKind::HangUp, half, 1});
    rig.Handsets().Handset(1).AddFault(SimFault{SimFaultKind::NakFailed, half, 1});
    RunResult faulted = rig.Run(kRunLimitMs, {0, 1});
    // The figure stands for Disconnect only if both entries were taken out.
    for (int k : {0, 1}) {
      const CVelmoraDlg& dlg = rig.Dialog();
      if (faulted.ok && (dlg.Outcome(k).m_nResult != RESULT_FAILED || dlg.Binding(k).m_bConnected != 0)) {
        faulted.ok = false;
        faulted.failure = "entry " + std::to_string(k + 1) + " was not disconnected";
      }
    }
    all.faulted = Summarise(count, {faulted}, 0);
    all.disconnectIdleMs = std::max(all.disconnectIdleMs, rig.DisconnectEachMs());
  }
  return f;
}

long RssOfChild(const std::string& image, uint32_t blocks, const std::string& scratch, std::string& failure) {
  CSimHandset handset;
  std::string error;
  if (!handset.Start(&error)) {
    failure = "handset: " + error;
    return 0;
  }
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) {
    failure = "cannot find the benchmark's own program";
    return 0;
  }
  self[n] = '\0';
  // The child reports its own peak: the exit status's ru_maxrss would also
  // hold this process's size, which the child's memory carried until exec.
  const std::string report = scratch + "/rss-" + std::to_string(blocks) + "-" + std::to_string(image.size());
  std::vector<std::string> args{self, "--rss-child", image, handset.SlavePath(), report};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, self, nullptr, nullptr, argv.data(), environ) != 0) {
    failure = "cannot start the child";
    return 0;
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    failure = "the child's download of " + std::to_string(blocks) + " blocks failed";
    return 0;
  }
  int written = 0;
  handset.Inspect([&](const SimRecord& r) { written = r.blocksWritten; });
  if (written != static_cast<int>(blocks)) {
    failure = "the handset stored " + std::to_string(written) + " of " + std::to_string(blocks) + " blocks";
    return 0;
  }
  long kib = 0;
  std::ifstream in(report);
  if (!(in >> kib)) failure = "the child wrote no peak";
  return kib;
}

/// Peak resident size of this process's own memory (VmHWM), in KiB.
long OwnPeakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return 0;
}

}  // namespace

E2eFigures RunEndToEnd(const E2eOptions& o) {
  E2eFigures all;
  all.idleMs = o.idleMs;
  CTempDir dir;
  CRegistry::SetStorePath(dir.path() + "/settings.ini");
  const std::string unpacedImage = MakePhoneImage(dir.path(), kStart + uint64_t{o.unpacedBlocks} * 1024, kStart);
  const std::string pacedImage = MakePhoneImage(dir.path(), kStart + uint64_t{o.pacedBlocks} * 1024, kStart);

  const std::string programImage = MakePhoneImage(dir.path(), kStart + uint64_t{o.programBlocks} * 1024, kStart);
  all.programUs = o.programUs;
  all.classicSettleMs = o.classicSettleMs;
  const std::string classic = "RX_SETTLE_MS=" + std::to_string(o.classicSettleMs);
  const std::string programming = std::to_string(o.programUs) + " us programming";
  const LineSpec unpaced{0, 0, 0, "unpaced"};
  const LineSpec paced{o.paceBps, 0, 0, "paced"};
  const LineSpec programmed{0, o.programUs, 0, programming.c_str()};
  const std::string unpacedClassicName = "unpaced, " + classic, programmedClassicName = programming + ", " + classic;
  const LineSpec unpacedClassic{0, 0, o.classicSettleMs, unpacedClassicName.c_str()};
  const LineSpec programmedClassic{0, o.programUs, o.classicSettleMs, programmedClassicName.c_str()};

  for (int count : o.counts)
    all.unpaced.push_back(
        MeasureCount(count, unpacedImage, unpaced, o.unpacedRuns, all, count == 1, count == o.counts.back()));
  for (int count : o.counts) all.paced.push_back(MeasureCount(count, pacedImage, paced, o.pacedRuns, all));
  for (int count : o.programCounts)
    all.programmed.push_back(MeasureCount(count, programImage, programmed, o.programRuns, all));
  if (o.classicSettleMs > 0) {
    for (int count : o.programCounts) {
      all.unpacedClassic.push_back(MeasureCount(count, unpacedImage, unpacedClassic, 1, all));
      all.programmedClassic.push_back(MeasureCount(count, programImage, programmedClassic, 1, all));
    }
  }
  SetSettle(0);

  // Memory: the tool alone in a child process, so that neither the
  // handsets' flash nor this process's history is counted.
  constexpr uint64_t kSmall = 1u << 20, kLarge = 16u << 20;
  const std::string small = MakePhoneImage(dir.path(), kSmall, 0);
  // By default only the last MiB of the large image is sent, so that both
  // children send the same number of blocks and only the image size differs.
  const uint32_t largeStart = o.fullRss ? 0 : static_cast<uint32_t>(kLarge - kSmall);
  const std::string large = MakePhoneImage(dir.path(), kLarge, largeStart);
  all.rssSmallImage = kSmall;
  all.rssLargeImage = kLarge;
  all.rssSmallBlocks = static_cast<uint32_t>(kSmall / 1024);
  all.rssLargeBlocks = static_cast<uint32_t>((kLarge - largeStart) / 1024);
  Progress("peak memory, 1 MiB image");
  all.rssSmallKiB = RssOfChild(small, all.rssSmallBlocks, dir.path(), all.rssFailure);
  Progress("peak memory, 16 MiB image");
  if (all.rssFailure.empty()) all.rssLargeKiB = RssOfChild(large, all.rssLargeBlocks, dir.path(), all.rssFailure);
  return all;
}

int RunRssChild(const std::string& image, const std::string& device, const std::string& report) {
  CTempDir dir;
  CRegistry::SetStorePath(dir.path() + "/settings.ini");
  CPortMap::Instance().Clear();
  CPortMap::Instance().Set(1, device);
  CHeadlessHost host;
  host.m_nYesNoAnswer = IDYES;
  CVelmoraDlg dlg(host);
  host.SetDialog(&dlg);
  dlg.OnInitDialog();
  host.Click(IDC_AUTO_DETECT, 0);
  host.SelectListItem(IDC_PORT_LIST, 0, true);
  host.m_fileAnswers.push_back(image);
  host.Click(IDC_PHONE_CODE, 1);
  host.Click(IDC_DOWNLOAD);
  const bool ended = host.RunUntil([&] { return !dlg.Running(); }, kRunLimitMs);
  if (!ended || dlg.Outcome(0).m_nResult != RESULT_COMPLETED) return 1;
  std::ofstream(report) << OwnPeakKiB() << "\n";
  return 0;
}
