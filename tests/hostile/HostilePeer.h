// A handset that does not play by the rules, on the master side of a
// pseudo-terminal: after each quiet moment in what the tool sent, it answers
// whatever its behaviour says; it can also flood the line on its own.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimFraming.h"

class CHostilePeer {
 public:
  /// Given everything the tool sent since the last answer, the bytes to
  /// send back (may be empty).
  using Behaviour = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& received)>;

  /// `flood`: bytes written again and again, whatever the tool does.
  explicit CHostilePeer(Behaviour behaviour, std::vector<uint8_t> flood = {})
      : m_behaviour(std::move(behaviour)), m_flood(std::move(flood)) {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) return;
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) == 0) m_slave = name;
    m_thread = std::thread([this] { Serve(); });
  }
  ~CHostilePeer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_master >= 0) ::close(m_master);
  }
  CHostilePeer(const CHostilePeer&) = delete;
  CHostilePeer& operator=(const CHostilePeer&) = delete;

  bool Ok() const { return m_master >= 0 && !m_slave.empty(); }
  const std::string& SlavePath() const { return m_slave; }
  /// Bytes the tool sent, and bytes sent back, so far.
  size_t Received() const { return m_nReceived; }
  size_t Sent() const { return m_nSent; }

 private:
  void Write(const std::vector<uint8_t>& out) {
    size_t done = 0;
    // A full line is the tool's problem, not a reason to hang the test.
    for (int tries = 0; done < out.size() && tries < 200 && !m_stop; ++tries) {
      const ssize_t n = ::write(m_master, out.data() + done, out.size() - done);
      if (n > 0) done += static_cast<size_t>(n);
      else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_nSent += done;
  }

  void Serve() {
    std::vector<uint8_t> pending;
    uint8_t buf[4096];
    auto lastByte = std::chrono::steady_clock::now();
    while (!m_stop) {
      pollfd p{m_master, POLLIN, 0};
      const int r = ::poll(&p, 1, m_flood.empty() ? 5 : 0);
      // Nobody holds the slave (before the tool opens it, after it
      // closes it): the master reports a hang-up; wait instead of spinning.
      if (r > 0 && (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      if (r > 0 && (p.revents & POLLIN)) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
          pending.insert(pending.end(), buf, buf + n);
          m_nReceived += static_cast<size_t>(n);
          lastByte = std::chrono::steady_clock::now();
        }
      }
      if (!m_flood.empty()) {
        Write(m_flood);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      if (!pending.empty() && std::chrono::steady_clock::now() - lastByte > std::chrono::milliseconds(20)) {
        const std::vector<uint8_t> out = m_behaviour(pending);
        pending.clear();
        if (!out.empty()) Write(out);
      }
    }
  }

  Behaviour m_behaviour;
  std::vector<uint8_t> m_flood;
  int m_master = -1;
  std::string m_slave;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<size_t> m_nReceived{0}, m_nSent{0};
};

/// A reply frame as a handset writes it: flag, body stuffed, flag.
inline std::vector<uint8_t> HostileFrame(const std::vector<uint8_t>& body) { return sim::BootFrame(body); }
