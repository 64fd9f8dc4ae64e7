// A scratch folder of the fuzzing process, removed when it exits.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "TempDir.h"

class CFuzzTemp {
 public:
  /// The process's one scratch folder.
  static CFuzzTemp& Get() {
    static CFuzzTemp temp;
    return temp;
  }
  const std::string& Path() const { return m_dir.path(); }

 private:
  static constexpr const char* kPrefix = "velmora-fuzz-";

  CFuzzTemp() : m_dir(kPrefix + std::to_string(::getpid()) + "-", Base()) {}

  // Memory-backed when the machine has it: a disk file system flushes a
  // file rewritten in place, which would cost most of the fuzzer's time.
  // A fuzzer that crashes, or stops at its time limit, exits without
  // running destructors; the next one removes what processes that no
  // longer exist left behind.
  static std::filesystem::path Base() {
    std::error_code ec;
    const std::filesystem::path base = ::access("/dev/shm", W_OK) == 0 ? std::filesystem::path("/dev/shm")
                                                                        : std::filesystem::temp_directory_path(ec);
    const std::string prefix = kPrefix;
    for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
      if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
        std::error_code ignored;
        std::filesystem::remove_all(entry.path(), ignored);
      }
    }
    return base;
  }

  CTempDir m_dir;
};
