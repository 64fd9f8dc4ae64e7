// Small helpers shared by the engine tests.
#pragma once

#include <algorithm>
#include <string>

#include "PhoneImage.h"
#include "TempDir.h"
#include "VelmoraDlg.h"
#include "Registry.h"
#include "host/HeadlessHost.h"
#include "platform/PortMap.h"

/// Starts a test as a fresh run of the program: the program-wide EFS2
/// list cleared, no COM number mapped, the
/// remembered directories kept in `settingsDir`.
inline void ResetProgramState(const std::string& settingsDir) {
  g_efsFileList = EfsFileList();
  CRegistry::SetStorePath(settingsDir + "/settings.ini");
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
