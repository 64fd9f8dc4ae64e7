// The receive thread of one connected entry: waits for characters on the
// entry's port, feeds each burst into the link as its bytes come (so a reply
// is handed over the moment its frame is complete), and ends itself when the
// port's event mask is cleared or the port fails. It reports only by posting
// messages and never touches the engine.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "Window.h"
#include "link/QTextQ.h"
#include "platform/SerialPort.h"

class CBssComm;

class CThreadRX {
 public:
  /// Starts a thread running the given function; throws std::system_error
  /// when the thread cannot be created, as std::thread does.
  using ThreadStarter = std::function<std::thread(std::function<void()>)>;

  /// Replaces how threads are started (an empty function restores
  /// std::thread) and returns the previous starter. For tests of the
  /// creation failure.
  static ThreadStarter SetThreadStarter(ThreadStarter starter);

  /// Starts the thread; it waits at the start gate until Init.
  CThreadRX();

  /// Joins the thread if it is still joinable (waits for it to end). A
  /// thread that was never handed its parameters leaves without running.
  virtual ~CThreadRX();

  CThreadRX(const CThreadRX&) = delete;
  CThreadRX& operator=(const CThreadRX&) = delete;

  /// Hands the thread its parameters and opens the start gate. Returns true; false (nothing changed) when the thread could
  /// not be created or has already been handed its parameters.
  bool Init(IWindow* dialog, CBssComm* link, CQTextQ* queue, int entry);

  /// Waits at most `ms` for the thread to end. True when it has ended (the
  /// object may then be destroyed without blocking).
  bool Join(int ms);

  /// True once the thread has finished (WM_ENTRY_RXEND posted).
  bool HasEnded() const { return m_bEnded.load(); }

  /// Queues a LOG_STATUS line for the entry and posts WM_ENTRY_LOG + entry
  /// when the queue took it. Empty texts do nothing.
  void LogThread(const std::string& text, int kind = LOG_STATUS);

  /// Why the port failed under the thread ("" while it has not): the line
  /// it logged, which the entry's outcome gives as its reason.
  std::string FailureLine() const;

  /// True when the thread could not be started (treated as a failed open).
  bool Failed() const { return m_bFailed; }

  /// The thread's own stop flag: once set, the loop ends after the burst in
  /// hand. Set by the thread itself when it ends. It belongs to this object
  /// alone, so a thread of the same entry that ends late (one that outlived
  /// its join) cannot stop the entry's next thread.
  void RequestStop() { m_bStop = true; }
  bool StopRequested() const { return m_bStop.load(); }

 private:
  void ThreadMain();
  int Run();
  /// One burst, each read fed as it comes; ends when the line has been
  /// quiet for 5 ms (TimedOut) or with the wait that ended it otherwise.
  PortWait Burst();
  /// One burst in the classic cadence: sleep, read, feed, until a read
  /// finds nothing.
  PortWait SettledBurst(int settleMs);
  void End();  // posts WM_ENTRY_RXEND + entry once, sets the stop flag

  std::mutex m_gateLock;
  std::condition_variable m_gate;  // the start gate (m_event)
  bool m_bStarted = false;
  bool m_bCancelled = false;  // destroyed before Init
  /// One read at the most: as much as the link's frame assembly holds.
  static constexpr uint32_t READ_LIMIT = 512;
  uint8_t m_rxBuf[READ_LIMIT] = {};
  IWindow* m_pDialog = nullptr;
  CQTextQ* m_pTextQ = nullptr;
  CBssComm* m_pLink = nullptr;
  int m_nEntry = 0;
  std::string m_strDevice;  // the link's device, for the line when it fails
  int m_nPort = 0;

  std::mutex m_endLock;
  mutable std::mutex m_failureLock;
  std::string m_strFailure;  // guarded by m_failureLock
  std::condition_variable m_endCv;
  std::atomic<bool> m_bEnded{false};
  std::atomic<bool> m_bStop{false};
  bool m_bFailed = false;
  std::thread m_thread;
};
