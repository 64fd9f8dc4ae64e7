#include "sim/SimProtocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/SimFraming.h"
#include "sim/SimRequestScanner.h"

namespace {

constexpr char kGoodVersion[6] = "b1.01";
constexpr char kOldVersion[6] = "b1.00";

// The tool's receive thread takes two frames that arrive in one read as one
// body, and its burst ends after 5 ms of quiet. A chattering handset keeps
// this much quiet between a stray and a real reply, so that even a tool
// whose thread runs late reads each alone: strays that swallowed a real
// reply would turn a handset that otherwise answers into one that does not.
constexpr uint64_t kQuietGapMs = 50;
// How long after the late reply the repeat's reply follows: the handset's
// turn from one request to the next, long enough that the two reach the
// tool in reads of their own.
constexpr uint64_t kRepeatTurnaroundMs = 10;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

std::string Hex(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", v & 0xFF);
  return text;
}

// A NUL-terminated name in a fixed field; a field without NUL is taken whole.
std::string FieldText(const uint8_t* p, size_t size) {
  const void* nul = std::memchr(p, 0, size);
  const size_t n = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - p) : size;
  return std::string(reinterpret_cast<const char*>(p), n);
}

}  // namespace

CSimProtocol::CSimProtocol(const SimHandsetConfig& config) : m_config(config) {
  for (const auto& f : config.faults) AddFault(f);
}

void CSimProtocol::AddFault(const SimFault& fault) {
  const bool always = fault.times <= 0 || fault.kind == SimFaultKind::Dead || fault.kind == SimFaultKind::Hostile;
  m_faults.push_back({fault, always ? -1 : fault.times});
}

bool CSimProtocol::TakeFault(SimFaultKind kind, int arg, SimFault* fired) {
  for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
    if (it->fault.kind != kind) continue;
    const bool argless = kind == SimFaultKind::OldBoot || kind == SimFaultKind::RefuseJump;
    if (!argless && it->fault.arg != arg) continue;
    if (fired) *fired = it->fault;
    if (it->remaining > 0 && --it->remaining == 0) m_faults.erase(it);
    ++m_record.faultsFired;
    return true;
  }
  return false;
}

bool CSimProtocol::HasFault(SimFaultKind kind) const {
  for (const auto& f : m_faults)
    if (f.fault.kind == kind) return true;
  return false;
}

int CSimProtocol::ChatterMs() const {
  for (const auto& f : m_faults)
    if (f.fault.kind == SimFaultKind::Chatter) return f.fault.arg;
  return 0;
}

void CSimProtocol::Violation(std::string text) { m_record.violations.push_back(std::move(text)); }

// A reply held back is still owed: a tool that sends its next unit before
// it came has taken another reply for it, and will take this one for the
// next unit. Once per held reply; whatever follows is the same mistake.
void CSimProtocol::CheckNothingOwed() {
  for (HeldReply& h : m_late) {
    if (h.noted) continue;
    h.noted = true;
    Violation(std::string(sim::kEarlySend) + " (the reply to " + Hex(h.request[0]) + " was still owed)");
  }
}

void CSimProtocol::Reply(std::vector<uint8_t> frame) {
  if (m_bDropReply) {
    m_bDropReply = false;
    m_nHoldMs = 0;
    return;
  }
  if (m_nHoldMs > 0) {
    m_late.push_back({m_nowMs + m_nHoldMs, std::move(frame), m_holdFor, false});
    m_nHoldMs = 0;
    return;
  }
  Emit(std::move(frame));
}

void CSimProtocol::Emit(std::vector<uint8_t> frame) {
  if (m_bStrayDue || m_nowMs < m_realHoldUntilMs || !m_gated.empty()) {
    m_gated.insert(m_gated.end(), frame.begin(), frame.end());
  } else {
    m_out.insert(m_out.end(), frame.begin(), frame.end());
    m_bAnyReal = true;
    m_lastRealMs = m_nowMs;
  }
  m_record.replies.push_back(std::move(frame));
}

