#include "OwnerOnly.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

bool MakeOwnerOnly(const std::string& path, std::string& error) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || ((st.st_mode & 077) != 0 && chmod(path.c_str(), st.st_mode & 0700) != 0)) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}
