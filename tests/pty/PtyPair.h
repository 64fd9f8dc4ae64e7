// A pseudo-terminal for serial tests: the test holds the master (the
// handset's end); the tool opens the slave path like a serial device.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
 public:
  PtyPair() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) return;
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) == 0) m_slave = name;
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return m_master >= 0 && !m_slave.empty(); }
  int Master() const { return m_master; }
  const std::string& SlavePath() const { return m_slave; }

  /// The handset hangs up: nobody holds the master any more.
  void CloseMaster() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
  }

  bool Send(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  /// Reads until `count` bytes came or `ms` passed.
  std::vector<uint8_t> Receive(size_t count, int ms = 2000) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < count) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      pollfd p{m_master, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0 || !(p.revents & POLLIN)) break;
      uint8_t buf[256];
      const ssize_t n = ::read(m_master, buf, std::min(sizeof buf, count - out.size()));
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }

 private:
  int m_master = -1;
  std::string m_slave;
};