void CSimProtocol::ReleaseTimed(uint64_t nowMs) {
  for (auto it = m_late.begin(); it != m_late.end();) {
    if (nowMs < it->dueMs) {
      ++it;
      continue;
    }
    std::vector<uint8_t> frame = std::move(it->frame);
    it = m_late.erase(it);
    Emit(std::move(frame));
  }
  const int period = ChatterMs();
  if (period > 0 && m_bLineUsed) {
    if (!m_bStrayDue && nowMs >= m_nextStrayMs) {
      m_bStrayDue = true;
      m_strayAtMs = m_bAnyReal ? std::max(nowMs, m_lastRealMs + kQuietGapMs) : nowMs;
    }
    if (m_bStrayDue && nowMs >= m_strayAtMs) {
      std::vector<uint8_t> frame = m_nStrayTurn++ % 2 == 0 ? sim::IgnoredFrame() : sim::UnknownCodeFrame();
      m_stray.insert(m_stray.end(), frame.begin(), frame.end());
      m_record.replies.push_back(std::move(frame));
      if (m_record.strays++ == 0) ++m_record.faultsFired;
      m_bStrayDue = false;
      m_realHoldUntilMs = nowMs + kQuietGapMs;
      m_nextStrayMs = nowMs + static_cast<uint64_t>(period);
    }
  } else {
    m_bStrayDue = false;  // the chatter was cleared
  }
  if (!m_bStrayDue && nowMs >= m_realHoldUntilMs && !m_gated.empty()) {
    m_out.insert(m_out.end(), m_gated.begin(), m_gated.end());
    m_gated.clear();
    m_bAnyReal = true;
    m_lastRealMs = nowMs;
  }
}

void CSimProtocol::Ack(uint8_t code) {
  Reply(TakeFault(SimFaultKind::BadAck, code) ? sim::DamagedAckFrame() : sim::AckFrame());
}

std::vector<uint8_t> CSimProtocol::TakeOutput() {
  std::vector<uint8_t> out;
  out.swap(m_out);
  return out;
}

std::vector<uint8_t> CSimProtocol::TakeStray() {
  std::vector<uint8_t> out;
  out.swap(m_stray);
  return out;
}

void CSimProtocol::Feed(const uint8_t* data, size_t n, uint64_t nowMs, bool replyInFlight) {
  if (n == 0 || m_bHangUp) return;
  m_nowMs = nowMs;
  if (!m_bLineUsed) {
    m_bLineUsed = true;
    m_nextStrayMs = nowMs + static_cast<uint64_t>(ChatterMs());
  }
  if (m_bErasePending || replyInFlight || !m_gated.empty()) {
    if (!m_bBusyNoted) Violation(sim::kEarlySend);
    m_bBusyNoted = true;
  } else {
    m_bBusyNoted = false;
  }
  m_rx.insert(m_rx.end(), data, data + n);
  m_lastRxMs = nowMs;
  m_bStaleSeen = false;
  Process(nowMs);
}

void CSimProtocol::Tick(uint64_t nowMs) {
  if (m_bHangUp) return;
  m_nowMs = nowMs;
  if (m_bErasePending && nowMs >= m_eraseDueMs) {
    FinishErase();
    Process(nowMs);
  }
  if (!m_bErasePending && !m_rx.empty() && !m_bStaleSeen && nowMs >= m_lastRxMs + m_config.staleMs) {
    m_bStaleSeen = true;
    TryStaleInput();
    Process(nowMs);
  }
  ReleaseTimed(nowMs);
}

int64_t CSimProtocol::NextDeadline() const {
  if (m_bHangUp) return -1;
  int64_t next = -1;
  auto consider = [&next](uint64_t ms) {
    if (next < 0 || static_cast<int64_t>(ms) < next) next = static_cast<int64_t>(ms);
  };
  if (m_bErasePending) consider(m_eraseDueMs);
  else if (!m_rx.empty() && !m_bStaleSeen) consider(m_lastRxMs + m_config.staleMs);
  for (const HeldReply& h : m_late) consider(h.dueMs);
  if (ChatterMs() > 0 && m_bLineUsed) consider(m_bStrayDue ? m_strayAtMs : m_nextStrayMs);
  if (!m_gated.empty() && !m_bStrayDue) consider(m_realHoldUntilMs);
  return next;
}

