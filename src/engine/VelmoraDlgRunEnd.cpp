// The end of a run, however it ended (every entry done, a step that could
// not go on, an interruption): the clock stops, the run's report is kept,
// the window calls the operator, and the operator is told how many
// handsets completed, which failed and why.
#include "RunReport.h"
#include "VelmoraDlg.h"

void CVelmoraDlg::EndRun(CDownloadRun& run, bool completionBox) {
  run.m_dloadFile.CloseImage();
  // The line's clock runs on past each of its handsets.
  if (!run.Plan().flow) m_host.KillTimer(ELAPSED_TIMER_ID);
  ShowElapsedTime();
  run.m_runEnd = std::chrono::system_clock::now();
  int first = -1;
  for (int i : run.Members()) {
    if (run.Entry(i).m_nResult == RESULT_NONE) continue;
    if (first < 0) first = i;
    // Lines still queued (the completion line) belong to this run's story.
    DrainLog(i, false);
    FlushLineRepeats(i, false);
  }
  if (!m_strRunReportDir.empty()) {
    std::string error;
    // Before the box: its answer may be long in coming.
    if (!WriteRunReportInto(m_strRunReportDir, run, "velmora", error) && first >= 0)
      PutLog(first, LOG_ERROR, "Run report not written: " + error);
  }
  // A close question still open is moot now; the end box must not open
  // under it.
  if (m_bAskingClose) m_host.DismissMessageBox();
  // Whoever works at the next bench hears and sees that this one is done.
  // Not when the window is closing, nor for each handset of a line: its
  // sockets end all the time.
  if (!m_bClosing && !run.Plan().flow) m_host.AskAttention();
  if (!completionBox) return;
  int completed = 0, failed = 0;
  std::string failures;
  for (int i : run.Members()) {
    const RunEntry& e = run.Entry(i);
    if (e.m_nResult == RESULT_COMPLETED) ++completed;
    if (e.m_nResult != RESULT_FAILED) continue;
    ++failed;
    failures += "\nEntry " + std::to_string(i + 1) + " [COM" + std::to_string(e.m_nRunPort) + "]: " + e.m_strReason;
  }
  const std::string text = "Download Completed.\n" + std::to_string(completed) + " completed, " +
                           std::to_string(failed) + " failed" + failures;
  m_host.MessageBox(text, failed > 0 ? MB_OK | MB_ICONEXCLAMATION : MB_OK);
}
