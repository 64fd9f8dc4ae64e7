// For tests that check one piece of the engine (a caption, a step's values,
// the cost of a block) on a state they set up themselves, rather than one a
// whole run arrives at. Everything else reads the dialog's public view.
#pragma once

#include <memory>
#include <vector>

#include "VelmoraDlg.h"

class CEngineProbe {
 public:
  /// Entry i's binding, to be set as a connection would leave it.
  static DownloadEntry& Binding(CVelmoraDlg& d, int i) { return d.m_entries[i]; }

  /// The run entry i is in, to be set up as a run would leave it.
  static CDownloadRun& RunOf(CVelmoraDlg& d, int i) { return *d.m_entryRun[i]; }

  /// A run of `plan` over `members` made the dialog's latest run, as DownLoad
  /// would make it, with nothing sent.
  static CDownloadRun& NewRun(CVelmoraDlg& d, const RunPlan& plan, const std::vector<int>& members) {
    auto run = std::make_shared<CDownloadRun>(plan, members, &d.m_host);
    for (int i = 0; i < MAX_ENTRIES; ++i) d.m_entryRun[i] = nullptr;
    for (int i : members) d.m_entryRun[i] = run;
    d.m_lastRun = run;
    return *run;
  }
  /// The same over every entry, of the plan the dialog's choices make.
  static CDownloadRun& NewRun(CVelmoraDlg& d) {
    std::vector<int> all;
    for (int i = 0; i < MAX_ENTRIES; ++i) all.push_back(i);
    return NewRun(d, d.PlanFromChoices(), all);
  }
  /// Entry i's place in its run (one over every entry made first if it is in
  /// none).
  static RunEntry& RunEntryOf(CVelmoraDlg& d, int i) {
    if (!d.m_entryRun[i]) NewRun(d);
    return d.Run(i);
  }
  /// Marks the dialog busy with a run, or not, as DownLoad and a run's end do.
  static void SetRunning(CVelmoraDlg& d, bool running) { d.m_bRunning = running ? 1 : 0; }
  static void SetImageSize(CVelmoraDlg& d, uint32_t size) { d.m_nImageSize = size; }
  /// The elapsed time counts from now.
  static void StartClock(CVelmoraDlg& d) { d.m_startClock = d.m_host.ClockMs(); }
};
