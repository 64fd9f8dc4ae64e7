// The dialog's host on a console: log lines and message boxes are printed,
// caution questions are answered from the command line, and on a terminal
// the bars' captions are kept up to date in a table below the log.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "host/HeadlessHost.h"

class CConsoleHost : public CHeadlessHost {
 public:
  explicit CConsoleHost(bool liveTable);
  ~CConsoleHost() override;

  /// A descriptor whose readiness ends the loop's waits (a stop signal's);
  /// -1 for none.
  void SetStopFd(int fd) { m_nStopFd = fd; }

  bool PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

  /// Entries whose captions the live table shows.
  void SetTableEntries(std::vector<int> entries);
  /// Redraws the live table (no-op on a pipe).
  void DrawTable();
  /// Removes the table so that plain text follows.
  void EraseTable();

 protected:
  void OnMessageBox(const std::string& text, uint32_t type) override;
  void OnLogLine(int entry, Rgb colour, const std::string& text) override;
  /// Waits on the posted messages and the stop descriptor together.
  void WaitForWork(uint32_t maxMs) override;

 private:
  void Print(const std::string& line);

  bool m_bLive;
  std::vector<int> m_tableEntries;
  int m_nTableLines = 0;
  int m_nWakeFd = -1;  ///< eventfd written by every post
  int m_nStopFd = -1;
};
