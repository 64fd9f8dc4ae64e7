// The operator's stop (Ctrl+C, a termination request) as something the
// console host's loop waits for, without a handler interrupting any thread.
//
// POSIX: SIGINT and SIGTERM are blocked before any thread exists (every
// thread inherits the mask) and read from a signalfd, so no handler runs at
// all and no receive thread's read is ever interrupted by them.
//
// Windows: a console control handler (it runs on a thread of its own) sets
// an event. Ctrl+C counts as SIGINT; Ctrl+Break, closing the console,
// logging off and shutting down count as SIGTERM, so the exit statuses are
// those of Linux (130, 143).
#pragma once

#ifdef _WIN32
/// An event handle (HANDLE); nullptr for none.
using StopWaitable = void*;
inline constexpr StopWaitable kNoStopWaitable = nullptr;
#else
/// A descriptor, readable once a stop is pending; -1 for none.
using StopWaitable = int;
inline constexpr StopWaitable kNoStopWaitable = -1;
#endif

class CStopSignal {
 public:
  /// Takes the stops over; call before the first thread is started.
  CStopSignal();
  /// Lets the stops go (POSIX: the signals stay blocked, so that a second
  /// one on the way out cannot kill the process before it has returned its
  /// status).
  ~CStopSignal();
  CStopSignal(const CStopSignal&) = delete;
  CStopSignal& operator=(const CStopSignal&) = delete;

  /// Ready once a stop is pending; kNoStopWaitable when none could be made
  /// (the stops are then left as they were).
  StopWaitable Waitable() const { return m_waitable; }
  /// The first stop received as a signal number (SIGINT or SIGTERM), 0
  /// while none. Never blocks.
  int Received();
  /// Gives the stops back their default action, for work that has no loop
  /// to notice them.
  void Release();

 private:
  StopWaitable m_waitable = kNoStopWaitable;
  int m_nSignal = 0;
  bool m_bTaken = false;
};
