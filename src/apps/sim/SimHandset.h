// One simulated handset on the master side of a pseudo-terminal. The tool
// opens SlavePath() as if it were the handset's serial port. The protocol is
// CSimProtocol; this drives it from the pty on a thread of its own, at the
// pace of a real line when asked to.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimConfig.h"
#include "sim/SimProtocol.h"
#include "sim/SimRecord.h"

class CSimHandset {
 public:
  explicit CSimHandset(const SimHandsetConfig& config = {});
  ~CSimHandset();
  CSimHandset(const CSimHandset&) = delete;
  CSimHandset& operator=(const CSimHandset&) = delete;

  /// Opens the pseudo-terminal and starts serving. False (with the reason in
  /// `error` when given) when no pty can be had or it was started before.
  bool Start(std::string* error = nullptr);

  /// Stops serving at once and closes the line. Safe to call repeatedly.
  void Stop();

  /// The device the tool opens; empty before Start.
  const std::string& SlavePath() const { return m_slavePath; }

  /// Adds a fault while serving; it applies from the next byte on.
  void AddFault(const SimFault& fault);
  /// Removes every fault.
  void ClearFaults();
  /// Delay of erases that start from now on.
  void SetEraseDelayMs(uint32_t ms);
  /// Bytes per second in each direction from now on; 0 = unpaced.
  void SetPace(uint32_t bytesPerSecond) { m_nPaceBps.store(bytesPerSecond); }
  /// Programming time of every data block from now on, in microseconds.
  void SetProgramUs(uint32_t us) { m_nProgramUs.store(us); }

  /// A copy of what the handset saw and did so far (flash included).
  SimRecord Record() const;
  /// Runs `look` on the record under the handset's lock, without copying.
  void Inspect(const std::function<void(const SimRecord&)>& look) const;
  /// Waits until `cond` holds for the record or `timeoutMs` pass; true when
  /// it held.
  bool WaitFor(const std::function<bool(const SimRecord&)>& cond, int timeoutMs) const;

  /// Counters, the first violations and whether the line was hung up.
  std::string Summary() const;

 private:
  void Serve();
  void HangUp();
  bool WriteSome(std::vector<uint8_t>& out, size_t limit);

  mutable std::mutex m_lock;  // guards m_protocol
  mutable std::condition_variable m_cv;
  CSimProtocol m_protocol;

  std::string m_slavePath;
  int m_master = -1;
  int m_slave = -1;
  int m_wake[2] = {-1, -1};  // Stop writes here so a poll ends at once
  std::thread m_thread;
  std::atomic<bool> m_bStop{false};
  std::atomic<uint32_t> m_nPaceBps{0};
  std::atomic<uint32_t> m_nProgramUs{0};
  bool m_bStarted = false;
};
