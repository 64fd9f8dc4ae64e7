// A program run as its operator's scripts run it: its own process, its
// output (stdout and stderr together) collected as it comes, signals sent
// to it, its exit status waited for with a bound.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class CChildProcess {
 public:
  CChildProcess() = default;
  ~CChildProcess() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_fd >= 0) close(m_fd);
  }
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;

  /// Starts `argv[0]` with `argv`. False when it could not be started.
  bool Start(const std::vector<std::string>& argv) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    m_pid = fork();
    if (m_pid < 0) return false;
    if (m_pid == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(out[1], STDERR_FILENO);
      // The test's own blocked signals must not be handed down.
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    m_fd = out[0];
    fcntl(m_fd, F_SETFL, O_NONBLOCK);
    return true;
  }

  pid_t Pid() const { return m_pid; }

  /// Everything the program wrote so far.
  const std::string& Output() {
    Read(0);
    return m_out;
  }

  /// Reads output until `done` holds for it or `timeoutMs` pass.
  bool WaitForOutput(const std::function<bool(const std::string&)>& done, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (done(m_out)) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0 || m_bEof) return false;
      Read(static_cast<int>(std::min<long long>(left.count(), 100)));
    }
  }
  bool WaitForText(const std::string& text, int timeoutMs) {
    return WaitForOutput([&](const std::string& out) { return out.find(text) != std::string::npos; }, timeoutMs);
  }

  bool Signal(int sig) const { return m_pid > 0 && kill(m_pid, sig) == 0; }

  /// Waits up to `timeoutMs` for the program to end, reading its output
  /// meanwhile. Its exit status, 128 + the signal that killed it, or -1
  /// when it is still running.
  int Wait(int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int raw = 0;
      const pid_t done = waitpid(m_pid, &raw, WNOHANG);
      if (done == m_pid) {
        m_pid = -1;
        while (Read(100)) {
        }
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
      }
      if (std::chrono::steady_clock::now() >= until) return -1;
      Read(20);
    }
  }

 private:
  /// Reads what is there, waiting up to `waitMs` for it; false when
  /// nothing came.
  bool Read(int waitMs) {
    if (m_fd < 0 || m_bEof) return false;
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return false;
    char buf[4096];
    const ssize_t n = read(m_fd, buf, sizeof buf);
    if (n == 0) m_bEof = true;
    if (n <= 0) return false;
    m_out.append(buf, static_cast<size_t>(n));
    return true;
  }

  pid_t m_pid = -1;
  int m_fd = -1;
  std::string m_out;
  bool m_bEof = false;
};
