// A scratch folder of the fuzzing process, removed when it exits.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class CFuzzTemp {
 public:
  CFuzzTemp() {
    // Memory-backed when the machine has it: a disk file system flushes a
    // file rewritten in place, which would cost most of the fuzzer's time.
    std::error_code ec;
    const std::filesystem::path base = ::access("/dev/shm", W_OK) == 0 ? std::filesystem::path("/dev/shm")
                                                                        : std::filesystem::temp_directory_path(ec);
    RemoveOrphans(base);
    std::string tmpl = (base / (kPrefix + std::to_string(::getpid()) + "-XXXXXX")).string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) != nullptr) m_path = buf.data();
  }
  ~CFuzzTemp() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
  }
  const std::string& Path() const { return m_path; }

  /// The process's one scratch folder.
  static CFuzzTemp& Get() {
    static CFuzzTemp temp;
    return temp;
  }

  static void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  static constexpr const char* kPrefix = "velmora-fuzz-";

  // A fuzzer that crashes, or stops at its time limit, exits without
  // running destructors; the next one removes what processes that no
  // longer exist left behind.
  static void RemoveOrphans(const std::filesystem::path& base) {
    std::error_code ec;
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
  }

  std::string m_path;
};
