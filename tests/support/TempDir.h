// A scratch folder removed with everything in it when the object goes, and
// the small file utilities the tests write and read images with.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include "platform/WinApi.h"
#endif

class CTempDir {
 public:
  /// A fresh folder `prefix`XXXXXX under `base` (the system's temporary
  /// folder by default). Throws when it cannot be made: a test must not go
  /// on writing beside an empty path.
  explicit CTempDir(const std::string& prefix = "velmora-test-", std::filesystem::path base = {}) {
    if (base.empty()) base = std::filesystem::temp_directory_path();
#ifdef _WIN32
    // No mkdtemp: a random name, taken only when create_directory made it.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
      const std::filesystem::path candidate = base / (prefix + suffix);
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) m_path = candidate.generic_string();
    }
    if (m_path.empty()) throw std::system_error(errno, std::generic_category(), "create_directory below " + base.string());
#else
    std::string tmpl = (base / (prefix + "XXXXXX")).string();
    if (::mkdtemp(tmpl.data()) == nullptr)
      throw std::system_error(errno, std::generic_category(), "mkdtemp " + tmpl);
    m_path = tmpl;
#endif
  }
  ~CTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;

  const std::string& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }
  /// Writes `data` to `name` below the folder (making its folders); its path.
  std::string Write(const std::string& name, const std::vector<uint8_t>& data) const;

 private:
  std::string m_path;
};

/// `path` (UTF-8, as the engine's paths) for std::filesystem and the
/// streams, which take a narrow name in the ANSI code page on Windows.
inline std::filesystem::path FsPath(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

/// Writes `bytes` to `path`, making the folders it needs.
inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(FsPath(path).parent_path(), ec);
  std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string CTempDir::Write(const std::string& name, const std::vector<uint8_t>& data) const {
  const std::string p = *this / name;
  WriteFile(p, data);
  return p;
}

/// How many descriptors of this process are open on `path` (as named when
/// opened; a removed file no longer counts). Windows cannot count them: 1
/// when an exclusive open is refused because some handle holds the file.
#ifdef _WIN32
inline int OpenDescriptorsOf(const std::string& path) {
  HANDLE h = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return 0;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION ? 1 : 0;
}
#else
inline int OpenDescriptorsOf(const std::string& path) {
  std::error_code ec;
  int n = 0;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code linkEc;
    if (std::filesystem::read_symlink(fd.path(), linkEc) == std::filesystem::path(path)) ++n;
  }
  return n;
}
#endif
