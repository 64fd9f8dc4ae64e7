#include "SocketWait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

CWakeEvent::CWakeEvent() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CWakeEvent::~CWakeEvent() {
  if (m_fd >= 0) close(m_fd);
}

void CWakeEvent::Signal() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(m_fd, &one, sizeof one);
}

void CWakeEvent::Clear() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(m_fd, &count, sizeof count);
}

SocketWait WaitForSocket(int socket, bool forWrite, const CWakeEvent& wake,
                         std::chrono::steady_clock::time_point deadline) {
  using namespace std::chrono;
  for (;;) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    if (left <= 0) return SocketWait::TimedOut;
    pollfd fds[2] = {{socket, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0}, {wake.Handle(), POLLIN, 0}};
    const int n = poll(fds, 2, static_cast<int>(left > 1000 ? 1000 : left));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return SocketWait::Failed;
    if (fds[1].revents != 0) return SocketWait::Woken;
    if (fds[0].revents != 0) return SocketWait::Ready;
  }
}
