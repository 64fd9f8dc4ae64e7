#include "platform/OsFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// The status time changes with the contents and with the permissions.
OsFileStamp StampOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
          static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

}  // namespace

bool OsFileStampOf(const std::string& path, OsFileStamp& stamp) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  stamp = StampOf(st);
  return true;
}

COsFile::~COsFile() { Close(); }

void COsFile::Close() {
  if (m_handle >= 0) ::close(static_cast<int>(m_handle));
  m_handle = -1;
}

bool COsFile::Stamp(OsFileStamp& stamp) const {
  struct stat st {};
  if (m_handle < 0 || ::fstat(static_cast<int>(m_handle), &st) != 0) return false;
  stamp = StampOf(st);
  return true;
}

// Non-blocking so that a FIFO or device named like a file cannot stall the
// caller; anything but a regular file is refused, as a folder cannot be
// opened as a file on the handsets' home platform.
bool COsFile::Open(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  m_handle = fd;
  m_position = 0;
  return true;
}

bool COsFile::Status(uint64_t& size, std::time_t& modified) const {
  struct stat st {};
  if (m_handle < 0 || ::fstat(static_cast<int>(m_handle), &st) != 0) return false;
  size = static_cast<uint64_t>(st.st_size);
  modified = st.st_mtime;
  return true;
}

int64_t COsFile::ReadAt(void* buffer, size_t count, uint64_t offset) const {
  if (m_handle < 0) return -1;
  size_t done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (done < count) {
    const ssize_t n = ::pread(static_cast<int>(m_handle), out + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t COsFile::Read(void* buffer, size_t count) {
  if (m_handle < 0) return -1;
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(m_handle), buffer, count);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) m_position += static_cast<uint64_t>(n);
    return n;
  }
}

OsPathKind OsKindOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return OsPathKind::Missing;
  if (S_ISREG(st.st_mode)) return OsPathKind::File;
  if (S_ISDIR(st.st_mode)) return OsPathKind::Folder;
  return OsPathKind::Other;
}

bool OsIsLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool OsListFolder(const std::string& path, std::vector<std::string>& names) {
  names.clear();
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return false;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return true;
}

bool OsFolderIdOf(const std::string& path, OsFolderId& id) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

std::string OsCanonicalPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return {};
  std::string out = real;
  std::free(real);
  return out;
}

bool OsIsSeparator(char c) { return c == '/'; }

bool OsLocalTime(std::time_t t, std::tm& out) { return localtime_r(&t, &out) != nullptr; }

std::string OsEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string OsHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string OsLastErrorText() { return std::strerror(errno); }
