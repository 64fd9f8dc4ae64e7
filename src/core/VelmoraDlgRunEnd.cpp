// The end of a run, however it ended (every entry done, a step that could
// not go on, an interruption): the clock stops, the run's report is kept,
// and the operator is told which handsets failed and why.
#include "RunReport.h"
#include "VelmoraDlg.h"

void CVelmoraDlg::EndRun(bool completionBox) {
  m_dloadFile.CloseImage();
  m_host.KillTimer(ELAPSED_TIMER_ID);
  ShowElapsedTime();
  m_runEnd = std::chrono::system_clock::now();
  int first = -1;
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    if (m_entries[i].m_nResult == RESULT_NONE) continue;
    if (first < 0) first = i;
    // Lines still queued (the completion line) belong to this run's story.
    DrainLog(i, false);
    FlushLineRepeats(i, false);
  }
  if (!m_strRunReportDir.empty()) {
    std::string error;
    // Before the box: its answer may be long in coming.
    if (!WriteRunReportInto(m_strRunReportDir, *this, "velmora", error) && first >= 0)
      PutLog(first, LOG_ERROR, "Run report not written: " + error);
  }
  if (!completionBox) return;
  std::string text = "Download Completed.";
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    const DownloadEntry& e = m_entries[i];
    if (e.m_nResult != RESULT_FAILED) continue;
    text += "\nEntry " + std::to_string(i + 1) + " [COM" + std::to_string(e.m_nRunPort) + "]: " + e.m_strReason;
  }
  m_host.MessageBox(text, MB_OK);
}
