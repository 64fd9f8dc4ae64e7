// What a handset's reply does: accepted replies advance the state machine,
// refusals and damaged replies are retried or end the entry's run.
#include <cstring>

#include "EngineTimers.h"
#include "comm/Trace.h"
#include "VelmoraDlg.h"

namespace {
// The one boot version this tool can write to: any other boot code expects
// another download protocol.
constexpr char kAcceptedBootVersion[] = "b1.01";
constexpr int kVersionLength = 5;  // the characters after the reply code
// A handset that answers every repetition with another refusal or damaged
// reply would otherwise be asked again forever, each answer restarting the
// timer that is meant to end the exchange.
constexpr int kMaxRefusals = 10;
}  // namespace

void CVelmoraDlg::SendRetryMarker(int i) {
  DownloadEntry& e = m_entries[i];
  CDloadFile::FillMarkerBlock(e.m_blockReq);
  e.m_comm.SendBlock(e.m_blockReq);
  e.m_bMarkerSent = 1;
  e.m_bRepeated = 1;
}

void CVelmoraDlg::ResendRequest(int i) {
  m_entries[i].m_comm.Resend();
  m_entries[i].m_bRepeated = 1;
}

void CVelmoraDlg::RetryEntry(int i) {
  if (InDataState(i))
    SendRetryMarker(i);
  else
    ResendRequest(i);
  m_entries[i].m_nRetries += 1;
}

bool CVelmoraDlg::RetryAfterRefusal(int i, const char* logText) {
  if (!CountRefusal(i)) return false;
  RetryEntry(i);
  ArmTimer(i, TIMER_BLOCK, kBlockMs);
  if (logText) PutLog(i, LOG_INFO, logText);
  return false;
}

bool CVelmoraDlg::CountRefusal(int i) {
  DownloadEntry& e = m_entries[i];
  if (++e.m_nRefusals < kMaxRefusals) return true;
  e.m_nRefusals = 0;
  GiveUpEntry(i, "재시도 횟수 초과. 처음부터 다시 해주시기 바랍니다.");
  return false;
}

intptr_t CVelmoraDlg::OnEntryPacket(int i) {
  if (i < 0 || i >= MAX_ENTRIES) return 1;
  DownloadEntry& e = m_entries[i];
  // A reply for an entry outside a run (idle, completed, given up) must not
  // start requests of its own.
  if (e.m_nResult != RESULT_RUNNING) return 1;
  // The second reply to a unit that went out twice: taken for the reply to
  // the next unit, it would put the tool one unit ahead of the handset.
  if (e.m_bTimerArmed && e.m_nTimerType == TIMER_GUARD) {
    Trace("Entry " + std::to_string(i + 1) + ": a second reply to a repeated unit absorbed\n");
    return 1;
  }
  e.m_comm.CopyPacket(e.m_rxCopy);
  e.m_pRxPacket = e.m_rxCopy;
  // The timer runs on through a reply that answers nothing: only an answer
  // may end or extend the wait for one.
  if (!HandleResponse(i)) return 1;
  e.m_nRefusals = 0;
  KillEntryTimer(i);
  if (e.m_bRepeated) {
    e.m_bRepeated = 0;
    ArmTimer(i, TIMER_GUARD, kRepeatGuardMs + e.m_comm.RxSettleMs());
    return 1;
  }
  Advance(i);
  return 1;
}

bool CVelmoraDlg::HandleResponse(int i) {
  DownloadEntry& e = m_entries[i];
  if (!e.m_pRxPacket) return false;
  const uint8_t code = e.m_pRxPacket[0];
  const uint8_t b1 = e.m_pRxPacket[1];
  const uint8_t b2 = e.m_pRxPacket[2];
  // A reply that answers nothing leaves the entry waiting as before, under
  // the timer and the deadline it was waiting with (OnEntryPacket).

  if (code == ACK && e.m_bMarkerSent == 0) {
    if (InDataState(i)) return true;
    if (b1 == ACK_FCS[0] && b2 == ACK_FCS[1]) {
      if (e.m_bBootVersionAsked == 0) return true;
      // An ACK (a late answer to a repeated request) is no version: the
      // handset is still to be checked.
      CountRefusal(i);
      return false;
    }
    if (!CountRefusal(i)) return false;
    ResendRequest(i);
    e.m_nRetries += 1;
    PutLog(i, LOG_INFO, "ACK, but crc error. Retry.");
    ArmTimer(i, TIMER_BLOCK, kBlockMs);
    return false;
  }
  if (code == RESEND_ACK && e.m_bMarkerSent == 1) {
    if (b1 == RESEND_ACK_TAIL[0] && b2 == RESEND_ACK_TAIL[1]) {
      PutLog(i, LOG_INFO, "재전송 ACK 받음");
      e.m_comm.SendBlock(e.m_lastBlock);
      e.m_bMarkerSent = 0;
      ArmTimer(i, TIMER_BLOCK, kBlockMs);
      return false;
    }
    PutLog(i, LOG_ERROR, "Unknown Error!");
    return false;
  }
  switch (code) {
    case VERSION_RSP: {
      // A version nobody asked this handset for answers nothing.
      if (e.m_bBootVersionAsked == 0) return false;
      e.m_bBootVersionAsked = 0;
      char version[kVersionLength + 1] = {};
      std::memcpy(version, e.m_pRxPacket + 1, kVersionLength);
      PutLog(i, LOG_INFO, std::string("Version: ") + version);
      PutLog(i, LOG_INFO, "------------------");
      if (std::strcmp(version, kAcceptedBootVersion) == 0) {
        e.m_bBootVersionOk = 1;
        return true;
      }
      m_host.MessageBox("version이 다릅니다.다른 tool을 이용하세요.", MB_OK);
      e.m_strReason = "version이 다릅니다.다른 tool을 이용하세요.";
      GiveUpEntry(i, "");
      return false;
    }
    case NAK_RETRY:
      return RetryAfterRefusal(i, nullptr);
    case RSP_IGNORED:
      return false;
    case NAK_INVALID_CMD:
      if (e.m_bBootVersionAsked == 1) {
        m_host.MessageBox("버젼 정보 요청을 할 수 없습니다.(Invalid command)", MB_OK);
        e.m_strReason = "버젼 정보 요청을 할 수 없습니다.(Invalid command)";
        GiveUpEntry(i, "");
        return false;
      }
      if (b1 == NAK_INVALID_CMD_TAIL[0] && b2 == NAK_INVALID_CMD_TAIL[1]) {
        if (e.m_nState == STATE_VERSION_OK) {
          PutLog(i, LOG_ERROR, "version check failed(maybe old boot version)..continue..");
          return true;
        }
        PutLog(i, LOG_ERROR, "Invalid command!!");
        Disconnect(i);
        return false;
      }
      return RetryAfterRefusal(i, "NAK_INVALID_CMD, but crc error. Retry");
    case NAK_FAILED:
      if (b1 == NAK_FAILED_TAIL[0] && b2 == NAK_FAILED_TAIL[1]) {
        PutLog(i, LOG_ERROR, "Flash error!!");
        Disconnect(i);
        return false;
      }
      return RetryAfterRefusal(i, "NAK_FAILED, but crc error. Retry");
    case ACK:
    case RESEND_ACK:
      // An ACK while a marker is outstanding, or a RESEND_ACK without one.
      return false;
    default:
      PutLog(i, LOG_ERROR, "Unknown error!!");
      return false;
  }
}
