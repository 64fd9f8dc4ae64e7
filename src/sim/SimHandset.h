// One simulated handset on the master side of a pseudo-terminal. The
// protocol itself is CSimProtocol; this drives it from the pty on a thread
// of its own.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "sim/SimConfig.h"
#include "sim/SimProtocol.h"
#include "sim/SimRecord.h"

class CSimHandset {
 public:
  explicit CSimHandset(const SimHandsetConfig& config);
  ~CSimHandset();
  CSimHandset(const CSimHandset&) = delete;
  CSimHandset& operator=(const CSimHandset&) = delete;

  /// Opens the pseudo-terminal and starts serving. False (with the reason in
  /// `error` when given) when no pty can be had.
  bool Start(std::string* error = nullptr);

  /// Stops serving at once and closes the line.
  void Stop();

  /// The device the tool opens.
  const std::string& SlavePath() const { return m_slavePath; }

  /// A copy of what the handset saw and did so far.
  SimRecord Record() const;

  /// Adds a fault while serving.
  void AddFault(const SimFault& fault);

 private:
  void Serve();
  void HangUp();

  CSimProtocol m_protocol;
  mutable std::mutex m_lock;  // guards m_protocol
  int m_master = -1;
  int m_slave = -1;
  std::string m_slavePath;
  std::thread m_thread;
  std::atomic<bool> m_bStop{false};
};
