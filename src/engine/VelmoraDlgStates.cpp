// The entry state machine: what goes out after an accepted reply, what a
// timer expiry does, and the rendezvous of a run's entries at a step's end.
#include <cstdio>

#include "EngineTimers.h"
#include "VelmoraDlg.h"

bool CVelmoraDlg::InRun(int i) const {
  const CDownloadRun* run = m_entryRun[i].get();
  return run && m_entries[i].m_bConnected == 1 && m_entries[i].m_nComPort != 0 &&
         run->Entry(i).m_nResult == RESULT_RUNNING;
}

int CVelmoraDlg::StateOf(int i) const { return m_entryRun[i] ? Run(i).m_nState : STATE_IDLE; }

// Two rules, because a reply and a silence after the erase differ. Once
// the erase request is out (STATE_BOOT_ERASE_SENT on) the handset takes raw
// blocks only, so a silence there is met with the retry marker, never with
// a framed request. A reply, though, answers a data block only once blocks
// are going out: the reply to the erase itself is framed and its check
// bytes are checked. The boot part of the phone code step with Change
// Downloader ends in STATE_FLASH_ERASE_SENT with a block outstanding,
// hence that case.
bool CVelmoraDlg::InDataState(int i) const {
  const int state = Run(i).m_nState;
  const CDownloadRun& run = RunOfEntry(i);
  return state == STATE_BOOT_BLOCKS || state == STATE_FLASH_BLOCKS ||
         (state == STATE_FLASH_ERASE_SENT && run.m_nStep == IMAGE_PHONE_CODE && run.Plan().m_bChangeDownloader == 1);
}

bool CVelmoraDlg::InBlockTransfer(int i) const {
  const int state = Run(i).m_nState;
  return state >= STATE_BOOT_ERASE_SENT && state <= STATE_FLASH_BLOCKS;
}

bool CVelmoraDlg::IsBootKindStep(const CDownloadRun& run) {
  return (run.m_nStep == IMAGE_PHONE_CODE && run.Plan().m_bChangeDownloader == 1) ||
         run.m_nStep == IMAGE_EFS_FILE || run.m_nStep == IMAGE_QBFS_FILE;
}

bool CVelmoraDlg::SendEntryBlock(int i) {
  CDownloadRun& run = RunOfEntry(i);
  RunEntry& r = Run(i);
  if (!run.m_dloadFile.ReadBlock(run.m_nBaseOffset, static_cast<uint32_t>(r.m_nBlock), r.m_blockReq,
                                 r.m_bSignaturePatched))
    return false;
  IgnoreSendResult(m_entries[i].m_comm.SendBlock(r.m_blockReq));
  if (r.m_bMarkerSent == 0) r.m_lastBlock = r.m_blockReq;
  r.m_nBlocksSent += 1;
  return true;
}

void CVelmoraDlg::Advance(int i) {
  switch (Run(i).m_nState) {
    case STATE_IDLE:
    case 1:  // 1, 2 and 4 are never set; they go the way of their neighbours
    case 2:
    case STATE_VERSION_OK:
      AdvanceToErase(i);
      return;
    case 4:
    case STATE_ERASING:
      SendErase(i);
      return;
    case STATE_BOOT_ERASE_SENT:
    case STATE_BOOT_BLOCKS:
      SendBootBlock(i);
      return;
    case STATE_FLASH_ERASE_SENT:
    case STATE_FLASH_BLOCKS:
      SendFlashBlock(i);
      return;
    case STATE_COMPLETE:
      CompleteEntry(i);
      return;
    default:  // STATE_STEP_WAIT: the entry waits for the others
      return;
  }
}

