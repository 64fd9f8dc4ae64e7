// A scratch folder removed with everything in it when the object goes, and
// the small file utilities the tests write and read images with.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

class CTempDir {
 public:
  /// A fresh folder `prefix`XXXXXX under `base` (the system's temporary
  /// folder by default). Throws when it cannot be made: a test must not go
  /// on writing beside an empty path.
  explicit CTempDir(const std::string& prefix = "velmora-test-", std::filesystem::path base = {}) {
    if (base.empty()) base = std::filesystem::temp_directory_path();
    std::string tmpl = (base / (prefix + "XXXXXX")).string();
    if (::mkdtemp(tmpl.data()) == nullptr)
      throw std::system_error(errno, std::generic_category(), "mkdtemp " + tmpl);
    m_path = tmpl;
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

/// Writes `bytes` to `path`, making the folders it needs.
inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string CTempDir::Write(const std::string& name, const std::vector<uint8_t>& data) const {
  const std::string p = *this / name;
  WriteFile(p, data);
  return p;
}

/// How many descriptors of this process are open on `path` (as named when
/// opened; a removed file no longer counts).
inline int OpenDescriptorsOf(const std::string& path) {
  std::error_code ec;
  int n = 0;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code linkEc;
    if (std::filesystem::read_symlink(fd.path(), linkEc) == std::filesystem::path(path)) ++n;
  }
  return n;
}
