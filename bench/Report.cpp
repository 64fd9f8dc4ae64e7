#include "Report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

constexpr double kTurnaroundMs = 0.5;
// Five times the 192 blocks per second the tool managed per entry while it
// read each burst 5 ms after its first byte.
constexpr double kBlocksPerSec = 5 * 192.0;
constexpr double kScaling = 0.95;
constexpr double kEfficiency = 0.99;
// A block that takes its handset P to program may cost at most 1.2 P.
constexpr double kProgramSlack = 1.2;
constexpr double kStallMs = 50.0;
constexpr double kFirstOpenBusyMs = 250.0;
// "About nothing" for an idle entry: a thousandth of a core.
constexpr double kIdleCpuMs = 10.0;
constexpr double kRssGrowth = 1.10;
// The window beside the headless host on the same handsets.
constexpr double kWindowTimeProgrammed = 1.10;
constexpr double kWindowCpuProgrammed = 3.0;
constexpr double kWindowTimePaced = 1.01;
constexpr double kClickMs = 100.0;
// The production bench: flow mode near what the bench allows, and well
// ahead of batches.
constexpr double kFlowOfLimit = 0.90;
constexpr double kFlowOverBatch = 1.3;

std::string Entries(int n) { return std::to_string(n) + (n == 1 ? " entry" : " entries"); }

std::string Fmt(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

const CountFigures* Find(const std::vector<CountFigures>& v, int count) {
  for (const auto& f : v)
    if (f.count == count) return &f;
  return nullptr;
}

bool AllOk(const std::vector<CountFigures>& v) {
  return std::all_of(v.begin(), v.end(), [](const CountFigures& f) { return f.failure.empty() && f.runsOk > 0; });
}

// Never tried (no reason given) or left out on purpose: no rows.
bool WindowLeftOut(const WindowFigures& w) {
  return !w.measured && (w.why.empty() || w.why.rfind("left out", 0) == 0);
}

bool HostOk(const HostFigures& f) { return f.failure.empty() && f.runsOk > 0; }

bool HphLeftOut(const HphFigures& h) { return !h.measured && (h.why.empty() || h.why.rfind("left out", 0) == 0); }

bool ModeOk(const HphModeFigures& m) { return m.measured && m.failure.empty() && m.perHour > 0; }

std::string HostFailure(const WindowLineFigures& l) {
  std::string s;
  if (!l.window.failure.empty()) s += " - window: " + l.window.failure;
  if (!l.headless.failure.empty()) s += " - headless: " + l.headless.failure;
  return s;
}

}  // namespace