void CVelmoraDlg::AdvanceToErase(int i) {
  const CDownloadRun& run = RunOfEntry(i);
  RunEntry& r = Run(i);
  CBssComm& link = m_entries[i].m_comm;
  if (r.m_nState != STATE_VERSION_OK && run.m_nStep == IMAGE_PHONE_CODE && run.Plan().m_bChangeDownloader == 0) {
    // Every handset of the run is asked for its own boot version; the
    // reply handler accepts only "b1.01" as the answer to it.
    if (r.m_bBootVersionOk == 0) {
      r.m_nRetry = 0;
      IgnoreSendResult(link.RequestBootVersion());
      r.m_bBootVersionAsked = 1;
      ArmTimer(i, TIMER_REQUEST, kRequestMs);
      return;
    }
    r.m_nState = STATE_VERSION_OK;
  }
  r.m_bBootVersionAsked = 0;
  ShowEntryProgress(i);
  if (r.m_bJumpSent == 0) {
    r.m_bJumpSent = 1;
    r.m_nRetry = 0;
    IgnoreSendResult(link.RequestJump());
    ArmTimer(i, TIMER_REQUEST, kRequestMs);
    return;
  }
  r.m_nState = STATE_ERASING;
  SendErase(i);
}

void CVelmoraDlg::SendErase(int i) {
  CDownloadRun& run = RunOfEntry(i);
  RunEntry& r = Run(i);
  CBssComm& link = m_entries[i].m_comm;
  ShowElapsedTime();
  ShowEntryProgress(i);
  r.m_nState = IsBootKindStep(run) ? STATE_BOOT_ERASE_SENT : STATE_FLASH_ERASE_SENT;
  // Every block holding image bytes is sent, the last one padded: the
  // tail of an image (a phone code's trailer) is never dropped.
  run.m_nTotalBlocks =
      static_cast<int>((static_cast<uint64_t>(run.m_nEraseLength) + BLOCK_SIZE - 1) / BLOCK_SIZE);
  if (run.m_nStep == IMAGE_PHONE_CODE || run.m_nStep == IMAGE_EFS_FILE || run.m_nStep == IMAGE_QBFS_FILE)
    IgnoreSendResult(link.RequestErase(run.m_nEraseStart, run.m_nEraseLength, run.m_nEraseArg));
  else
    IgnoreSendResult(link.RequestEraseExt(run.m_nEraseStart, run.m_nEraseLength, run.m_nEraseArg));
  r.m_eraseSentMs = m_host.ClockMs();
  ArmTimer(i, TIMER_ERASE, kEraseMs);
}

void CVelmoraDlg::SendBootBlock(int i) {
  const CDownloadRun& run = RunOfEntry(i);
  RunEntry& r = Run(i);
  if (r.m_nState == STATE_BOOT_ERASE_SENT) {
    ShowEntryProgress(i);
    r.m_nState = STATE_BOOT_BLOCKS;
    PutLog(i, LOG_STATUS, "Boot Programming 중");
    if (r.m_nBlock >= run.m_nTotalBlocks) {
      EndBootStep(i);
      return;
    }
    if (SendEntryBlock(i)) r.m_nBlock += 1;
    ArmTimer(i, TIMER_BLOCK, kBlockMs);
    return;
  }
  ShowElapsedTime();
  ShowEntryProgress(i);
  const int n = r.m_nBlock;
  // The reply to the last block that holds image bytes ends the step;
  // never before that reply, and never with a block past the end.
  if (n >= run.m_nTotalBlocks) {
    EndBootStep(i);
    return;
  }
  SendEntryBlock(i);
  ArmTimer(i, TIMER_BLOCK, kBlockMs);
  // The phone code step with Change Downloader goes on to its application
  // part: the block at the start address was the boot part's last.
  const int appBlocks = static_cast<int>(run.m_dloadFile.GetStartAddress() / BLOCK_SIZE);
  if (n == appBlocks && run.m_nStep != IMAGE_EFS_FILE && run.m_nStep != IMAGE_QBFS_FILE) {
    r.m_nState = STATE_FLASH_ERASE_SENT;
    PutLog(i, LOG_STATUS, "Boot Processing...잠시만 기다리세요");
  }
  r.m_nBlock = n + 1;
}

