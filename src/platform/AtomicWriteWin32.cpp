#include "platform/AtomicWrite.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "platform/WinApi.h"

bool WriteFully(int fd, const void* data, size_t count) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  size_t done = 0;
  while (done < count) {
    const unsigned chunk = static_cast<unsigned>(std::min<size_t>(count - done, 1u << 30));
    const int n = ::_write(fd, bytes + done, chunk);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

CAtomicFile::~CAtomicFile() {
  if (m_fd >= 0) ::_close(m_fd);
  if (!m_temp.empty() && !m_replaced) ::_wunlink(WideFromUtf8(m_temp).c_str());
}

// Windows has no mode bits beyond read-only: `mode` is not used.
bool CAtomicFile::Create(mode_t) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp =
        m_path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
    m_fd = ::_wopen(WideFromUtf8(temp).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
    if (m_fd >= 0) {
      m_temp = temp;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool CAtomicFile::Sync() { return m_fd >= 0 && ::_commit(m_fd) == 0; }

bool CAtomicFile::Close() {
  if (m_fd < 0) return false;
  const bool ok = ::_close(m_fd) == 0;
  m_fd = -1;
  return ok;
}

// MoveFileExW replaces the file in one step (as rename(2) does) when the
// target exists; write-through returns only once the move is on the disk.
bool CAtomicFile::Replace() {
  if (m_fd >= 0 || m_temp.empty()) return false;
  m_replaced = MoveFileExW(WideFromUtf8(m_temp).c_str(), WideFromUtf8(m_path).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  return m_replaced;
}