std::vector<TargetRow> JudgeWindowTargets(const WindowFigures& w) {
  std::vector<TargetRow> rows;
  const std::string entries = Entries(w.handsets);
  if (!w.measured) {
    for (const char* target : {"window run time / headless host's, programming line", "window CPU / headless host's, programming line",
                               "window run time / headless host's, paced line", "a click during a window run takes effect"})
      rows.push_back({target, "not measured: " + w.why, "-", 0, false});
    return rows;
  }
  const WindowLineFigures& p = w.programmed;
  const bool progOk = HostOk(p.window) && HostOk(p.headless);
  const double timeRatio = p.headless.seconds > 0 ? p.window.seconds / p.headless.seconds : 0;
  rows.push_back({Fmt("window run time / headless host's, %.1f ms programming, %u blocks, %s", w.programUs / 1000.0,
                      p.blocks, entries.c_str()),
                  Fmt("%.3f (%.3f s vs %.3f s)", timeRatio, p.window.seconds, p.headless.seconds) + HostFailure(p),
                  Fmt("<= %.2f", kWindowTimeProgrammed), timeRatio / kWindowTimeProgrammed,
                  progOk && timeRatio > 0 && timeRatio <= kWindowTimeProgrammed});
  const double cpuRatio = p.headless.cpuMs > 0 ? p.window.cpuMs / p.headless.cpuMs : 0;
  rows.push_back({"window CPU / headless host's, the same line",
                  Fmt("%.2f (%.0f ms vs %.0f ms)", cpuRatio, p.window.cpuMs, p.headless.cpuMs) + HostFailure(p),
                  Fmt("<= %.0f", kWindowCpuProgrammed), cpuRatio / kWindowCpuProgrammed,
                  progOk && cpuRatio > 0 && cpuRatio <= kWindowCpuProgrammed});
  const WindowLineFigures& q = w.paced;
  const bool pacedOk = HostOk(q.window) && HostOk(q.headless);
  const double pacedRatio = q.headless.seconds > 0 ? q.window.seconds / q.headless.seconds : 0;
  rows.push_back({Fmt("window run time / headless host's, paced %u B/s, %u blocks, %s", w.paceBps, q.blocks,
                      entries.c_str()),
                  Fmt("%.4f (%.3f s vs %.3f s)", pacedRatio, q.window.seconds, q.headless.seconds) + HostFailure(q),
                  Fmt("<= %.2f", kWindowTimePaced), pacedRatio / kWindowTimePaced,
                  pacedOk && pacedRatio > 0 && pacedRatio <= kWindowTimePaced});
  double click = 0;
  int clicks = 0;
  for (const WindowLineFigures* l : {&w.programmed, &w.paced, &w.unpaced}) {
    click = std::max(click, l->window.clickMaxMs);
    clicks += l->window.clicks;
  }
  rows.push_back({"a click during a window run (a key press posted to the entry slider) to its effect painted, longest",
                  Fmt("%.1f ms over %d clicks", click, clicks), Fmt("<= %.0f ms", kClickMs), click / kClickMs,
                  clicks > 0 && click <= kClickMs});
  return rows;
}

std::vector<TargetRow> JudgeHphTargets(const HphFigures& h) {
  const std::string ofLimit = "flow mode, completed handsets per hour / the bench's limit";
  const std::string overBatch = "flow mode / batch mode, completed handsets per hour";
  if (!h.measured)
    return {{ofLimit, "not measured: " + h.why, "-", 0, false}, {overBatch, "not measured: " + h.why, "-", 0, false}};
  auto failures = [](const HphModeFigures& m, const char* mode) {
    if (m.failure.empty() && m.measured) return std::string();
    return std::string(" - ") + mode + ": " + (m.failure.empty() ? "no measured span" : m.failure);
  };
  const HphModeFigures& f = h.flow;
  const HphModeFigures& b = h.batch;
  std::vector<TargetRow> rows;
  const double share = f.limit > 0 ? f.perHour / f.limit : 0;
  rows.push_back({ofLimit, Fmt("%.3f (%.0f of %.0f per hour)", share, f.perHour, f.limit) + failures(f, "flow"),
                  Fmt(">= %.2f", kFlowOfLimit), share / kFlowOfLimit, ModeOk(f) && share >= kFlowOfLimit});
  const double gain = b.perHour > 0 ? f.perHour / b.perHour : 0;
  rows.push_back({overBatch,
                  Fmt("%.2f (%.0f vs %.0f per hour)", gain, f.perHour, b.perHour) + failures(f, "flow") +
                      failures(b, "batch"),
                  Fmt(">= %.1f", kFlowOverBatch), gain / kFlowOverBatch,
                  ModeOk(f) && ModeOk(b) && gain >= kFlowOverBatch});
  return rows;
}

