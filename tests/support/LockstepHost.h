// The headless host on the real clock for runs on real threads that mean
// every handset to complete. The first entry to finish a flash step drops
// each entry that has had no flash block acknowledged yet; on a loaded
// machine one handset's threads can stall for a whole short step, and such a
// test would fail on scheduling alone. So the reply that would end an
// entry's flash step waits (bounded) until the other entries are flashing.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "VelmoraDlg.h"
#include "host/HeadlessHost.h"

class CLockstepHost : public CHeadlessHost {
 public:
  bool PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    if (msg < WM_ENTRY_PACKET || msg >= WM_ENTRY_PACKET + MAX_ENTRIES)
      return CHeadlessHost::PostMessage(msg, wParam, lParam);
    std::lock_guard<std::mutex> guard(m_lock);
    m_held.push_back({msg, wParam, lParam, std::chrono::steady_clock::now()});
    m_arrived.notify_all();
    return true;
  }

 protected:
  // On the dialog's thread, between dispatches: the dialog's state is
  // stable here.
  void WaitForWork(uint32_t maxMs) override {
    std::unique_lock<std::mutex> lock(m_lock);
    if (ReleaseDue()) return;
    m_arrived.wait_for(lock, std::chrono::milliseconds(std::min<uint32_t>(maxMs, 10)));
    ReleaseDue();
  }

 private:
  struct Held {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
    std::chrono::steady_clock::time_point at;
  };

  /// Hands on every reply that may go now; true when one went.
  bool ReleaseDue() {
    bool released = false;
    const auto now = std::chrono::steady_clock::now();
    for (auto it = m_held.begin(); it != m_held.end();) {
      // Bounded: past it the drop happens and the test fails visibly.
      if (now - it->at < std::chrono::seconds(30) && !MayEndFlashStep(static_cast<int>(it->msg - WM_ENTRY_PACKET))) {
        ++it;
        continue;
      }
      CHeadlessHost::PostMessage(it->msg, it->wParam, it->lParam);
      it = m_held.erase(it);
      released = true;
    }
    return released;
  }

  bool AtLastFlashAck(const DownloadEntry& e) const {
    return e.m_nState == 9 && e.m_nBlock >= m_pDialog->m_nTotalBlocks;
  }

  /// Whether entry i's reply may end its flash step: no other entry of the
  /// run is still to have a flash block acknowledged (one whose next reply
  /// ends the step too is not waited for, or two would wait on each other).
  bool MayEndFlashStep(int i) const {
    if (m_pDialog == nullptr || !AtLastFlashAck(m_pDialog->m_entries[i])) return true;
    for (int k = 0; k < MAX_ENTRIES; ++k) {
      const DownloadEntry& o = m_pDialog->m_entries[k];
      if (k != i && o.m_bConnected && o.m_nComPort != 0 && o.m_nResult == RESULT_RUNNING && !o.m_bFlashing &&
          !AtLastFlashAck(o))
        return false;
    }
    return true;
  }

  std::mutex m_lock;
  std::condition_variable m_arrived;
  std::deque<Held> m_held;
};
