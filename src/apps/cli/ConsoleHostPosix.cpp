#include "ConsoleHost.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

CConsoleHost::CConsoleHost(bool liveTable)
    : CHeadlessHost(false), m_bLive(liveTable), m_wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CConsoleHost::~CConsoleHost() {
  if (m_wake >= 0) close(m_wake);
}

bool CConsoleHost::PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  const bool posted = CHeadlessHost::PostMessage(msg, wParam, lParam);
  // After the message is queued: a wait that starts later returns at once.
  const uint64_t one = 1;
  if (posted && m_wake >= 0) (void)!write(m_wake, &one, sizeof one);
  return posted;
}

void CConsoleHost::WaitForWork(uint32_t maxMs) {
  if (m_wake < 0) {
    CHeadlessHost::WaitForWork(maxMs);
    return;
  }
  pollfd fds[2] = {{m_wake, POLLIN, 0}, {m_stop, POLLIN, 0}};
  if (poll(fds, m_stop >= 0 ? 2 : 1, static_cast<int>(maxMs)) > 0 && (fds[0].revents & POLLIN)) {
    uint64_t count = 0;
    (void)!read(m_wake, &count, sizeof count);
  }
}