std::vector<TargetRow> JudgeTargets(const E2eFigures& e) {
  std::vector<TargetRow> rows;
  const bool pacedOk = AllOk(e.paced), programmedOk = AllOk(e.programmed);

  const CountFigures* one = Find(e.unpaced, 1);
  const bool oneOk = one && one->failure.empty() && one->runsOk > 0;
  const double turn = one ? one->turnaroundMedianMs : 0;
  rows.push_back({"own turnaround per block, median, unpaced, 1 entry", Fmt("%.3f ms", turn),
                  Fmt("<= %.1f ms", kTurnaroundMs), turn / kTurnaroundMs, oneOk && turn <= kTurnaroundMs});

  const double perEntry = one ? one->blocksPerSecEntry : 0;
  rows.push_back({"blocks per second per entry, unpaced, 1 entry", Fmt("%.0f", perEntry),
                  Fmt(">= %.0f (5 x 192)", kBlocksPerSec), perEntry / kBlocksPerSec,
                  oneOk && perEntry >= kBlocksPerSec});

  double worstEff = 2;
  int worstEffCount = 0;
  for (const auto& f : e.paced)
    if (f.efficiency <= worstEff) {
      worstEff = f.efficiency;
      worstEffCount = f.count;
    }
  if (e.paced.empty()) worstEff = 0;
  rows.push_back({"paced efficiency (image bytes / 5760 B/s) / time (worst entry count)",
                  Fmt("%.3f (%s)", worstEff, Entries(worstEffCount).c_str()), Fmt(">= %.2f", kEfficiency),
                  worstEff / kEfficiency, pacedOk && worstEff >= kEfficiency});

  const CountFigures* progOne = Find(e.programmed, 1);
  const CountFigures* progTwenty = Find(e.programmed, 20);
  const double programMs = e.programUs / 1000.0;
  const double perBlockLimit = programMs * kProgramSlack;
  const double perBlock = progOne ? progOne->perBlockMs : 0;
  rows.push_back({Fmt("per-block time, handsets programming a block in %.1f ms, 1 entry", programMs),
                  Fmt("%.3f ms", perBlock), Fmt("<= %.1f ms", perBlockLimit),
                  perBlockLimit > 0 ? perBlock / perBlockLimit : 0,
                  programmedOk && progOne && perBlock > 0 && perBlock <= perBlockLimit});
  if (progOne && progTwenty && progOne->blocksPerSecTotal > 0) {
    const double scaling = progTwenty->blocksPerSecTotal / (20 * progOne->blocksPerSecTotal);
    rows.push_back({Fmt("20-entry aggregate / (20 x one entry), %.1f ms programming", programMs),
                    Fmt("%.3f (%.0f vs 20 x %.1f blocks/s)", scaling, progTwenty->blocksPerSecTotal,
                        progOne->blocksPerSecTotal),
                    Fmt(">= %.2f", kScaling), scaling / kScaling, programmedOk && scaling >= kScaling});
  }

  double stall = e.disconnectIdleMs;
  std::string what = "Disconnect of an idle entry";
  auto consider = [&](const CountFigures& f, const char* kind) {
    if (f.longestStallMs > stall) {
      stall = f.longestStallMs;
      what = f.longestStallWhat + ", " + kind + ", " + Entries(f.count);
    }
  };
  for (const auto& f : e.unpaced) consider(f, "unpaced");
  for (const auto& f : e.paced) consider(f, "paced");
  for (const auto& f : e.programmed) consider(f, "programming");
  for (const auto& f : e.unpacedClassic) consider(f, "unpaced, classic cadence");
  for (const auto& f : e.programmedClassic) consider(f, "programming, classic cadence");
  consider(e.faulted, "two entries disconnected in the run");
  if (e.downloadPressMs > stall) {
    stall = e.downloadPressMs;
    what = "DownLoad with the links open";
  }
  if (e.firstOpenLongestMs > stall) {
    stall = e.firstOpenLongestMs;
    what = e.firstOpenLongestWhat + ", first DownLoad on 20 unopened ports";
  }
  // Without the run in which two entries are disconnected, Disconnect was
  // never measured inside a run; without a first DownLoad, nor was that.
  const bool faultedOk = e.faulted.count == 0 || (e.faulted.failure.empty() && e.faulted.runsOk > 0);
  const bool firstOk = e.firstOpenMs > 0;
  rows.push_back({"longest single dialog-thread stall (first DownLoad on 20 unopened ports and Disconnect included)",
                  Fmt("%.2f ms (%s)", stall, what.c_str()) +
                      (faultedOk ? std::string() : " - the run with disconnections failed: " + e.faulted.failure) +
                      (firstOk ? std::string() : " - no first DownLoad on 20 ports was measured"),
                  Fmt("<= %.0f ms", kStallMs), stall / kStallMs, faultedOk && firstOk && stall <= kStallMs});

  rows.push_back({"dialog-thread time of the first DownLoad on 20 unopened ports, press to first requests",
                  Fmt("%.1f ms (in %.0f ms)", e.firstOpenBusyMs, e.firstOpenMs),
                  Fmt("<= %.0f ms", kFirstOpenBusyMs), e.firstOpenBusyMs / kFirstOpenBusyMs,
                  firstOk && e.firstOpenBusyMs <= kFirstOpenBusyMs});

  const double per10s = 10000.0 / std::max(1u, e.idleMs);
  rows.push_back({"CPU of an idle connected entry's receive thread, per 10 s",
                  Fmt("%.3f ms, woken %llu times (whole process: %.2f ms)", e.idleRxCpuMs * per10s,
                      static_cast<unsigned long long>(e.idleRxSwitches), e.idleCpuMs * per10s),
                  Fmt("<= %.0f ms", kIdleCpuMs), e.idleRxCpuMs * per10s / kIdleCpuMs,
                  e.idleMs > 0 && e.idleRxCpuMs * per10s <= kIdleCpuMs});

  const double growth = e.rssSmallKiB > 0 ? static_cast<double>(e.rssLargeKiB) / e.rssSmallKiB : 0;
  rows.push_back({"peak RSS, 16 MiB image / 1 MiB image",
                  e.rssFailure.empty() ? Fmt("%.3f (%ld KiB vs %ld KiB)", growth, e.rssLargeKiB, e.rssSmallKiB)
                                       : "failed: " + e.rssFailure,
                  Fmt("<= %.2f", kRssGrowth), growth / kRssGrowth,
                  e.rssFailure.empty() && growth > 0 && growth <= kRssGrowth});
  if (!WindowLeftOut(e.window))
    for (TargetRow& r : JudgeWindowTargets(e.window)) rows.push_back(std::move(r));
  if (!HphLeftOut(e.hph))
    for (TargetRow& r : JudgeHphTargets(e.hph)) rows.push_back(std::move(r));
  return rows;
}

