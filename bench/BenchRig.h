// A whole download in-process: the dialog on the headless host with the real
// clock, the links and receive threads on real pseudo-terminals, and one
// simulated handset behind each. Every message the dialog handles is timed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Resources.h"
#include "SimRig.h"

/// Busy time and the longest single message of the dialog's thread.
class CDispatchStats : public IDispatchObserver {
 public:
  void OnDispatched(uint32_t msg, uintptr_t wParam, uint64_t startNs, uint64_t endNs) override;
  void Reset() { *this = CDispatchStats(); }

  uint64_t busyNs = 0;
  uint64_t longestNs = 0;
  uint32_t longestMsg = 0;
  uintptr_t longestParam = 0;
  uint64_t count = 0;
};

/// "WM_TIMER(3)", "WM_ENTRY_PACKET+4", ...: what a message was, for reports.
std::string DescribeMessage(uint32_t msg, uintptr_t wParam);

struct RunResult {
  bool ok = false;
  std::string failure;     ///< why the run does not count, when !ok
  double seconds = 0;      ///< DownLoad pressed to the run's end
  int blocks = 0;          ///< blocks of the step, per entry
  uint32_t imageBytes = 0; ///< bytes of the image the step sends
  CDispatchStats dialog;   ///< the dialog's thread during the run
  double downloadPressMs = 0;  ///< the DownLoad handler alone
  /// Press to the first requests (the links opened, if any were to open),
  /// and the dialog's thread in that span.
  double openMs = 0;
  CDispatchStats opening;
  uint64_t cpuUs = 0;          ///< process CPU time during the run
  std::vector<uint32_t> turnaroundUs;  ///< handset side, all entries
};

class CBenchRig : private CSimRig {
 public:
  ~CBenchRig();

  /// Starts `handsets` simulated handsets, binds them to entries 1..n and
  /// chooses the phone code image `image`. False with `error` on failure.
  bool Start(int handsets, const std::string& image, std::string& error);

  /// Sets every handset's line pace (bytes per second, 0 = unpaced).
  void SetPace(uint32_t bytesPerSecond);
  /// Sets every handset's programming time per block (0 = none).
  void SetProgramUs(uint32_t us);

  /// Presses DownLoad and runs the dialog's loop until the run ends or
  /// `limitMs` pass. Entries listed in `mayFail` are allowed to fail.
  RunResult Run(uint32_t limitMs, const std::vector<int>& mayFail = {});

  /// Longest time the dialog's thread spent in Disconnect of one idle
  /// connected entry, taking every entry down in turn.
  double DisconnectEachMs();

  /// Runs the dialog's loop for `ms` without doing anything.
  void Idle(uint32_t ms);

  /// Summed usage of the threads started since Start returned: the entries'
  /// receive threads (the handsets' threads are older).
  ThreadUsage ReceiveThreads() const;

  CSimBench& Handsets() { return m_sims; }
  CVelmoraDlg& Dialog() { return *m_dlg; }

 private:
  int m_nCount = 0;
  std::vector<int> m_baseThreads;  // threads that existed before any DownLoad
};
