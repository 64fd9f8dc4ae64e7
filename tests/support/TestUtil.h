// Small helpers shared by the engine tests.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Registry.h"
#include "VelmoraDlg.h"
#include "host/HeadlessHost.h"
#include "platform/PortMap.h"

/// A temporary directory removed with the object.
class CTempDir {
 public:
  CTempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    m_path = mkdtemp(buf.data());
  }
  ~CTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  const std::string& path() const { return m_path; }
  std::string Write(const std::string& name, const std::vector<uint8_t>& data) const {
    std::string p = m_path + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                             static_cast<std::streamsize>(data.size()));
    return p;
  }

 private:
  std::string m_path;
};

/// Starts a test as a fresh run of the program: the program-wide EFS2
/// list cleared, no COM number mapped, the
/// remembered directories kept in `settingsDir`.
inline void ResetProgramState(const std::string& settingsDir) {
  g_efsFileList = EfsFileList();
  CRegistry::SetStorePath(settingsDir + "/settings.ini");
  CPortMap::Instance().Clear();
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

/// Bytes whose value depends on their offset, so misplaced blocks show.
inline std::vector<uint8_t> PatternBytes(size_t n, unsigned seed = 1) {
  std::vector<uint8_t> v(n);
  for (size_t k = 0; k < n; ++k) v[k] = static_cast<uint8_t>((k * 31 + seed * 17 + k / 1024) & 0xFF);
  return v;
}

inline bool HasLog(const CHeadlessHost& host, int entry, const std::string& text) {
  const auto& lines = host.m_logs[entry];
  return std::any_of(lines.begin(), lines.end(), [&](const LogLine& l) { return l.text == text; });
}

inline int CountLog(const CHeadlessHost& host, int entry, const std::string& text) {
  const auto& lines = host.m_logs[entry];
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const LogLine& l) { return l.text == text; }));
}

inline int CountBoxes(const CHeadlessHost& host, const std::string& text) {
  return static_cast<int>(std::count_if(host.m_boxes.begin(), host.m_boxes.end(),
                                        [&](const CHeadlessHost::Box& b) { return b.text == text; }));
}