/// The window line: how it is measured and its figures.
static std::string WindowSection(const WindowFigures& w, bool withTargets) {
  std::string s = "## The window\n\n";
  if (!w.measured) return s + "Not measured: " + w.why + "\n\n";
  s += Fmt("- The real Qt window (velmora-window-bench --host window) and the headless host (--host headless) each "
           "run in a process of their own on the same %d simulated handsets, which stay in the benchmark's process; "
           "the window runs on %s. Each is driven as the operator drives it: the handsets' ports arrive as hot-plug "
           "notifications, PHONE Code is clicked and the file dialog answered with the image, then DownLoad is "
           "clicked, once for a warm-up run and then for each measured run; boxes are answered at once.\n",
           w.handsets, w.platform.c_str());
  s += "- Run time is the DownLoad click to the run's end; CPU is the host process's own (user + system) over that "
       "span, so the handsets are not in it. The hosts take turns, headless first, so that both see the same "
       "machine.\n";
  s += Fmt("- In the measured runs nobody touches the window. After them, in one more run of each window, a key "
           "press (Right, then Left) is posted to the entry slider every %d ms, behind whatever the handsets' "
           "messages have queued, one at a time; its latency runs from the post to the first paint of the entry label "
           "after the slider moved. Paints count every widget paint of the window during a measured run.\n",
           w.clickMs);
  if (w.xServerCpuMs > 0)
    s += Fmt("- The X server (Xvfb) used %.0f ms of CPU over all the window's runs and warm-ups; it is not in the "
             "window's CPU figure.\n",
             w.xServerCpuMs);
  s += "\n";
  if (withTargets) {
    s += "| Target | Measured | Limit | Ratio | Met |\n|---|---|---|---|---|\n";
    for (const TargetRow& r : JudgeWindowTargets(w))
      s += "| " + r.target + " | " + r.measured + " | " + r.limit + " | " + Fmt("%.3f", r.ratio) + " | " +
           (r.met ? "yes" : "**no**") + " |\n";
    s += "\n";
  }
  s += "| Line | Blocks | Host | Runs ok | Run time s | CPU ms | Paints per run | Clicks | Click median ms | "
       "Click longest ms |\n|---|---|---|---|---|---|---|---|---|---|\n";
  for (const WindowLineFigures* l : {&w.programmed, &w.paced, &w.unpaced}) {
    for (const HostFigures* f : {&l->headless, &l->window}) {
      const bool window = f == &l->window;
      s += Fmt("| %s | %u | %s | %d/%d | %.3f | %.0f | ", l->name.c_str(), l->blocks, window ? "window" : "headless",
               f->runsOk, f->runs, f->seconds, f->cpuMs);
      s += window ? Fmt("%.0f | %d | %.1f | %.1f |", f->paints, f->clicks, f->clickMedianMs, f->clickMaxMs)
                  : std::string("- | - | - | - |");
      if (!f->failure.empty()) s += " failure: " + f->failure;
      s += "\n";
    }
  }
  return s + "\n";
}

