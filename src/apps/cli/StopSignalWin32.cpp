#include "StopSignal.h"

#include <windows.h>

#include <atomic>
#include <csignal>

namespace {

// The handler has no context argument: one stop per process, as there is
// one console.
std::atomic<int> g_signal{0};
HANDLE g_stopEvent = nullptr;  // set by the handler
HANDLE g_doneEvent = nullptr;  // set once the program has wound up

BOOL WINAPI OnConsoleControl(DWORD type) {
  int none = 0;
  g_signal.compare_exchange_strong(none, type == CTRL_C_EVENT ? SIGINT : SIGTERM);
  if (g_stopEvent) ::SetEvent(g_stopEvent);
  // For these the process ends when the handler returns (at the latest a
  // few seconds later): give the loop the time to stop the run, close the
  // ports and print its totals.
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
    if (g_doneEvent) ::WaitForSingleObject(g_doneEvent, 4000);
  return TRUE;
}

}  // namespace

CStopSignal::CStopSignal() {
  g_stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_doneEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!g_stopEvent || !g_doneEvent || !::SetConsoleCtrlHandler(OnConsoleControl, TRUE)) return;
  m_bTaken = true;
  m_waitable = g_stopEvent;
}

CStopSignal::~CStopSignal() {
  if (g_doneEvent) ::SetEvent(g_doneEvent);
  // The events stay: a handler still running may touch them.
}

int CStopSignal::Received() {
  if (m_nSignal == 0 && m_bTaken) m_nSignal = g_signal.load();
  return m_nSignal;
}

void CStopSignal::Release() {
  if (!m_bTaken) return;
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  m_bTaken = false;
}
