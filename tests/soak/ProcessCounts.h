// Threads and open descriptors of this process, read from /proc, so that a
// run can be checked for leaks by counting before and after.
#pragma once

#include <filesystem>

struct ProcessCounts {
  int threads = 0;
  int fds = 0;
  bool operator==(const ProcessCounts& o) const { return threads == o.threads && fds == o.fds; }
};

inline int CountEntries(const char* dir) {
  std::error_code ec;
  int n = 0;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) ++n;
  return n;
}

/// The counts now. The descriptor count includes the one that lists them.
inline ProcessCounts CountProcess() { return {CountEntries("/proc/self/task"), CountEntries("/proc/self/fd")}; }