/// The handsets-per-hour line: how it is measured and its figures.
static std::string HphSection(const HphFigures& h, bool withTargets) {
  std::string s = "## Handsets per hour\n\n";
  if (!h.measured) return s + "Not measured: " + h.why + "\n\n";
  const HphOptions& o = h.options;
  const double speedUp = 1 / o.scale;
  s += Fmt("- The real station (velmora-cli --station, then --station --flow) runs in a process of its own on a "
           "fake port tree (sysfs and device directory) that it watches for hot-plug: %d sockets, each a tty with "
           "its USB socket's link, so that socket k is COM k, with a simulated handset (unpaced pseudo-terminal) "
           "behind it. Each handset erases in a time drawn between %.0f and %.0f s and programs a block in %.0f to "
           "%.0f ms, both fixed per handset and drawn in order from seed %u, so that the n-th handset is the same "
           "in both modes.\n",
           o.sockets, o.eraseMinMs / 1000.0, o.eraseMaxMs / 1000.0, o.programMinUs / 1000.0, o.programMaxUs / 1000.0,
           o.seed);
  s += Fmt("- Time is scaled down %.0f times: the erases, the swap (%.1f s runs in %.2f s), the settle (%.1f s: "
           "--settle %.3f); the image likewise, %u blocks of 1 KiB",
           speedUp, o.swapS, o.swapS * o.scale, o.settleS, o.settleS * o.scale, h.blocks);
  s += Fmt(" instead of %.0f, so that programming takes the scaled time at the model's time per block. Every "
           "figure below but the wall times is scaled back to the model's.\n",
           static_cast<double>(o.modelImageBytes) / 1024);
  s += Fmt("- One operator swaps one handset at a time, always the socket that has waited longest since its "
           "handset's line; in batch mode only after the batch's line, then every socket of the batch in socket "
           "order. A swap takes the next handset up, pulls the old one %.1f s into it (its node, sysfs entry and "
           "link go and its line dies) and plugs the new one in under the socket's name at its end.\n",
           o.swapS - o.emptyS);
  s += Fmt("- The measured span: in flow mode from the line of the %d-th handset (the sockets' first load, which "
           "needed no swap) to the line of the %d-th after it; in batch mode from the end of the first batch to "
           "the end of the batch that brought %d more. Handsets per hour count the completed ones of the span. "
           "A flow span's ends fall where handsets happen to end, and with erases spread over %.0f s either end "
           "may move by a few seconds, a few hundredths of the rate: flow a little above its limit is that, not "
           "more handsets than swaps.\n",
           o.sockets, o.measured, o.measured, (o.eraseMaxMs - o.eraseMinMs) / 1000.0);
  s += "- A handset's time is taken on its side, first request in to last block in (erase, programming and the "
       "wire), averaged over the completed handsets of the span; the limit is the smaller of the operator's 3600 / "
       "swap and the sockets' " +
       std::to_string(o.sockets) + " x 3600 / (handset + swap + settle).\n";
  s += Fmt("- Not scaled: opening a port settles for about 0.1 s, and in flow mode the station looks at its settled "
           "sockets every 0.1 s; here they weigh %.0f times what they would on the real bench.\n\n",
           speedUp);
  if (withTargets) {
    s += "| Target | Measured | Limit | Ratio | Met |\n|---|---|---|---|---|\n";
    for (const TargetRow& r : JudgeHphTargets(h))
      s += "| " + r.target + " | " + r.measured + " | " + r.limit + " | " + Fmt("%.3f", r.ratio) + " | " +
           (r.met ? "yes" : "**no**") + " |\n";
    s += "\n";
  }
  s += "| Mode | Handsets | Completed | Failed | Wall time s (scaled back) | Handsets per hour | Limit per hour "
       "(operator, sockets) | Ratio to limit | Handset s, mean | Operator busy |\n"
       "|---|---|---|---|---|---|---|---|---|---|\n";
  for (const HphModeFigures* m : {&h.batch, &h.flow}) {
    const bool flow = m == &h.flow;
    s += Fmt("| %s | %d | %d | %d | ", flow ? "flow" : "batch", m->handsets, m->completed, m->failed);
    s += Fmt("%.1f (%.0f) | %.0f | ", m->spanWallS, m->spanWallS / o.scale, m->perHour);
    s += Fmt("%.0f (%.0f, %.0f) | ", m->limit, m->operatorLimit, m->socketLimit);
    s += Fmt("%.3f | %.2f | %.0f %% |", m->limit > 0 ? m->perHour / m->limit : 0, m->meanHandsetS,
             m->operatorBusy * 100);
    if (!m->failure.empty()) s += " failure: " + m->failure;
    s += "\n";
  }
  s += Fmt("\nIn flow mode a settled handset waited %.0f ms on average (wall time, over %d handsets) for its "
           "first request; ",
           h.flow.meanStartMs, h.flow.started);
  s += Fmt("batches of fewer than %d handsets: %d. ", o.sockets, h.batch.shortBatches);
  s += Fmt("The operator's plugs came %.1f ms (batch) and ", h.batch.plugLateMs) +
       Fmt("%.1f ms (flow) after their time on average (wall time); the next swap keeps to the schedule. ",
           h.flow.plugLateMs);
  s += "Each mode's whole run, the station's start to its stop: ";
  s += Fmt("batch %.0f s, ", h.batch.runWallS) + Fmt("flow %.0f s (wall time).\n\n", h.flow.runWallS);
  return s;
}

