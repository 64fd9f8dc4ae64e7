// Waiting on the central database's socket so that a stop is never kept
// waiting by a server that is slow, gone or unreachable.
#pragma once

#include <chrono>

/// An event another thread signals to end every wait on it at once (and
/// every later one, until cleared).
class CWakeEvent {
 public:
  CWakeEvent();
  ~CWakeEvent();
  CWakeEvent(const CWakeEvent&) = delete;
  CWakeEvent& operator=(const CWakeEvent&) = delete;
  void Signal();
  void Clear();
  int Handle() const { return m_fd; }

 private:
  int m_fd = -1;
};

enum class SocketWait { Ready, Woken, TimedOut, Failed };

/// Waits until `socket` is readable (or, with `forWrite`, writable), `wake`
/// is signalled or `deadline` passes.
SocketWait WaitForSocket(int socket, bool forWrite, const CWakeEvent& wake,
                         std::chrono::steady_clock::time_point deadline);
