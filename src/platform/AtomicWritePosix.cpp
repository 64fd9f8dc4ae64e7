#include "platform/AtomicWrite.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

bool WriteFully(int fd, const void* data, size_t count) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

CAtomicFile::~CAtomicFile() {
  if (m_fd >= 0) ::close(m_fd);
  if (!m_temp.empty() && !m_replaced) ::unlink(m_temp.c_str());
}

bool CAtomicFile::Create(mode_t mode) {
  static std::atomic<unsigned> counter{0};
  // A name left behind by a process that died keeps its file; the next
  // number is tried instead.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = m_path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    m_fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (m_fd >= 0) {
      m_temp = temp;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool CAtomicFile::Sync() { return m_fd >= 0 && ::fsync(m_fd) == 0; }

bool CAtomicFile::Close() {
  if (m_fd < 0) return false;
  const bool ok = ::close(m_fd) == 0;
  m_fd = -1;
  return ok;
}

bool CAtomicFile::Replace() {
  if (m_fd >= 0 || m_temp.empty()) return false;
  m_replaced = ::rename(m_temp.c_str(), m_path.c_str()) == 0;
  return m_replaced;
}
