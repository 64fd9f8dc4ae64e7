// The entry state machine: what goes out after an accepted reply, what a
// timer expiry does, and the rendezvous of all entries at a step's end.
#include <cstdio>

#include "EngineTimers.h"
#include "VelmoraDlg.h"

namespace {
bool InRun(const DownloadEntry& e) {
  return e.m_bConnected == 1 && e.m_nComPort != 0 && e.m_nResult == RESULT_RUNNING;
}
}  // namespace

// Two rules, because a reply and a silence after the erase differ. Once
// the erase request is out (STATE_BOOT_ERASE_SENT on) the handset takes raw
// blocks only, so a silence there is met with the retry marker, never with
// a framed request. A reply, though, answers a data block only once blocks
// are going out: the reply to the erase itself is framed and its check
// bytes are checked. The boot part of the phone code step with Change
// Downloader ends in STATE_FLASH_ERASE_SENT with a block outstanding,
// hence that case.
bool CVelmoraDlg::InDataState(int i) const {
  const int state = m_entries[i].m_nState;
  return state == STATE_BOOT_BLOCKS || state == STATE_FLASH_BLOCKS ||
         (state == STATE_FLASH_ERASE_SENT && m_nStep == IMAGE_PHONE_CODE && m_bChangeDownloader == 1);
}

bool CVelmoraDlg::InBlockTransfer(int i) const {
  const int state = m_entries[i].m_nState;
  return state >= STATE_BOOT_ERASE_SENT && state <= STATE_FLASH_BLOCKS;
}

bool CVelmoraDlg::IsBootKindStep() const {
  return (m_nStep == IMAGE_PHONE_CODE && m_bChangeDownloader == 1) || m_nStep == IMAGE_EFS_FILE ||
         m_nStep == IMAGE_QBFS_FILE;
}

bool CVelmoraDlg::SendEntryBlock(int i) {
  DownloadEntry& e = m_entries[i];
  if (!m_dloadFile.ReadBlock(m_nBaseOffset, static_cast<uint32_t>(e.m_nBlock), e.m_blockReq,
                             e.m_bSignaturePatched))
    return false;
  e.m_comm.SendBlock(e.m_blockReq);
  if (e.m_bMarkerSent == 0) e.m_lastBlock = e.m_blockReq;
  e.m_nBlocksSent += 1;
  return true;
}

