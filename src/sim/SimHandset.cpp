#include "sim/SimHandset.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {
uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}
}  // namespace

CSimHandset::CSimHandset(const SimHandsetConfig& config) : m_protocol(config) {}

CSimHandset::~CSimHandset() { Stop(); }

bool CSimHandset::Start(std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    if (m_slave >= 0) close(m_slave);
    if (m_master >= 0) close(m_master);
    m_slave = m_master = -1;
    return false;
  };
  m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) return fail("posix_openpt");
  const char* name = ptsname(m_master);
  if (!name) return fail("ptsname");
  m_slavePath = name;
  // Holding the slave open keeps the master from reporting a hang-up each
  // time the tool closes the port; raw, so nothing is echoed back.
  m_slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_slave < 0) return fail("open slave");
  termios t{};
  if (tcgetattr(m_slave, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(m_slave, TCSANOW, &t);
  }
  m_bStop = false;
  m_thread = std::thread([this] { Serve(); });
  return true;
}

void CSimHandset::Stop() {
  m_bStop = true;
  if (m_thread.joinable()) m_thread.join();
  HangUp();
}

void CSimHandset::HangUp() {
  if (m_slave >= 0) close(m_slave);
  if (m_master >= 0) close(m_master);
  m_slave = m_master = -1;
}

SimRecord CSimHandset::Record() const {
  std::lock_guard<std::mutex> g(m_lock);
  return m_protocol.Record();
}

void CSimHandset::AddFault(const SimFault& fault) {
  std::lock_guard<std::mutex> g(m_lock);
  m_protocol.AddFault(fault);
}

void CSimHandset::Serve() {
  uint8_t buf[4096];
  std::vector<uint8_t> out;
  while (!m_bStop) {
    int timeout = 20;
    {
      std::lock_guard<std::mutex> g(m_lock);
      const int64_t due = m_protocol.NextDeadline();
      if (due >= 0) {
        const int64_t wait = due - static_cast<int64_t>(NowMs());
        timeout = static_cast<int>(wait < 0 ? 0 : wait > 20 ? 20 : wait);
      }
    }
    pollfd p{m_master, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
    const int ready = poll(&p, 1, timeout);
    {
      std::lock_guard<std::mutex> g(m_lock);
      const uint64_t now = NowMs();
      if (ready > 0 && (p.revents & POLLIN)) {
        const ssize_t n = read(m_master, buf, sizeof buf);
        if (n > 0) m_protocol.Feed(buf, static_cast<size_t>(n), now, !out.empty());
      }
      m_protocol.Tick(now);
      std::vector<uint8_t> more = m_protocol.TakeOutput();
      out.insert(out.end(), more.begin(), more.end());
      if (m_protocol.HangUpWanted()) {
        m_protocol.Record().hungUp = true;
        HangUp();
        return;
      }
    }
    if (!out.empty()) {
      const ssize_t n = write(m_master, out.data(), out.size());
      if (n > 0) out.erase(out.begin(), out.begin() + n);
    }
    if (ready > 0 && (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}