/// The figures shown but not judged: the twenty unpaced entries, and what
/// the first DownLoad took in all.
static std::string NotJudged(const E2eFigures& e, int nproc) {
  std::string s;
  const CountFigures* one = Find(e.unpaced, 1);
  const CountFigures* twenty = Find(e.unpaced, 20);
  if (twenty && twenty->runsOk > 0) {
    // What limits it, read from the figures: the cores or the dialog's
    // thread (every reply is handled there in turn), whichever is nearer
    // its end, or neither.
    const double coreShare = twenty->cpuCores / std::max(1, nproc);
    const char* limit = std::max(coreShare, twenty->busyShare) < 0.5 ? "neither the cores nor the dialog's thread: "
                                                                        "the time a reply waits before its receive "
                                                                        "thread hands it over"
                        : coreShare >= twenty->busyShare
                            ? "the machine's cores, which the twenty handsets, the twenty receive threads and the "
                              "dialog's thread share"
                            : "the dialog's thread, which handles every entry's replies in turn";
    s += Fmt("- 20 entries unpaced: turnaround median %.3f ms (p95 %.3f ms), %.0f blocks/s per entry; the process "
             "used %.2f of %d cores and the dialog's thread was busy %.0f %% of the time, so what limits it is %s.",
             twenty->turnaroundMedianMs, twenty->turnaroundP95Ms, twenty->blocksPerSecEntry, twenty->cpuCores, nproc,
             twenty->busyShare * 100, limit);
    if (one && one->blocksPerSecTotal > 0)
      s += Fmt(" Aggregate / (20 x one entry): %.3f.", twenty->blocksPerSecTotal / (20 * one->blocksPerSecTotal));
    s += "\n";
  }
  s += Fmt("- The DownLoad press that opens the links of 20 entries: its click took %.1f ms on the dialog's thread, "
           "the links (each Open settles for 100 ms) were open and the first requests out %.0f ms after the press; "
           "later presses find the links open.\n",
           e.firstPressMs, e.firstOpenMs);
  return s;
}
std::string FormatReport(const MachineInfo& m, const std::string& command, const std::vector<MicroFigure>& micro,
                         const E2eFigures& e, bool withE2e) {
  std::string s = "# Performance\n\n";
  s += "Generated by `" + command + "`; every figure below comes from that run.\n\n";
  s += Fmt("Machine: nproc %d, %s, %s.\n\n", m.nproc, m.cpu.c_str(), m.kernel.c_str());

  if (withE2e) {
    s += "## How it is measured\n\n"
         "- Whole downloads run in one process: the dialog on the headless host with the real clock, each "
         "entry's link and receive thread on a pseudo-terminal, and a simulated handset on the other side of "
         "each. The phone code step sends the image from its start address 0x10000; the boot version is asked "
         "in the warm-up run only.\n"
         "- Turnaround per block is taken by the handset: from the last byte of its ACK leaving to the first "
         "byte of the next block arriving. By default (RX_SETTLE_MS 0) the receive thread hands a reply over as "
         "soon as its closing flag has arrived; the lines marked RX_SETTLE_MS=5 keep the classic cadence, a burst "
         "read 5 ms after its first byte, so there about 5 ms is the floor of this figure.\n"
         "- The paced line lets 5760 bytes per second through in each direction (57600 baud, 8N1) and charges "
         "a pause: bytes that follow an idle line start their time on the wire when they arrive, and the tool "
         "is handed a reply's bytes only once they have crossed the line. One block then costs 177.8 ms on the "
         "wire plus the 5-byte ACK (0.9 ms) plus the turnaround, so about 0.995 is the best efficiency this "
         "protocol allows per block (0.968 with a 5 ms turnaround); the requests before and after the blocks "
         "(about 110 bytes, 19 ms on the wire) come on top, which on an image of a few dozen blocks takes "
         "another few thousandths off.\n"
         "- The programming line's handsets are unpaced but take a fixed time to program each block: the ACK "
         "leaves that long after the block's last byte came in, as on the real bench. Per block is the run's "
         "time over its blocks (the requests around them included).\n"
         "- CPU cores is the process's CPU time (tool and handsets) over the run's time.\n"
         "- Dialog busy is the time the dialog's thread spent handling messages over the run's time; the "
         "longest stall is the longest single message (a click, a timer expiry, a packet, a thread's end).\n"
         "- Idle CPU is read from /proc for the entry's receive thread (schedstat and context switches) while "
         "the dialog's loop runs for 10 s with the entry connected and its handset silent.\n"
         "- Peak RSS is VmHWM of a child process that is only the tool (its handset stays in this process), "
         "once for a 1 MiB image and once for a 16 MiB image with the same number of blocks sent "
         "(`--full-rss` sends the whole 16 MiB).\n\n";
    s += "## Targets\n\n| Target | Measured | Limit | Ratio | Met |\n|---|---|---|---|---|\n";
    for (const TargetRow& r : JudgeTargets(e))
      s += "| " + r.target + " | " + r.measured + " | " + r.limit + " | " + Fmt("%.3f", r.ratio) + " | " +
           (r.met ? "yes" : "**no**") + " |\n";
    s += "\nNot judged:\n\n" + NotJudged(e, m.nproc) + "\n";

    s += "## Whole downloads\n\n";
    s += "Medians of the measured runs, after one warm-up run that opens the links. Turnaround is taken on the "
         "handset side: last byte of a reply out, first byte of the next block in.\n\n";
    s += "| Line | Entries | Runs ok | Run time s | Blocks/s per entry | Blocks/s total | Per block ms | "
         "Turnaround median ms | Turnaround p95 ms | Efficiency | Dialog busy | CPU cores | "
         "Longest stall ms (message) |\n";
    s += "|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    auto row = [&](const CountFigures& f, const std::string& line) {
      s += Fmt("| %s | %d | %d | %.3f | %.1f | %.1f | %.3f | %.3f | %.3f | ", line.c_str(), f.count, f.runsOk,
               f.seconds, f.blocksPerSecEntry, f.blocksPerSecTotal, f.perBlockMs, f.turnaroundMedianMs,
               f.turnaroundP95Ms);
      s += (f.efficiency > 0 ? Fmt("%.3f", f.efficiency) : std::string("-")) + " | ";
      s += Fmt("%.1f %% | %.2f | %.2f (%s) |\n", f.busyShare * 100, f.cpuCores, f.longestStallMs,
               f.longestStallWhat.c_str());
      if (!f.failure.empty()) s += "|  | failure: " + f.failure + " |  |  |  |  |  |  |  |  |  |  |  |\n";
    };
    const std::string classic = Fmt(", RX_SETTLE_MS=%d", e.classicSettleMs);
    const std::string programming = Fmt("%.1f ms programming", e.programUs / 1000.0);
    for (const auto& f : e.unpaced) row(f, "unpaced");
    for (const auto& f : e.unpacedClassic) row(f, "unpaced" + classic);
    for (const auto& f : e.paced) row(f, "5760 B/s");
    for (const auto& f : e.programmed) row(f, programming);
    for (const auto& f : e.programmedClassic) row(f, programming + classic);
    if (e.faulted.count > 0) row(e.faulted, "unpaced, 2 fail");
    s += Fmt("\nDisconnect of an idle connected entry: longest %.2f ms. Peak RSS of the tool alone (child "
             "process): %ld KiB for a %llu-byte image (%u blocks sent), %ld KiB for a %llu-byte image (%u blocks "
             "sent).\n\n",
             e.disconnectIdleMs, e.rssSmallKiB, static_cast<unsigned long long>(e.rssSmallImage), e.rssSmallBlocks,
             e.rssLargeKiB, static_cast<unsigned long long>(e.rssLargeImage), e.rssLargeBlocks);
  }
  if (!WindowLeftOut(e.window)) s += WindowSection(e.window, !withE2e);
  if (!HphLeftOut(e.hph)) s += HphSection(e.hph, !withE2e);

  if (micro.empty()) return s;
  s += "## Micro benchmarks\n\nGoogle Benchmark, real time per operation. The engine cases run the dialog on "
       "the headless host with ports that accept every write at once: one accepted ACK in the flash-programming "
       "state, handled as the dialog's loop hands it over (block read from the file, block written, progress, "
       "status text, timer).\n\n| Case | ns per operation | MB per CPU second |\n|---|---|---|\n";
  for (const MicroFigure& f : micro)
    s += Fmt("| %s | %.1f | %s |\n", f.name.c_str(), f.nsPerOp,
             f.mbPerSec > 0 ? Fmt("%.0f", f.mbPerSec).c_str() : "-");
  return s;
}