void CSimProtocol::TryStaleInput() {
  if (m_bDataMode) {
    // A tool that gave a transfer up starts over with a request; a handset
    // that waited for the rest of a block forever would never hear it.
    const sim::SimScan scan = sim::ScanRequest(m_rx.data(), m_rx.size());
    if (scan.kind == sim::SimScan::Frame) {
      m_bDataMode = false;
      m_bRepeatNext = false;
      // A repeat of the last block asked for and not sent leaves a transfer
      // that was already done.
      if (!m_bTailOpen) ++m_record.abandoned;
      m_bTailOpen = false;
    }
    return;
  }
  Violation("unfinished frame dropped (" + std::to_string(m_rx.size()) + " bytes)");
  m_rx.clear();
}

void CSimProtocol::Process(uint64_t nowMs) {
  size_t pos = 0;
  while (!m_bHangUp && !m_bErasePending && pos < m_rx.size()) {
    if (m_bDataMode) {
      if (m_rx.size() - pos < sim::kBlockSize) break;
      HandleBlock(m_rx.data() + pos);
      pos += sim::kBlockSize;
      continue;
    }
    if (m_bTailOpen && m_rx[pos] != sim::kFlag && m_rx[pos] != sim::kFlag2) {
      if (m_rx.size() - pos < sim::kBlockSize) break;
      if (sim::IsRetryMarker(m_rx.data() + pos)) {
        m_bDataMode = true;
        continue;
      }
    }
    const sim::SimScan scan = sim::ScanRequest(m_rx.data() + pos, m_rx.size() - pos);
    if (scan.kind == sim::SimScan::Incomplete) break;
    m_bTailOpen = false;
    pos += scan.consumed;
    if (scan.kind == sim::SimScan::Garbage) {
      if (!m_bInGarbage) Violation(scan.problem);
      m_bInGarbage = true;
      continue;
    }
    m_bInGarbage = false;
    if (scan.kind == sim::SimScan::BadFrame) {
      Violation(scan.problem);
      continue;
    }
    HandleRequest(scan.request, nowMs);
  }
  m_rx.erase(m_rx.begin(), m_rx.begin() + static_cast<std::ptrdiff_t>(pos));
  if (m_rx.empty()) m_bStaleSeen = false;
}

void CSimProtocol::HandleRequest(const std::vector<uint8_t>& req, uint64_t nowMs) {
  m_record.requests.push_back(req);
  // A repeat of a request whose reply is held back is carried out after the
  // original, as a handset that takes its requests in turn does: the tool
  // gets two replies for it, the second close behind the first.
  uint64_t heldDueMs = 0;
  for (const HeldReply& h : m_late)
    if (h.request == req) heldDueMs = std::max(heldDueMs, h.dueMs);
  const bool repeat = heldDueMs != 0;
  if (!repeat) CheckNothingOwed();
  const uint8_t code = req[0];
  const size_t len = req.size();
  size_t want = 0;
  switch (code) {
    case 0xA0: case 0xA5: case 0xA6: case 0xAA: case 0xC0: want = 1; break;
    case 0xAB: want = 5; break;
    case 0xAD: want = 99; break;
    case 0xEE: case 0xEF: want = 13; break;
    default: break;
  }
  if (code == 0xC0) ++m_record.jumps;
  if (want == 0) Violation("unknown request " + Hex(code));
  else if (len != want) Violation("request " + Hex(code) + " of " + std::to_string(len) + " bytes");
  if (HasFault(SimFaultKind::Dead)) return;
  // An erase's reply comes when the erase ends; the flag waits for it.
  m_bDropReply = TakeFault(SimFaultKind::LoseReply, code);
  SimFault late;
  if (repeat)
    m_nHoldMs = static_cast<uint32_t>(heldDueMs + kRepeatTurnaroundMs - nowMs);
  else
    m_nHoldMs = TakeFault(SimFaultKind::LateReply, code, &late) ? static_cast<uint32_t>(late.ms) : 0;
  m_holdFor = req;
  if (want == 0 || len != want) {
    Reply(sim::NakInvalidFrame());
    return;
  }
  switch (code) {
    case 0xAB:
      Reply(sim::VersionFrame(TakeFault(SimFaultKind::OldBoot, 0) ? kOldVersion : kGoodVersion));
      break;
    case 0xAD:
      m_record.efsNames.push_back({FieldText(&req[1], 48), FieldText(&req[49], 50)});
      Ack(code);
      break;
    case 0xC0:
      if (TakeFault(SimFaultKind::RefuseJump, 0)) Reply(sim::NakInvalidFrame());
      else Ack(code);
      break;
    case 0xEE: case 0xEF:
      StartErase(req, nowMs);
      break;
    default:
      Ack(code);
      break;
  }
}

