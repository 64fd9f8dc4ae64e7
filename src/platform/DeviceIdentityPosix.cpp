#include "platform/DeviceIdentity.h"

#include <sys/stat.h>

bool SameDevice(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  // A device node is known by its device number, wherever the node lies
  // (a second node made for it has an inode of its own).
  if (S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode)) return sa.st_rdev == sb.st_rdev;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
