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

  /// Entries whose captions the live table shows.
  void SetTableEntries(std::vector<int> entries);
  /// Redraws the live table (no-op on a pipe).
  void DrawTable();
  /// Removes the table so that plain text follows.
  void EraseTable();

 protected:
  void OnMessageBox(const std::string& text, uint32_t type) override;
  void OnLogLine(int entry, Rgb colour, const std::string& text) override;

 private:
  void Print(const std::string& line);

  bool m_bLive;
  std::vector<int> m_tableEntries;
  int m_nTableLines = 0;
};
