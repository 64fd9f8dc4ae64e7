// The end-to-end measurements: whole downloads for 1, 5 and 20 handsets,
// unpaced, at the line's pace and against handsets that take a few
// milliseconds to program each block (some lines also at the classic
// receive cadence), the first DownLoad on twenty unopened ports, the idle
// cost of a connected entry, and the peak memory of the tool for a small and
// a large image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HandsetsPerHour.h"
#include "WindowLine.h"

struct E2eOptions {
  int unpacedRuns = 5;                ///< measured unpaced runs per entry count
  int pacedRuns = 3;                  ///< measured paced runs per entry count
  std::vector<int> counts{1, 5, 20};  ///< entry counts
  uint32_t unpacedBlocks = 256;       ///< blocks of the unpaced image
  uint32_t pacedBlocks = 48;          ///< blocks of the paced image
  uint32_t paceBps = 5760;            ///< 57600 baud, 8N1
  uint32_t idleMs = 10000;            ///< idle measurement
  bool fullRss = false;               ///< download all of the 16 MiB image
  std::vector<int> programCounts{1, 20};  ///< entry counts of the programming line
  uint32_t programBlocks = 256;       ///< blocks of its image
  int programRuns = 3;                ///< its measured runs per entry count
  uint32_t programUs = 3000;          ///< a handset's time to program one block
  /// RX_SETTLE_MS of the classic lines (unpaced and programming, 1 and 20
  /// entries, one run each), so that one report holds both cadences; 0
  /// leaves them out.
  int classicSettleMs = 5;
};

/// Medians over the measured runs of one entry count.
struct CountFigures {
  int count = 0;
  int runsOk = 0;
  std::string failure;          ///< the first failed run's reason
  double seconds = 0;
  double blocksPerSecEntry = 0;
  double blocksPerSecTotal = 0;
  double turnaroundMedianMs = 0;
  double turnaroundP95Ms = 0;
  double efficiency = 0;        ///< paced only
  double busyShare = 0;         ///< dialog thread busy / wall time
  double longestStallMs = 0;    ///< the longest over all runs
  std::string longestStallWhat;
  double perBlockMs = 0;        ///< run time over its blocks
  double cpuCores = 0;          ///< process CPU time over run time
};

struct E2eFigures {
  std::vector<CountFigures> unpaced;
  std::vector<CountFigures> paced;
  /// A 20-entry run in which one handset hangs up and one refuses a block
  /// with NAK_FAILED 00 00, so that Disconnect runs inside the run.
  CountFigures faulted;
  /// Handsets programming each block for programUs.
  std::vector<CountFigures> programmed;
  uint32_t programUs = 0;
  /// The same lines with RX_SETTLE_MS = classicSettleMs.
  std::vector<CountFigures> unpacedClassic, programmedClassic;
  int classicSettleMs = 0;
  /// The first DownLoad on twenty unopened ports (the worst of the lines'
  /// warm-up runs): press to first requests, the dialog thread's time in
  /// that span, and its longest single message.
  double firstOpenMs = 0;
  double firstOpenBusyMs = 0;
  double firstOpenLongestMs = 0;
  std::string firstOpenLongestWhat;
  double disconnectIdleMs = 0;  ///< longest Disconnect of an idle entry
  double downloadPressMs = 0;   ///< longest DownLoad handler, links open
  double firstPressMs = 0;      ///< the click of a DownLoad that opens 20 links
  uint32_t idleMs = 0;          ///< length of the idle measurements
  double idleCpuMs = 0;         ///< process CPU over idleMs, one entry idle
  double idleRxCpuMs = 0;       ///< the idle entry's receive thread alone
  uint64_t idleRxSwitches = 0;  ///< times that thread ran in the meantime
  long rssSmallKiB = 0, rssLargeKiB = 0;
  uint64_t rssSmallImage = 0, rssLargeImage = 0;
  uint32_t rssSmallBlocks = 0, rssLargeBlocks = 0;
  std::string rssFailure;
  /// The Qt window beside the headless host (velmora-window-bench).
  WindowFigures window;
  /// The station on a simulated production bench, batch and flow.
  HphFigures hph;
};

/// Runs everything; progress lines go to stderr.
E2eFigures RunEndToEnd(const E2eOptions& options);

/// Child side of the memory measurement: downloads `image` to the handset
/// on `device`; when it completed, writes its peak RSS in KiB to `report`
/// and returns 0.
int RunRssChild(const std::string& image, const std::string& device, const std::string& report);
