// Replacing a file in one step: the new content goes to a fresh temporary
// file beside it, renamed over the file only once it is complete, so a
// reader (or a crash) finds the old file or the new one, never half of one.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>  // mode_t
#include <utility>

/// Writes all `count` bytes, resuming after a signal; false on any error.
bool WriteFully(int fd, const void* data, size_t count);

class CAtomicFile {
 public:
  explicit CAtomicFile(std::string path) : m_path(std::move(path)) {}
  /// Closes the temporary file and removes it unless it replaced the file.
  ~CAtomicFile();
  CAtomicFile(const CAtomicFile&) = delete;
  CAtomicFile& operator=(const CAtomicFile&) = delete;

  /// Creates the temporary file with `mode` (before the umask). Its name is
  /// new, so two writers never share one. False when none could be made.
  bool Create(mode_t mode);
  /// The temporary file's descriptor while it is open, else -1.
  int Fd() const { return m_fd; }
  /// Flushes the temporary file's data to the disk.
  bool Sync();
  /// Closes the temporary file; false when its data may not all be written.
  bool Close();
  /// Renames the closed temporary file over the file.
  bool Replace();

 private:
  std::string m_path;
  std::string m_temp;
  int m_fd = -1;
  bool m_replaced = false;
};
