// SIGINT and SIGTERM as something the console host's loop waits for. The
// two signals are blocked before any thread exists (every thread inherits
// the mask) and read from a signalfd, so no handler runs at all and no
// receive thread's read is ever interrupted by them.
#pragma once

class CStopSignal {
 public:
  /// Blocks SIGINT and SIGTERM; call before the first thread is started.
  CStopSignal();
  /// Closes the descriptor; the signals stay blocked.
  ~CStopSignal();
  CStopSignal(const CStopSignal&) = delete;
  CStopSignal& operator=(const CStopSignal&) = delete;

  /// Readable once a stop signal is pending; -1 when none could be made
  /// (the signals are then left as they were).
  int Fd() const { return m_fd; }
  /// The first stop signal received (SIGINT or SIGTERM), 0 while none.
  /// Never blocks.
  int Received();
  /// Gives the signals back their default action, for work that has no
  /// loop to notice them.
  void Release();

 private:
  int m_fd = -1;
  int m_nSignal = 0;
  bool m_bBlocked = false;
};
