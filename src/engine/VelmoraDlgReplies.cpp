// What a handset's reply does: accepted replies advance the state machine,
// refusals and damaged replies are retried or end the entry's run.
#include <cstring>

#include "EngineTimers.h"
#include "link/Trace.h"
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
  RunEntry& r = Run(i);
  CDloadFile::FillMarkerBlock(r.m_blockReq);
  IgnoreSendResult(m_entries[i].m_comm.SendBlock(r.m_blockReq));
  r.m_bMarkerSent = 1;
  r.m_bRepeated = 1;
}

void CVelmoraDlg::ResendRequest(int i) {
  m_entries[i].m_comm.Resend();
  Run(i).m_bRepeated = 1;
}

void CVelmoraDlg::RetryEntry(int i) {
  if (InDataState(i))
    SendRetryMarker(i);
  else
    ResendRequest(i);
  Run(i).m_nRetries += 1;
}

bool CVelmoraDlg::RetryAfterRefusal(int i, const char* logText) {
  if (!CountRefusal(i)) return false;
  RetryEntry(i);
  ArmTimer(i, TIMER_BLOCK, kBlockMs);
  if (logText) PutLog(i, LOG_INFO, logText);
  return false;
}

bool CVelmoraDlg::CountRefusal(int i) {
  RunEntry& r = Run(i);
  if (++r.m_nRefusals < kMaxRefusals) return true;
  r.m_nRefusals = 0;
  GiveUpEntry(i, EntryCause::TooManyRefusals);
  return false;
}

intptr_t CVelmoraDlg::OnEntryPacket(int i) {
  if (i < 0 || i >= MAX_ENTRIES || !m_entryRun[i]) return 1;
  RunEntry& r = Run(i);
  // A reply for an entry outside a run (idle, completed, given up) must not
  // start requests of its own.
  if (r.m_nResult != RESULT_RUNNING) return 1;
  // The second reply to a unit that went out twice: taken for the reply to
  // the next unit, it would put the tool one unit ahead of the handset.
  if (r.m_bTimerArmed && r.m_nTimerType == TIMER_GUARD) {
    Trace("Entry " + std::to_string(i + 1) + ": a second reply to a repeated unit absorbed\n");
    return 1;
  }
  m_entries[i].m_comm.CopyPacket(r.m_rxCopy);
  r.m_pRxPacket = r.m_rxCopy;
  // The timer runs on through a reply that answers nothing: only an answer
  // may end or extend the wait for one.
  if (!HandleResponse(i)) return 1;
  r.m_nRefusals = 0;
  KillEntryTimer(i);
  if (r.m_bRepeated) {
    r.m_bRepeated = 0;
    ArmTimer(i, TIMER_GUARD, kRepeatGuardMs + m_entries[i].m_comm.RxSettleMs());
    return 1;
  }
  Advance(i);
  return 1;
}

// A reply that answers nothing leaves the entry waiting as before, under the
// timer and the deadline it was waiting with (OnEntryPacket): each handler
// below returns false for it without arming anything.
bool CVelmoraDlg::HandleResponse(int i) {
  RunEntry& r = Run(i);
  if (!r.m_pRxPacket) return false;
  const uint8_t code = r.m_pRxPacket[0];
  if (code == ACK && r.m_bMarkerSent == 0) return HandleAck(i);
  if (code == RESEND_ACK && r.m_bMarkerSent == 1) return HandleResendAck(i);
  switch (code) {
    case VERSION_RSP:
      return HandleVersion(i);
    case NAK_RETRY:
      return RetryAfterRefusal(i, nullptr);
    case NAK_INVALID_CMD:
      return HandleInvalidCommand(i);
    case NAK_FAILED:
      if (r.m_pRxPacket[1] == NAK_FAILED_TAIL[0] && r.m_pRxPacket[2] == NAK_FAILED_TAIL[1]) {
        PutLog(i, LOG_ERROR, EntryCauseText(EntryCause::FlashError));
        DisconnectWith(i, EntryCause::FlashError);
        return false;
      }
      return RetryAfterRefusal(i, "NAK_FAILED, but crc error. Retry");
    case RSP_IGNORED:
    case ACK:         // while a marker is outstanding
    case RESEND_ACK:  // without one
      return false;
    default:
      PutLog(i, LOG_ERROR, "Unknown error!!");
      return false;
  }
}

bool CVelmoraDlg::HandleAck(int i) {
  RunEntry& r = Run(i);
  if (InDataState(i)) return true;
  if (r.m_pRxPacket[1] == ACK_FCS[0] && r.m_pRxPacket[2] == ACK_FCS[1]) {
    if (r.m_bBootVersionAsked == 0) return true;
    // An ACK (a late answer to a repeated request) is no version: the
    // handset is still to be checked.
    CountRefusal(i);
    return false;
  }
  if (!CountRefusal(i)) return false;
  ResendRequest(i);
  r.m_nRetries += 1;
  PutLog(i, LOG_INFO, "ACK, but crc error. Retry.");
  ArmTimer(i, TIMER_BLOCK, kBlockMs);
  return false;
}

bool CVelmoraDlg::HandleResendAck(int i) {
  RunEntry& r = Run(i);
  if (r.m_pRxPacket[1] == RESEND_ACK_TAIL[0] && r.m_pRxPacket[2] == RESEND_ACK_TAIL[1]) {
    PutLog(i, LOG_INFO, "재전송 ACK 받음");
    IgnoreSendResult(m_entries[i].m_comm.SendBlock(r.m_lastBlock));
    r.m_bMarkerSent = 0;
    ArmTimer(i, TIMER_BLOCK, kBlockMs);
    return false;
  }
  PutLog(i, LOG_ERROR, "Unknown Error!");
  return false;
}

bool CVelmoraDlg::HandleVersion(int i) {
  RunEntry& r = Run(i);
  // A version nobody asked this handset for answers nothing.
  if (r.m_bBootVersionAsked == 0) return false;
  r.m_bBootVersionAsked = 0;
  char version[kVersionLength + 1] = {};
  std::memcpy(version, r.m_pRxPacket + 1, kVersionLength);
  PutLog(i, LOG_INFO, std::string("Version: ") + version);
  PutLog(i, LOG_INFO, "------------------");
  if (std::strcmp(version, kAcceptedBootVersion) == 0) {
    r.m_bBootVersionOk = 1;
    return true;
  }
  m_host.MessageBox(EntryCauseText(EntryCause::WrongBootVersion), MB_OK);
  GiveUpEntry(i, EntryCause::WrongBootVersion, false);
  return false;
}

bool CVelmoraDlg::HandleInvalidCommand(int i) {
  RunEntry& r = Run(i);
  if (r.m_bBootVersionAsked == 1) {
    m_host.MessageBox(EntryCauseText(EntryCause::VersionRefused), MB_OK);
    GiveUpEntry(i, EntryCause::VersionRefused, false);
    return false;
  }
  if (r.m_pRxPacket[1] == NAK_INVALID_CMD_TAIL[0] && r.m_pRxPacket[2] == NAK_INVALID_CMD_TAIL[1]) {
    if (r.m_nState == STATE_VERSION_OK) {
      PutLog(i, LOG_ERROR, "version check failed(maybe old boot version)..continue..");
      return true;
    }
    PutLog(i, LOG_ERROR, EntryCauseText(EntryCause::InvalidCommand));
    DisconnectWith(i, EntryCause::InvalidCommand);
    return false;
  }
  return RetryAfterRefusal(i, "NAK_INVALID_CMD, but crc error. Retry");
}