void CVelmoraDlg::SendFlashBlock(int i) {
  const CDownloadRun& run = RunOfEntry(i);
  RunEntry& r = Run(i);
  if (r.m_nState == STATE_FLASH_ERASE_SENT) {
    ShowEntryProgress(i);
    ShowElapsedTime();
    r.m_nState = STATE_FLASH_BLOCKS;
    PutLog(i, LOG_STATUS, "Flash Programming 중");
    if (r.m_nBlock >= run.m_nTotalBlocks) {
      r.m_bFlashing = 1;
      EndFlashStep(i);
      return;
    }
    if (SendEntryBlock(i)) {
      r.m_nBlock += 1;
      r.m_bFlashing = 0;
    }
    ArmTimer(i, TIMER_BLOCK, kBlockMs);
    return;
  }
  r.m_bFlashing = 1;
  ShowElapsedTime();
  if (r.m_nBlock < run.m_nTotalBlocks) {
    if (SendEntryBlock(i)) r.m_nBlock += 1;
    ShowEntryProgress(i);
    ArmTimer(i, TIMER_BLOCK, kBlockMs);
    return;
  }
  EndFlashStep(i);
}

void CVelmoraDlg::CompleteEntry(int i) {
  RunEntry& r = Run(i);
  if (r.m_nResult != RESULT_RUNNING) return;
  ShowEntryCompleted(i);
  PutLog(i, LOG_INFO, "Downloading Completed.");
  r.m_nResult = RESULT_COMPLETED;
  r.m_runEnd = std::chrono::system_clock::now();
  m_host.OnEntryResult(i);
  // The controls come back with the run's end, not with this entry's:
  // others may still await their reply to the jump.
  CheckRunEnded(RunOfEntry(i));
}

int CVelmoraDlg::AliveCount(const CDownloadRun& run) const {
  int alive = 0;
  for (int k : run.Members())
    if (m_entries[k].m_nComPort != 0 && m_entries[k].m_bConnected == 1) ++alive;
  return alive;
}

bool CVelmoraDlg::AllAliveFinished(const CDownloadRun& run) const {
  for (int k : run.Members())
    if (m_entries[k].m_nComPort != 0 && m_entries[k].m_bConnected == 1 && run.Entry(k).m_nState != STATE_STEP_WAIT)
      return false;
  return true;
}

void CVelmoraDlg::EndBootStep(int i) {
  CDownloadRun& run = RunOfEntry(i);
  KillEntryTimer(i);
  run.m_nFinished += 1;
  Run(i).m_nState = STATE_STEP_WAIT;
  DropLostEntries(run);
  // Wait for every entry still in the run; one that left it is not waited
  // for (counting bound ports would wait for it forever).
  if (!AllAliveFinished(run)) {
    ShowEntryProgress(i);
    return;
  }
  CompleteStep(run, true);
}

void CVelmoraDlg::EndFlashStep(int i) {
  CDownloadRun& run = RunOfEntry(i);
  KillEntryTimer(i);
  run.m_nFinished += 1;
  run.m_nAlive = 0;
  Run(i).m_nState = STATE_STEP_WAIT;
  DropLostEntries(run);
  run.m_nAlive = AliveCount(run);
  if (!AllAliveFinished(run)) {
    ShowStepWaiting(i);
    return;
  }
  run.m_nFinished = 0;
  run.m_nAlive = 0;
  CompleteStep(run, false);
}

// Handsets differ: one still erasing (for seconds, up to the erase limit)
// or still waiting for a request's reply within its repeats when another
// has finished is on its way, and dropping it would leave it erased with
// nothing written. Only an entry that nothing can move on any more holds
// the step for ever.
void CVelmoraDlg::DropLostEntries(CDownloadRun& run) {
  bool dropped = false;
  const int outer = run.m_bInStepEnd;
  run.m_bInStepEnd = 1;
  for (int k : run.Members()) {
    const RunEntry& r = run.Entry(k);
    if (!InRun(k) || r.m_nState == STATE_STEP_WAIT || r.m_bTimerArmed) continue;
    // In every other state Disconnect shows the error itself.
    if (r.m_nState == STATE_IDLE || r.m_nState == STATE_COMPLETE) ShowEntryError(k);
    m_entries[k].m_bRxThreadRunning = 0;
    PutLog(k, LOG_ERROR, EntryCauseText(EntryCause::Lost));
    DisconnectWith(k, EntryCause::Lost);
    m_entries[k].m_nComPort = 0;
    dropped = true;
  }
  run.m_bInStepEnd = outer;
  if (dropped) RefreshPortLabels();
}