void CVelmoraDlg::Advance(int i) {
  DownloadEntry& e = m_entries[i];
  const int appBlocks = static_cast<int>(m_dloadFile.GetStartAddress() / BLOCK_SIZE);
  const bool bootKind = IsBootKindStep();

  switch (e.m_nState) {
    case STATE_IDLE:
    case 1:  // 1, 2 and 4 are never set; they go the way of their neighbours
    case 2:
      if (m_nStep == IMAGE_PHONE_CODE && m_bChangeDownloader == 0) {
        // Every handset of the run is asked for its own boot version; the
        // reply handler accepts only "b1.01" as the answer to it.
        if (e.m_bBootVersionOk == 0) {
          e.m_nRetry = 0;
          e.m_comm.RequestBootVersion();
          e.m_bBootVersionAsked = 1;
          ArmTimer(i, TIMER_REQUEST, kRequestMs);
          return;
        }
        e.m_nState = STATE_VERSION_OK;
      }
      [[fallthrough]];
    case STATE_VERSION_OK:
      e.m_bBootVersionAsked = 0;
      ShowEntryProgress(i);
      if (e.m_bJumpSent == 0) {
        e.m_bJumpSent = 1;
        e.m_nRetry = 0;
        e.m_comm.RequestJump();
        ArmTimer(i, TIMER_REQUEST, kRequestMs);
        return;
      }
      e.m_nState = STATE_ERASING;
      [[fallthrough]];
    case 4:
    case STATE_ERASING:
      ShowElapsedTime();
      ShowEntryProgress(i);
      e.m_nState = bootKind ? STATE_BOOT_ERASE_SENT : STATE_FLASH_ERASE_SENT;
      // Every block holding image bytes is sent, the last one padded: the
      // tail of an image (a phone code's trailer) is never dropped.
      m_nTotalBlocks = static_cast<int>((static_cast<uint64_t>(m_nEraseLength) + BLOCK_SIZE - 1) / BLOCK_SIZE);
      if (m_nStep == IMAGE_PHONE_CODE || m_nStep == IMAGE_EFS_FILE || m_nStep == IMAGE_QBFS_FILE)
        e.m_comm.RequestErase(m_nEraseStart, m_nEraseLength, m_nEraseArg);
      else
        e.m_comm.RequestEraseExt(m_nEraseStart, m_nEraseLength, m_nEraseArg);
      e.m_eraseSentMs = m_host.ClockMs();
      ArmTimer(i, TIMER_ERASE, kEraseMs);
      return;

    case STATE_BOOT_ERASE_SENT:
      ShowEntryProgress(i);
      e.m_nState = STATE_BOOT_BLOCKS;
      PutLog(i, LOG_STATUS, "Boot Programming 중");
      if (e.m_nBlock >= m_nTotalBlocks) {
        EndBootStep(i);
        return;
      }
      if (SendEntryBlock(i)) e.m_nBlock += 1;
      ArmTimer(i, TIMER_BLOCK, kBlockMs);
      return;

    case STATE_BOOT_BLOCKS: {
      ShowElapsedTime();
      ShowEntryProgress(i);
      const int n = e.m_nBlock;
      // The reply to the last block that holds image bytes ends the step;
      // never before that reply, and never with a block past the end.
      if (n >= m_nTotalBlocks) {
        EndBootStep(i);
        return;
      }
      SendEntryBlock(i);
      ArmTimer(i, TIMER_BLOCK, kBlockMs);
      if (n == appBlocks && m_nStep != IMAGE_EFS_FILE && m_nStep != IMAGE_QBFS_FILE) {
        e.m_nState = STATE_FLASH_ERASE_SENT;
        PutLog(i, LOG_STATUS, "Boot Processing...잠시만 기다리세요");
      }
      e.m_nBlock = n + 1;
      return;
    }

    case STATE_FLASH_ERASE_SENT:
      ShowEntryProgress(i);
      ShowElapsedTime();
      e.m_nState = STATE_FLASH_BLOCKS;
      PutLog(i, LOG_STATUS, "Flash Programming 중");
      if (e.m_nBlock >= m_nTotalBlocks) {
        e.m_bFlashing = 1;
        EndFlashStep(i);
        return;
      }
      if (SendEntryBlock(i)) {
        e.m_nBlock += 1;
        e.m_bFlashing = 0;
      }
      ArmTimer(i, TIMER_BLOCK, kBlockMs);
      return;

    case STATE_FLASH_BLOCKS:
      e.m_bFlashing = 1;
      ShowElapsedTime();
      if (e.m_nBlock < m_nTotalBlocks) {
        if (SendEntryBlock(i)) e.m_nBlock += 1;
        ShowEntryProgress(i);
        ArmTimer(i, TIMER_BLOCK, kBlockMs);
        return;
      }
      EndFlashStep(i);
      return;

    case STATE_STEP_WAIT:
      return;

    case STATE_COMPLETE:
      if (e.m_nResult != RESULT_RUNNING) return;
      ShowEntryCompleted(i);
      g_efsFileList.lastIndex = 0;
      g_efsFileList.nextIndex = 0;
      PutLog(i, LOG_INFO, "Downloading Completed.");
      e.m_nResult = RESULT_COMPLETED;
      e.m_runEnd = std::chrono::system_clock::now();
      m_host.OnEntryResult(i);
      // The controls come back with the run's end, not with this entry's:
      // others may still await their reply to the jump.
      CheckRunEnded();
      return;

    default:
      return;
  }
}

int CVelmoraDlg::AliveCount() const {
  int alive = 0;
  for (const auto& e : m_entries)
    if (e.m_nComPort != 0 && e.m_bConnected == 1) ++alive;
  return alive;
}

bool CVelmoraDlg::AllAliveFinished() const {
  for (const auto& e : m_entries)
    if (e.m_nComPort != 0 && e.m_bConnected == 1 && e.m_nState != STATE_STEP_WAIT) return false;
  return true;
}

void CVelmoraDlg::EndBootStep(int i) {
  KillEntryTimer(i);
  m_nFinished += 1;
  m_entries[i].m_nState = STATE_STEP_WAIT;
  DropLostEntries();
  // Wait for every entry still in the run; one that left it is not waited
  // for (counting bound ports would wait for it forever).
  if (!AllAliveFinished()) {
    ShowEntryProgress(i);
    return;
  }
  CompleteStep(true);
}

