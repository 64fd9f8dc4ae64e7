// One of the twenty download slots: a handset's port, its link, its log
// queue, its receive thread and its place in the download.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DloadFile.h"
#include "EngineTimers.h"
#include "Thrdrx.h"
#include "comm/QTextQ.h"
#include "comm/bsscomm.h"

/// Where an entry stands in the current step (m_nState). 1, 2 and 4 are
/// never set.
enum EntryState {
  /// Idle, or at the start of a step: the step's first request, the boot
  /// version request or the step's jump awaits its reply.
  STATE_IDLE = 0,
  /// The handset's boot version was accepted; the jump goes out next.
  STATE_VERSION_OK = 3,
  /// The erase request is being sent; left within the same event.
  STATE_ERASING = 5,
  /// Erase sent for boot programming: the reply starts the blocks.
  STATE_BOOT_ERASE_SENT = 6,
  /// Boot-programming blocks are going out.
  STATE_BOOT_BLOCKS = 7,
  /// Erase sent for flash programming (or, in the phone code step with
  /// Change Downloader, its boot part is sent): the reply starts the blocks.
  STATE_FLASH_ERASE_SENT = 8,
  /// Flash-programming blocks are going out.
  STATE_FLASH_BLOCKS = 9,
  /// The entry has finished the step and waits for the others.
  STATE_STEP_WAIT = 10,
  /// The run is complete: the final jump has been sent.
  STATE_COMPLETE = 11,
};

enum EntryResult { RESULT_NONE = -1, RESULT_RUNNING = 0, RESULT_COMPLETED = 1, RESULT_FAILED = 2 };

struct DownloadEntry {
  int m_bConnected = 0;        ///< link opened; the entry takes part in runs
  int m_bRxThreadRunning = 0;  ///< receive thread created and handed its parameters
  int m_nComPort = 0;          ///< bound COM number; 0 = none
  int m_nState = STATE_IDLE;   ///< an EntryState
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
  int m_nTimerType = TIMER_REQUEST;  ///< a TimerType
  int m_nTimerMs = 0;
  /// The entry's timer runs: something will move the entry on even if its
  /// handset never speaks again.
  int m_bTimerArmed = 0;
  /// The unit awaiting its reply went out more than once (a repeated
  /// request, a retry marker): two replies to it may come.
  int m_bRepeated = 0;
  uint32_t m_eraseSentMs = 0;  ///< host clock when the erase request went out
  int m_bFlashing = 0;         ///< a block ACK was handled in STATE_FLASH_BLOCKS this step

  /// The engine's own copy of the reply (m_pRxPacket points here).
  uint8_t m_rxCopy[RX_PACKET_SIZE] = {};
  /// This entry's signature toggle for ReadBlock.
  bool m_bSignaturePatched = false;
  /// Outcome of the entry in the current run: RESULT_NONE when it was not
  /// bound at DownLoad, else running until it completes or leaves the run.
  int m_nResult = RESULT_NONE;
  std::string m_strReason;  ///< why the entry left its last run (the error line it logged); empty while it runs or completed

  /// Back to block 0 of a step with no retries or refusals counted and no
  /// retry marker outstanding.
  void ResetStepCounters() {
    m_nBlock = 0;
    m_nRetry = 0;
    m_nRefusals = 0;
    m_bMarkerSent = 0;
    m_bRepeated = 0;
  }
  // What the run report tells of the entry's last run (set at DownLoad).
  int m_nRunPort = 0;         ///< COM number it was bound to when the run started
  int m_nBlocksSent = 0;      ///< data blocks sent the normal way, resends not counted
  int m_nRetries = 0;         ///< retry markers and repeated requests
  std::chrono::system_clock::time_point m_runStart{}, m_runEnd{};
  std::vector<CTextQItem> m_runLog;  ///< every log line of the run, in order, repeats folded
  /// The last line taken from the queue and how often it came again right
  /// after itself; a handset that repeats itself costs a few lines.
  CTextQItem m_lastLine;
  int m_nLineRepeats = 0;
};
