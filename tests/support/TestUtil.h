// Small helpers shared by the engine tests.
#pragma once

#include <algorithm>
#include <string>

#include "Choices.h"
#include "PhoneImage.h"
#include "TempDir.h"
#include "VelmoraDlg.h"
#include "platform/Registry.h"
#include "headless/HeadlessHost.h"
#include "platform/PortMap.h"

/// Where a test keeps its settings: a file in `settingsDir`, or on Windows a
/// registry key named after that folder (fresh with it).
inline std::string TestSettingsStore(const std::string& settingsDir) {
#ifdef _WIN32
  const size_t slash = settingsDir.find_last_of("/\\");
  return "SOFTWARE\\NORVANE\\VELMORA-TEST\\" + settingsDir.substr(slash == std::string::npos ? 0 : slash + 1);
#else
  return settingsDir + "/settings.ini";
#endif
}

/// Starts a test as a fresh run of the program: no COM number mapped, the
/// remembered directories kept in `settingsDir`.
inline void ResetProgramState(const std::string& settingsDir) {
  CRegistry::SetStorePath(TestSettingsStore(settingsDir));
  CPortMap::Instance().Clear();
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