void CVelmoraDlg::CompleteStep(CDownloadRun& run, bool bootKind) {
  run.m_bInStepEnd = 1;
  if (run.m_nStep == IMAGE_EFS_FILE) run.SelectNextEfsFile();
  run.m_nFinished = 0;
  run.m_nAlive = 0;
  if (!AdvanceStep(run)) {
    run.m_bInStepEnd = 0;
    StopRun(run, "Download stopped: the next image could not be used.");
    return;
  }
  if (run.m_nStep != IMAGE_BOOTLOADER)
    RestartEntries(run, true);
  else
    FinalJump(run, !bootKind);
  run.m_bInStepEnd = 0;
}

void CVelmoraDlg::RestartEntries(CDownloadRun& run, bool withProgress) {
  for (int k : run.Members()) {
    if (!InRun(k)) continue;
    RunEntry& r = run.Entry(k);
    r.m_nState = STATE_IDLE;
    r.ResetStepCounters();
    SendFirstRequest(k);
    if (withProgress) ShowEntryProgress(k);
    ArmTimer(k, TIMER_REQUEST, kRequestMs);
  }
}

void CVelmoraDlg::FinalJump(CDownloadRun& run, bool completedCaption) {
  for (int k : run.Members()) {
    if (!InRun(k)) continue;
    RunEntry& r = run.Entry(k);
    r.m_bJumpSent = 0;
    r.m_nState = STATE_COMPLETE;
    r.m_nRetry = 0;
    IgnoreSendResult(m_entries[k].m_comm.RequestJump());
    r.m_nBlock = 0;
    if (completedCaption)
      ShowEntryCompleted(k);
    else
      ShowEntryProgress(k);
    ArmTimer(k, TIMER_REQUEST, kFinalJumpMs);
  }
  // The box waits for the run's end, when every entry's outcome is known.
  if (completedCaption) run.m_bCompletionBox = 1;
}

void CVelmoraDlg::GiveUpEntry(int i, EntryCause cause, bool logReason) {
  DownloadEntry& e = m_entries[i];
  RunEntry& r = Run(i);
  if (logReason) PutLog(i, LOG_ERROR, EntryCauseText(cause));
  KillEntryTimer(i);
  const bool inRun = m_bRunning && r.m_nResult == RESULT_RUNNING;
  if ((inRun || (r.m_nState != STATE_IDLE && r.m_nState != STATE_COMPLETE)) && e.m_nComPort != 0) {
    ShowEntryError(i);
    DrainLog(i, true);
    e.m_nComPort = 0;
    e.m_bConnected = 0;
  }
  r.m_pRxPacket = nullptr;
  r.m_nState = STATE_IDLE;
  RefreshPortLabels();
  if (inRun) LeaveRun(i, cause);
}

void CVelmoraDlg::LeaveRun(int i, EntryCause cause, const std::string& text) {
  if (!m_entryRun[i]) return;
  RunEntry& r = Run(i);
  if (!m_bRunning || r.m_nResult != RESULT_RUNNING) return;
  r.m_nResult = RESULT_FAILED;
  r.m_cause = cause;
  r.m_strReason = text.empty() ? EntryCauseText(cause) : text;
  // The lines that say why are usually still queued: they belong to this
  // run's log.
  DrainLog(i, true);
  r.m_runEnd = std::chrono::system_clock::now();
  ShowEntryError(i);
  m_host.OnEntryResult(i);
  AfterEntryLeft(RunOfEntry(i));
}

