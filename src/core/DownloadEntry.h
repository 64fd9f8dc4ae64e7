// One of the twenty download slots: a handset's port, its link, its log
// queue, its receive thread and its place in the download.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DloadFile.h"
#include "Thrdrx.h"
#include "comm/QTextQ.h"
#include "comm/bsscomm.h"

enum EntryResult { RESULT_NONE = -1, RESULT_RUNNING = 0, RESULT_COMPLETED = 1, RESULT_FAILED = 2 };

struct DownloadEntry {
  int m_bConnected = 0;        ///< link opened; the entry takes part in runs
  int m_bRxThreadRunning = 0;  ///< receive thread created and handed its parameters
  int m_nComPort = 0;          ///< bound COM number; 0 = none
  int m_nState = 0;            ///< 0 idle .. 11 completed
  int m_nBlock = 0;            ///< next block of the current step
  int m_nRetry = 0;            ///< timer expiries since the last request
  int m_nRefusals = 0;         ///< refused or damaged replies since the last accepted one
  uint8_t m_bJumpSent = 0;     ///< the run's jump has been sent
  /// This entry's handset answered "b1.01" in this run.
  int m_bBootVersionOk = 0;
  /// This entry's boot version request awaits its reply.
  int m_bBootVersionAsked = 0;
  CBssComm m_comm;
  BlockRecord m_blockReq;      ///< the block being sent
  BlockRecord m_lastBlock;     ///< the last block sent the normal way
  const uint8_t* m_pRxPacket = nullptr;  ///< the reply being handled, or null
  int m_bMarkerSent = 0;       ///< a retry marker awaits RESEND_ACK
  std::unique_ptr<CThreadRX> m_pThread;
  CQTextQ m_textQ;
  int m_nTimerType = 0;        ///< 0 request, 2 block, 4 erase
  int m_nTimerMs = 0;
  uint32_t m_eraseSentMs = 0;  ///< host clock when the erase request went out
  int m_bFlashing = 0;         ///< a block ACK was handled in state 9 this step

  /// The engine's own copy of the reply (m_pRxPacket points here).
  uint8_t m_rxCopy[RX_PACKET_SIZE] = {};
  /// This entry's signature toggle for ReadBlock.
  bool m_bSignaturePatched = false;
  /// Outcome of the entry in the current run: RESULT_NONE when it was not
  /// bound at DownLoad, else running until it completes or leaves the run.
  int m_nResult = RESULT_NONE;
  std::string m_strReason;  ///< why the entry left its last run (the error line it logged); empty while it runs or completed

  // What the run report tells of the entry's last run (set at DownLoad).
  int m_nRunPort = 0;         ///< COM number it was bound to when the run started
  int m_nBlocksSent = 0;      ///< data blocks sent the normal way, resends not counted
  int m_nRetries = 0;         ///< retry markers and repeated requests
  std::chrono::system_clock::time_point m_runStart{}, m_runEnd{};
  std::vector<CTextQItem> m_runLog;  ///< every log line of the run, in order
};
