#include "platform/AppendFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/AtomicWrite.h"

bool AppendSynced(const std::string& path, const std::string& content) {
  // Read access only to look at the last byte; a file we may only write to
  // is appended to all the same.
  int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat st {};
  char last = '\n';
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) != 1)
    last = '\n';
  const std::string text = last == '\n' ? content : "\n" + content;
  // A pipe or a terminal cannot be synced (EINVAL); there is no disk to
  // wait for then.
  bool ok = WriteFully(fd, text.data(), text.size()) && (::fsync(fd) == 0 || errno == EINVAL);
  const int err = errno;
  ok = ::close(fd) == 0 && ok;
  if (!ok && err != 0) errno = err;
  return ok;
}
