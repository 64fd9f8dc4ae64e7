// One of the twenty download slots: a handset's port, its link, its log
// queue and its receive thread. Its place in a run lives with the run
// (DownloadRun.h).
#pragma once

#include <memory>
#include <string>

#include "Thrdrx.h"
#include "link/QTextQ.h"
#include "link/bsscomm.h"

struct DownloadEntry {
  int m_bConnected = 0;        ///< link opened; the entry takes part in runs
  int m_bRxThreadRunning = 0;  ///< receive thread created and handed its parameters
  int m_nComPort = 0;          ///< bound COM number; 0 = none
  CBssComm m_comm;
  std::unique_ptr<CThreadRX> m_pThread;
  CQTextQ m_textQ;
  /// The last line taken from the queue and how often it came again right
  /// after itself; a handset that repeats itself costs a few lines.
  CTextQItem m_lastLine;
  int m_nLineRepeats = 0;
};
