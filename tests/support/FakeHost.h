// The dialog host of engine tests: the headless host on virtual time.
// Timers fire when the test moves the clock; nothing really sleeps.
#pragma once

#include "headless/HeadlessHost.h"

class CFakeHost : public CHeadlessHost {
 public:
  uint32_t Now() override { return m_nowMs; }
  void SetNow(uint32_t ms) { m_nowMs = ms; }

  /// Earliest due time of a running timer, or UINT32_MAX.
  uint32_t NextTimerDue() const {
    uint32_t best = UINT32_MAX;
    for (const auto& [id, t] : m_timers) {
      (void)id;
      if (t.due < best) best = t.due;
    }
    return best;
  }

  /// Waits (really) up to `ms` for a message posted by another thread, such
  /// as the end of a receive thread.
  void WaitPosted(uint32_t ms) { CHeadlessHost::WaitForWork(ms); }

 protected:
  void WaitForWork(uint32_t) override {}

 private:
  uint32_t m_nowMs = 0;
};
