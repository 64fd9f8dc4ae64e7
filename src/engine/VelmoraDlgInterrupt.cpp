// Stopping a run from outside: the window closing in the middle of it, or
// the command line told to end. Nothing may go out to a handset afterwards,
// and every handset still in the run must show that it did not finish.
#include <algorithm>

#include "VelmoraDlg.h"

namespace {
constexpr const char* kCloseQuestion = "다운로드가 진행 중입니다.\n정말 다운로드를 중단하고 종료하시겠습니까?";
}  // namespace

void CVelmoraDlg::InterruptRun() {
  // A DownLoad still opening its links ends as a run under way would: its
  // entries are reported interrupted (none of them has been sent anything),
  // and the links it opened are closed below with the others.
  const bool started = m_bRunning == 1;
  // A line stopped from outside (the window closing, a signal) stops here.
  if (m_bFlow) {
    m_bFlow = 0;
    m_host.KillTimer(FLOW_TIMER_ID);
    m_host.KillTimer(ELAPSED_TIMER_ID);
    ShowDownLoadCaption();
  }
  const bool opening = m_bOpeningLinks != 0;
  AbandonOpening();
  if (opening && m_lastRun)
    for (int k : m_lastRun->Members()) m_lastRun->Entry(k).m_nResult = RESULT_RUNNING;
  // Timers first: an expiry is the only way a request goes out without a
  // reply having arrived.
  for (int k = 0; k < MAX_ENTRIES; ++k) KillEntryTimer(k);
  std::vector<CDownloadRun*> stopped;
  for (int k = 0; k < MAX_ENTRIES; ++k) {
    if (!m_entryRun[k]) continue;
    RunEntry& r = Run(k);
    // Marked before the link goes, so that a reply already posted finds the
    // entry outside the run and is dropped (OnEntryPacket).
    if (r.m_nResult == RESULT_RUNNING) {
      r.m_nResult = RESULT_FAILED;
      r.m_cause = EntryCause::Interrupted;
      r.m_strReason = EntryCauseText(EntryCause::Interrupted);
      r.m_runEnd = std::chrono::system_clock::now();
      m_host.OnEntryResult(k);
      PutLog(k, LOG_ERROR, r.m_strReason);
      ShowEntryError(k);
      if (std::find(stopped.begin(), stopped.end(), m_entryRun[k].get()) == stopped.end())
        stopped.push_back(m_entryRun[k].get());
    }
    r.m_nState = STATE_IDLE;
    r.m_pRxPacket = nullptr;
    r.m_bMarkerSent = 0;
  }
  for (int k = 0; k < MAX_ENTRIES; ++k) {
    DownloadEntry& e = m_entries[k];
    // Given-up entries keep their link open too; every one of them goes so
    // that the ports are free for whoever opens them next.
    if (e.m_comm.IsOpen() || e.m_pThread) {
      e.m_bConnected = 0;
      e.m_bRxThreadRunning = 0;
      CloseLink(k);
    }
    // The reasons reach the entry's view now, not after the loop that
    // would hand them over has stopped.
    DrainLog(k, true);
  }
  for (CDownloadRun* run : stopped) {
    run->m_nFinished = 0;
    run->m_nAlive = 0;
    run->m_bInStepEnd = 0;
    run->m_nStep = IMAGE_BOOTLOADER;
  }
  m_bRunning = 0;
  EnableControls(1);
  UpdateData(false);
  if (started)
    for (CDownloadRun* run : stopped) EndRun(*run, false);
  ReplayPortEvents();
}

bool CVelmoraDlg::QueryClose() {
  if (!m_bRunning) return true;
  if (m_bAskingClose) return false;
  m_bAskingClose = 1;
  const int answer = m_host.MessageBox(kCloseQuestion, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  m_bAskingClose = 0;
  if (answer != IDYES) return false;
  // The window goes: the run's end needs no one's attention.
  m_bClosing = 1;
  // The run may have ended while the question was open.
  if (m_bRunning) InterruptRun();
  return true;
}