void CSimProtocol::StartErase(const std::vector<uint8_t>& req, uint64_t nowMs) {
  SimErase e;
  e.code = req[0];
  e.start = Le32(&req[1]);
  e.length = Le32(&req[5]);
  e.start2 = Le32(&req[9]);
  if (static_cast<uint64_t>(e.start) + e.length > m_config.flashBytes) {
    char text[96];
    std::snprintf(text, sizeof text, "erase 0x%X+0x%X reaches past the flash", e.start, e.length);
    Violation(text);
    Reply(sim::NakFailedFrame());
    return;
  }
  m_pendingErase = e;
  m_bErasePending = true;
  m_eraseDueMs = nowMs + m_config.eraseDelayMs;
  if (m_config.eraseDelayMs == 0) FinishErase();
}

void CSimProtocol::FinishErase() {
  m_bErasePending = false;
  m_bBusyNoted = false;
  const SimErase& e = m_pendingErase;
  m_record.erases.push_back(e);
  m_record.flash.Fill(e.start, e.length, 0xFF);
  Ack(e.code);
  m_nExpected = (static_cast<int64_t>(e.length) + static_cast<int64_t>(sim::kBlockSize) - 1) /
                static_cast<int64_t>(sim::kBlockSize);
  m_bDataMode = m_nExpected > 0;
  m_dataStart = e.start;
  m_nWritten = 0;
  m_bRepeatNext = false;
  m_nLastIdx = -1;
  m_bLastAcked = false;
  m_bTailOpen = false;
}

void CSimProtocol::HandleBlock(const uint8_t* block) {
  CheckNothingOwed();
  if (sim::IsRetryMarker(block)) {
    ++m_record.markers;
    // A marker asks again for the block that was not acknowledged; after an
    // acknowledged one the tool evidently missed the ACK and repeats that.
    m_nRepeatIdx = (m_bLastAcked && m_nLastIdx >= 0) ? m_nLastIdx : m_nWritten;
    m_bRepeatNext = true;
    Reply(sim::ResendAckFrame());
    return;
  }
  const int64_t idx = m_bRepeatNext ? m_nRepeatIdx : m_nWritten;
  const int arg = static_cast<int>(idx);
  m_bRepeatNext = false;
  ++m_record.blocksReceived;
  m_nLastIdx = idx;
  m_bLastAcked = false;
  if (TakeFault(SimFaultKind::HangUp, arg)) {
    m_bHangUp = true;
    return;
  }
  if (HasFault(SimFaultKind::Hostile)) {
    Reply(sim::ResendAckFrame());
    return;
  }
  if (TakeFault(SimFaultKind::Silence, arg)) return;
  if (TakeFault(SimFaultKind::NakRetry, arg)) {
    Reply(sim::NakRetryFrame());
    return;
  }
  if (TakeFault(SimFaultKind::NakFailed, arg)) {
    Reply(sim::NakFailedFrame());
    return;
  }
  if (TakeFault(SimFaultKind::BadNakFailed, arg)) {
    Reply(sim::DamagedNakFailedFrame());
    return;
  }
  m_record.flash.Write(m_dataStart + static_cast<uint32_t>(idx) * static_cast<uint32_t>(sim::kBlockSize), block,
                       static_cast<uint32_t>(sim::kBlockSize));
  ++m_record.blocksWritten;
  if (idx == m_nWritten) ++m_nWritten;
  m_bLastAcked = true;
  if (TakeFault(SimFaultKind::Garble, arg)) {
    std::vector<uint8_t> cut = sim::AckFrame();
    cut.pop_back();
    Reply(std::move(cut));
  } else {
    Reply(sim::AckFrame());
  }
  if (m_nWritten >= m_nExpected) {
    m_bDataMode = false;
    if (!m_bTailOpen) ++m_record.transfersDone;
    m_bTailOpen = true;
  }
}
