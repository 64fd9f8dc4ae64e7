// The dialog's host on a console: log lines and message boxes are printed,
// not kept (a station runs for a whole shift), caution questions are
// answered from the command line, and on a terminal the bars' captions are
// kept up to date in a table below the log.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "StopSignal.h"
#include "headless/HeadlessHost.h"

class CConsoleHost : public CHeadlessHost {
 public:
  explicit CConsoleHost(bool liveTable);
  ~CConsoleHost() override;

  /// What ends the loop's waits besides a posted message (a stop signal's);
  /// kNoStopWaitable for none.
  void SetStopWaitable(StopWaitable stop) { m_stop = stop; }

  bool PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
  /// Told each entry whose result is known (the history records it).
  void SetEntryResultSink(std::function<void(int)> sink) { m_entryResult = std::move(sink); }
  void OnEntryResult(int entry) override {
    if (m_entryResult) m_entryResult(entry);
  }

  /// Entries whose captions the live table shows.
  void SetTableEntries(std::vector<int> entries);
  /// Redraws the live table (no-op on a pipe).
  void DrawTable();
  /// Removes the table so that plain text follows.
  void EraseTable();

  /// The text of the last message box shown.
  const std::string& LastBox() const { return m_strLastBox; }

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
  StopWaitable m_wake = kNoStopWaitable;  ///< signalled by every post (an eventfd, an event)
  StopWaitable m_stop = kNoStopWaitable;
  std::function<void(int)> m_entryResult;
  std::string m_strLastBox;
};