void CVelmoraDlg::EndFlashStep(int i) {
  KillEntryTimer(i);
  m_nFinished += 1;
  m_nAlive = 0;
  m_entries[i].m_nState = STATE_STEP_WAIT;
  DropLostEntries();
  m_nAlive = AliveCount();
  if (!AllAliveFinished()) {
    ShowStepWaiting(i);
    return;
  }
  m_nFinished = 0;
  m_nAlive = 0;
  CompleteStep(false);
}

// Handsets differ: one still erasing (for seconds, up to the erase limit)
// or still waiting for a request's reply within its repeats when another
// has finished is on its way, and dropping it would leave it erased with
// nothing written. Only an entry that nothing can move on any more holds
// the step for ever.
void CVelmoraDlg::DropLostEntries() {
  bool dropped = false;
  const int outer = m_bInStepEnd;
  m_bInStepEnd = 1;
  for (int k = 0; k < MAX_ENTRIES; ++k) {
    DownloadEntry& e = m_entries[k];
    if (!InRun(e) || e.m_nState == STATE_STEP_WAIT || e.m_bTimerArmed) continue;
    // In every other state Disconnect shows the error itself.
    if (e.m_nState == STATE_IDLE || e.m_nState == STATE_COMPLETE) ShowEntryError(k);
    e.m_bRxThreadRunning = 0;
    PutLog(k, LOG_ERROR, "Unknown Error!");
    Disconnect(k);
    e.m_nComPort = 0;
    dropped = true;
  }
  m_bInStepEnd = outer;
  if (dropped) RefreshPortLabels();
}

void CVelmoraDlg::CompleteStep(bool bootKind) {
  m_bInStepEnd = 1;
  if (m_nStep == IMAGE_EFS_FILE) SelectNextEfsFile();
  m_nFinished = 0;
  m_nAlive = 0;
  if (!AdvanceStep()) {
    m_bInStepEnd = 0;
    StopRun("Download stopped: the next image could not be used.");
    return;
  }
  if (m_nStep != IMAGE_BOOTLOADER)
    RestartEntries(true);
  else
    FinalJump(!bootKind);
  m_bInStepEnd = 0;
}

void CVelmoraDlg::RestartEntries(bool withProgress) {
  for (int k = 0; k < MAX_ENTRIES; ++k) {
    DownloadEntry& e = m_entries[k];
    if (!InRun(e)) continue;
    e.m_nState = STATE_IDLE;
    e.ResetStepCounters();
    SendFirstRequest(k);
    if (withProgress) ShowEntryProgress(k);
    ArmTimer(k, TIMER_REQUEST, kRequestMs);
  }
}

void CVelmoraDlg::FinalJump(bool completedCaption) {
  for (int k = 0; k < MAX_ENTRIES; ++k) {
    DownloadEntry& e = m_entries[k];
    if (!InRun(e)) continue;
    e.m_bJumpSent = 0;
    e.m_nState = STATE_COMPLETE;
    e.m_nRetry = 0;
    e.m_comm.RequestJump();
    e.m_nBlock = 0;
    if (completedCaption)
      ShowEntryCompleted(k);
    else
      ShowEntryProgress(k);
    ArmTimer(k, TIMER_REQUEST, kFinalJumpMs);
  }
  // The box waits for the run's end, when every entry's outcome is known.
  if (completedCaption) m_bCompletionBox = 1;
}

void CVelmoraDlg::GiveUpEntry(int i, const std::string& reason) {
  DownloadEntry& e = m_entries[i];
  if (!reason.empty()) PutLog(i, LOG_ERROR, reason);
  KillEntryTimer(i);
  const bool inRun = m_bRunning && e.m_nResult == RESULT_RUNNING;
  if ((inRun || (e.m_nState != STATE_IDLE && e.m_nState != STATE_COMPLETE)) && e.m_nComPort != 0) {
    ShowEntryError(i);
    DrainLog(i, true);
    e.m_nComPort = 0;
    e.m_bConnected = 0;
  }
  e.m_pRxPacket = nullptr;
  e.m_nState = STATE_IDLE;
  RefreshPortLabels();
  if (inRun) LeaveRun(i);
}

std::string CVelmoraDlg::LastErrorLine(int i) const {
  const auto& log = m_entries[i].m_runLog;
  for (auto it = log.rbegin(); it != log.rend(); ++it)
    if (it->kind == LOG_ERROR) return it->text;
  return {};
}