void CVelmoraDlg::AfterEntryLeft(CDownloadRun& run) {
  if (run.m_bInStepEnd) return;
  // Entries waiting at the rendezvous would otherwise wait for this one.
  bool anyWaiting = false;
  for (int k : run.Members())
    if (InRun(k) && run.Entry(k).m_nState == STATE_STEP_WAIT) anyWaiting = true;
  if (anyWaiting && AllAliveFinished(run)) CompleteStep(run, IsBootKindStep(run));
  CheckRunEnded(run);
}

void CVelmoraDlg::CheckRunEnded(CDownloadRun& run) {
  if (!m_bRunning || run.Running()) return;
  // One handset of the line has ended; the line goes on.
  if (run.Plan().flow) {
    EndRun(run, false);
    return;
  }
  m_bRunning = 0;
  // A run that did not get through the EFS2 files leaves the choice as it
  // was: its box names the folder's first file again.
  if (m_choices.m_bEfs2 == 1) {
    m_strEfsText = m_choices.m_strEfsFilePath;
    UpdateData(false);
  }
  EnableControls(1);
  EndRun(run, run.m_bCompletionBox == 1);
}

void CVelmoraDlg::StopRun(CDownloadRun& run, const std::string& reason) {
  for (int k : run.Members()) {
    RunEntry& r = run.Entry(k);
    if (r.m_nResult != RESULT_RUNNING) continue;
    KillEntryTimer(k);
    r.m_nState = STATE_IDLE;
    PutLog(k, LOG_ERROR, reason);
    DrainLog(k, true);
    r.m_nResult = RESULT_FAILED;
    r.m_cause = EntryCause::Stopped;
    r.m_strReason = reason;
    r.m_runEnd = std::chrono::system_clock::now();
    ShowEntryError(k);
    m_host.OnEntryResult(k);
  }
  run.m_nStep = IMAGE_BOOTLOADER;
  if (!run.Plan().flow) {
    m_bRunning = 0;
    EnableControls(1);
  }
  EndRun(run, false);
}

void CVelmoraDlg::OnEntryTimer(int i) {
  if (i < 0 || i >= MAX_ENTRIES || !m_entryRun[i]) return;
  RunEntry& r = Run(i);
  KillEntryTimer(i);
  switch (r.m_nTimerType) {
    case TIMER_GUARD:
      // No second reply came (or it was absorbed): the next unit may go.
      Advance(i);
      return;
    case TIMER_ERASE:
      ShowElapsedTime();
      // An erase that is never answered would hold the whole step: the
      // other entries wait for this one at the step's end.
      if (m_host.ClockMs() - r.m_eraseSentMs >= static_cast<uint32_t>(RunOfEntry(i).Plan().eraseLimitS) * 1000u)
        GiveUpEntry(i, EntryCause::GivenUp);
      else
        ArmTimer(i, TIMER_ERASE, kEraseMs);
      return;
    default:
      break;
  }
  r.m_nRetry += 1;
  if (r.m_nRetry < kMaxTimerExpiries) {
    if (InBlockTransfer(i)) {
      char text[64];
      std::snprintf(text, sizeof text, "No response, retry at 0x%x",
                    static_cast<unsigned>(RunOfEntry(i).m_nBaseOffset +
                                          static_cast<uint32_t>(r.m_nBlock - 1) * BLOCK_SIZE));
      PutLog(i, LOG_INFO, text);
      SendRetryMarker(i);
    } else {
      ResendRequest(i);
    }
    r.m_nRetries += 1;
    ArmTimer(i, r.m_nTimerType, r.m_nTimerMs);
  } else if (r.m_nTimerType == TIMER_REQUEST) {
    r.m_nRetry = 0;
    // A handset that answers none of three requests will not answer a
    // fourth: give it up so the rest of the run can end.
    GiveUpEntry(i, EntryCause::NoResponse);
  } else {
    GiveUpEntry(i, EntryCause::GivenUp);
  }
}
