// One simulated handset on a pseudo-terminal. The tool opens SlavePath() as
// if it were the handset's serial port; the handset answers on its own
// thread as CSimProtocol says, optionally at the pace of a real line.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "sim/SimConfig.h"
#include "sim/SimProtocol.h"
#include "sim/SimRecord.h"

class CSimHandset {
 public:
  explicit CSimHandset(const SimHandsetConfig& config = {});
  ~CSimHandset();
  CSimHandset(const CSimHandset&) = delete;
  CSimHandset& operator=(const CSimHandset&) = delete;

  /// Opens the pty and starts serving. False (and `error` says why) when the
  /// pty cannot be set up or the handset was started before.
  bool Start(std::string* error = nullptr);

  /// Stops the thread at once and closes the pty. Safe to call repeatedly.
  void Stop();

  /// Path of the slave side, e.g. /dev/pts/7; empty before Start.
  const std::string& SlavePath() const { return m_strSlavePath; }

  /// Adds a fault at run time; it applies from the next byte on.
  void AddFault(const SimFault& fault);
  /// Removes every fault.
  void ClearFaults();
  /// Delay of erases that start from now on.
  void SetEraseDelayMs(uint32_t ms);
  /// Bytes per second in each direction from now on; 0 = unpaced.
  void SetPace(uint32_t bytesPerSecond) { m_nPaceBps.store(bytesPerSecond); }

  /// A copy of the record (flash included).
  SimRecord Snapshot() const;
  /// Runs `look` on the record under the handset's lock.
  void Inspect(const std::function<void(const SimRecord&)>& look) const;
  /// Waits until `cond` holds for the record or `timeoutMs` pass; true when
  /// it held.
  bool WaitFor(const std::function<bool(const SimRecord&)>& cond, int timeoutMs) const;

  /// One line: counters, violations and whether the line was hung up.
  std::string Summary() const;

 private:
  void Run();
  void HangUp();
  bool WriteSome(std::vector<uint8_t>& out, size_t limit);

  mutable std::mutex m_lock;
  mutable std::condition_variable m_cv;
  CSimProtocol m_protocol;  // guarded by m_lock

  std::string m_strSlavePath;
  int m_nMaster = -1;
  int m_nSlave = -1;
  int m_wake[2] = {-1, -1};
  std::thread m_thread;
  std::atomic<bool> m_bStop{false};
  std::atomic<uint32_t> m_nPaceBps{0};
  bool m_bStarted = false;
};