void CVelmoraDlg::LeaveRun(int i) {
  DownloadEntry& e = m_entries[i];
  if (!m_bRunning || e.m_nResult != RESULT_RUNNING) return;
  e.m_nResult = RESULT_FAILED;
  // The line that says why is usually still queued.
  DrainLog(i, true);
  // A reason set on the way out (a box's text) stands; a port that went
  // away says nothing in the log unless its receive thread did.
  if (e.m_strReason.empty()) e.m_strReason = LastErrorLine(i);
  if (e.m_strReason.empty()) e.m_strReason = "USB 연결 상태를 확인하세요.";
  e.m_runEnd = std::chrono::system_clock::now();
  m_host.OnEntryResult(i);
  ShowEntryError(i);
  AfterEntryLeft();
}

void CVelmoraDlg::AfterEntryLeft() {
  if (m_bInStepEnd) return;
  // Entries waiting at the rendezvous would otherwise wait for this one.
  bool anyWaiting = false;
  for (const auto& e : m_entries)
    if (InRun(e) && e.m_nState == STATE_STEP_WAIT) anyWaiting = true;
  if (anyWaiting && AllAliveFinished()) CompleteStep(IsBootKindStep());
  CheckRunEnded();
}

void CVelmoraDlg::CheckRunEnded() {
  if (!m_bRunning) return;
  for (const auto& e : m_entries)
    if (e.m_nResult == RESULT_RUNNING) return;
  m_bRunning = 0;
  if (m_bEfs2 == 1 && g_efsFileList.lastIndex > 1) {
    // A run that did not get through the EFS2 files starts them afresh next
    // time instead of in the middle of the list.
    g_efsFileList.nextIndex = 0;
    SelectNextEfsFile();
  }
  EnableControls(1);
  EndRun(m_bCompletionBox == 1);
}

void CVelmoraDlg::StopRun(const std::string& reason) {
  for (int k = 0; k < MAX_ENTRIES; ++k) {
    DownloadEntry& e = m_entries[k];
    if (e.m_nResult != RESULT_RUNNING) continue;
    KillEntryTimer(k);
    e.m_nState = STATE_IDLE;
    PutLog(k, LOG_ERROR, reason);
    DrainLog(k, true);
    e.m_nResult = RESULT_FAILED;
    e.m_strReason = reason;
    e.m_runEnd = std::chrono::system_clock::now();
    m_host.OnEntryResult(k);
    ShowEntryError(k);
  }
  m_nStep = IMAGE_BOOTLOADER;
  m_bRunning = 0;
  EnableControls(1);
  EndRun(false);
}

void CVelmoraDlg::OnEntryTimer(int i) {
  if (i < 0 || i >= MAX_ENTRIES) return;
  DownloadEntry& e = m_entries[i];
  KillEntryTimer(i);
  if (e.m_nTimerType == TIMER_GUARD) {
    // No second reply came (or it was absorbed): the next unit may go.
    Advance(i);
    return;
  }
  if (e.m_nTimerType != TIMER_ERASE) e.m_nRetry += 1;
  if ((e.m_nTimerType == TIMER_REQUEST || e.m_nTimerType == TIMER_BLOCK) && e.m_nRetry < kMaxTimerExpiries) {
    if (InBlockTransfer(i)) {
      char text[64];
      std::snprintf(text, sizeof text, "No response, retry at 0x%x",
                    static_cast<unsigned>(m_nBaseOffset + static_cast<uint32_t>(e.m_nBlock - 1) * BLOCK_SIZE));
      PutLog(i, LOG_INFO, text);
      SendRetryMarker(i);
    } else {
      ResendRequest(i);
    }
    e.m_nRetries += 1;
    ArmTimer(i, e.m_nTimerType, e.m_nTimerMs);
  } else if (e.m_nTimerType == TIMER_ERASE) {
    ShowElapsedTime();
    // An erase that is never answered would hold the whole step: the other
    // entries wait for this one at the step's end.
    if (m_host.ClockMs() - e.m_eraseSentMs >= static_cast<uint32_t>(m_nEraseLimitS) * 1000u)
      GiveUpEntry(i, "응답없음. 처음부터 다시 해주시기 바랍니다.");
    else
      ArmTimer(i, TIMER_ERASE, kEraseMs);
  } else if (e.m_nTimerType == TIMER_REQUEST) {
    e.m_nRetry = 0;
    // A handset that answers none of three requests will not answer a
    // fourth: give it up so the rest of the run can end.
    GiveUpEntry(i, "응답이 없습니다.");
  } else {
    GiveUpEntry(i, "응답없음. 처음부터 다시 해주시기 바랍니다.");
  }
}
