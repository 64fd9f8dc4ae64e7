// The handset's download-mode behaviour without any I/O: bytes and the time
// go in, reply bytes come out. CSimHandset drives it from a pty; tests can
// drive it with a clock of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/SimConfig.h"
#include "sim/SimRecord.h"

class CSimProtocol {
 public:
  explicit CSimProtocol(const SimHandsetConfig& config);

  /// Takes `n` bytes that arrived at `nowMs`. `replyInFlight` says that an
  /// earlier reply has not fully left yet (the tool is sending too early).
  void Feed(const uint8_t* data, size_t n, uint64_t nowMs, bool replyInFlight);

  /// Lets time pass: finishes a due erase, looks at stale partial input.
  void Tick(uint64_t nowMs);

  /// The time at which Tick has work to do, or -1 when nothing waits.
  int64_t NextDeadline() const;

  /// The reply bytes produced since the last call.
  std::vector<uint8_t> TakeOutput();
  /// The stray bytes (chatter) produced since the last call. They answer
  /// nothing, so the tool sending while they cross is no early send.
  std::vector<uint8_t> TakeStray();

  /// True once a hang-up fault fired; the line is to be closed.
  bool HangUpWanted() const { return m_bHangUp; }

  /// True while raw blocks are expected.
  bool InDataMode() const { return m_bDataMode; }

  /// Adds a fault; it applies from the next byte on.
  void AddFault(const SimFault& fault);
  /// Removes every fault.
  void ClearFaults() { m_faults.clear(); }
  /// Delay of erases that start from now on.
  void SetEraseDelayMs(uint32_t ms) { m_config.eraseDelayMs = ms; }

  const SimRecord& Record() const { return m_record; }
  SimRecord& Record() { return m_record; }

 private:
  struct ArmedFault {
    SimFault fault;
    int remaining;  // -1: every time
  };

  struct HeldReply {
    uint64_t dueMs;
    std::vector<uint8_t> frame;
    std::vector<uint8_t> request;  // what it answers
    bool noted = false;            // an early send was recorded against it
  };

  bool TakeFault(SimFaultKind kind, int arg, SimFault* fired = nullptr);
  bool HasFault(SimFaultKind kind) const;
  int ChatterMs() const;
  void Violation(std::string text);
  void CheckNothingOwed();
  void Reply(std::vector<uint8_t> frame);
  void Emit(std::vector<uint8_t> frame);
  void ReleaseTimed(uint64_t nowMs);
  void Ack(uint8_t code);
  void Process(uint64_t nowMs);
  void HandleRequest(const std::vector<uint8_t>& req, uint64_t nowMs);
  void StartErase(const std::vector<uint8_t>& req, uint64_t nowMs);
  void FinishErase();
  void HandleBlock(const uint8_t* block);
  void TryStaleInput();

  SimHandsetConfig m_config;
  std::vector<ArmedFault> m_faults;
  SimRecord m_record;
  std::vector<uint8_t> m_rx;
  std::vector<uint8_t> m_out;
  uint64_t m_lastRxMs = 0;
  bool m_bStaleSeen = false;   // the current partial input was already looked at
  bool m_bBusyNoted = false;   // one violation per early send
  bool m_bInGarbage = false;   // one violation per run of stray bytes
  bool m_bHangUp = false;
  bool m_bDropReply = false;   // the next reply is lost (LoseReply)
  uint64_t m_nowMs = 0;        // the time of the Feed or Tick under way

  // LateReply: the next reply is held back m_nHoldMs; replies held back wait
  // in m_late until they are due.
  uint32_t m_nHoldMs = 0;
  std::vector<uint8_t> m_holdFor;
  std::vector<HeldReply> m_late;

  // Chatter: strays start with the tool's first byte. A stray and a real
  // reply are kept a quiet gap apart; a real reply due meanwhile waits in
  // m_gated.
  bool m_bLineUsed = false;
  uint64_t m_nextStrayMs = 0;
  bool m_bStrayDue = false;     // the next stray waits for the gap after a real reply
  uint64_t m_strayAtMs = 0;
  int m_nStrayTurn = 0;
  bool m_bAnyReal = false;
  uint64_t m_lastRealMs = 0;
  uint64_t m_realHoldUntilMs = 0;
  std::vector<uint8_t> m_gated;
  std::vector<uint8_t> m_stray;

  bool m_bErasePending = false;
  uint64_t m_eraseDueMs = 0;
  SimErase m_pendingErase;

  bool m_bDataMode = false;
  uint32_t m_dataStart = 0;
  int64_t m_nExpected = 0;
  int64_t m_nWritten = 0;
  bool m_bRepeatNext = false;
  int64_t m_nRepeatIdx = 0;
  int64_t m_nLastIdx = -1;
  bool m_bLastAcked = false;
  // The transfer has all its blocks, but until the tool's next request it
  // may still ask for the last one again: it cannot tell a lost ACK from a
  // lost block.
  bool m_bTailOpen = false;
};
