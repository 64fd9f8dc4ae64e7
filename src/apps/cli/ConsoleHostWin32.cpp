#include "ConsoleHost.h"

#include "platform/WinApi.h"

CConsoleHost::CConsoleHost(bool liveTable)
    : CHeadlessHost(false), m_bLive(liveTable), m_wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  // The log's Korean lines are UTF-8: a console shows them so only when told.
  ::SetConsoleOutputCP(CP_UTF8);
  if (!m_bLive) return;
  // The live table moves the cursor with escape sequences, which a console
  // follows only in this mode; without it the table stays off.
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!::GetConsoleMode(out, &mode) || !::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
    m_bLive = false;
}

CConsoleHost::~CConsoleHost() {
  if (m_wake) ::CloseHandle(m_wake);
}

bool CConsoleHost::PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  const bool posted = CHeadlessHost::PostMessage(msg, wParam, lParam);
  // After the message is queued: a wait that starts later returns at once.
  if (posted && m_wake) ::SetEvent(m_wake);
  return posted;
}

void CConsoleHost::WaitForWork(uint32_t maxMs) {
  if (!m_wake) {
    CHeadlessHost::WaitForWork(maxMs);
    return;
  }
  HANDLE events[2] = {m_wake, m_stop};
  ::WaitForMultipleObjects(m_stop ? 2 : 1, events, FALSE, maxMs);
}
