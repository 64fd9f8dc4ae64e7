#include "Thrdrx.h"

#include <chrono>
#include <system_error>
#include <utility>

#include "ports/PortHint.h"
#include "link/QTextQ.h"
#include "link/Trace.h"
#include "link/bsscomm.h"

namespace {

// A burst ends once the line has been quiet this long: the next byte then
// starts a new one, with the assembly buffer emptied.
constexpr uint32_t kBurstQuietMs = 5;
constexpr uint8_t kFlag = 0x7E;

bool IsEntryIndex(int entry) { return entry >= 0 && entry < MAX_ENTRIES; }

std::mutex& StarterLock() {
  static std::mutex lock;
  return lock;
}

CThreadRX::ThreadStarter& CurrentStarter() {
  static CThreadRX::ThreadStarter starter;
  return starter;
}

}  // namespace

CThreadRX::ThreadStarter CThreadRX::SetThreadStarter(ThreadStarter starter) {
  std::lock_guard<std::mutex> guard(StarterLock());
  return std::exchange(CurrentStarter(), std::move(starter));
}

CThreadRX::CThreadRX() {
  ThreadStarter starter;
  {
    std::lock_guard<std::mutex> guard(StarterLock());
    starter = CurrentStarter();
  }
  try {
    if (starter)
      m_thread = starter([this] { ThreadMain(); });
    else
      m_thread = std::thread(&CThreadRX::ThreadMain, this);
  } catch (const std::system_error&) {
    m_bFailed = true;
  }
}

CThreadRX::~CThreadRX() {
  {
    std::lock_guard<std::mutex> guard(m_gateLock);
    m_bCancelled = true;
  }
  m_gate.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

bool CThreadRX::Init(IWindow* dialog, CBssComm* link, CQTextQ* queue, int entry) {
  if (m_bFailed) return false;
  {
    std::lock_guard<std::mutex> guard(m_gateLock);
    if (m_bStarted) return false;
    m_pDialog = dialog;
    m_pLink = link;
    m_pTextQ = queue;
    m_nEntry = entry;
    // Copied here, on the dialog's thread: the link's own copy is cleared
    // by a Close that may run while this thread reports the device gone.
    m_strDevice = link ? link->OpenDevice() : std::string();
    m_nPort = link ? link->PortNumber() : 0;
    m_bStarted = true;
  }
  m_gate.notify_all();
  return true;
}

bool CThreadRX::Join(int ms) {
  if (m_bFailed) return true;
  {
    std::unique_lock<std::mutex> lock(m_endLock);
    if (!m_endCv.wait_for(lock, std::chrono::milliseconds(ms > 0 ? ms : 0), [this] { return m_bEnded.load(); }))
      return false;
  }
  // Past End() the thread only returns; joining costs no real wait.
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
  return true;
}

void CThreadRX::LogThread(const std::string& text, int kind) {
  if (text.empty() || m_pTextQ == nullptr) return;
  if (!m_pTextQ->Put(kind, text)) return;
  if (m_pDialog && IsEntryIndex(m_nEntry)) m_pDialog->PostMessage(WM_ENTRY_LOG + m_nEntry, 0, 0);
}

void CThreadRX::ThreadMain() {
  {
    std::unique_lock<std::mutex> lock(m_gateLock);
    m_gate.wait(lock, [this] { return m_bStarted || m_bCancelled; });
    // Destroyed before it was handed an entry: there is nobody to tell.
    if (!m_bStarted) return;
  }
  Run();
  End();
}

int CThreadRX::Run() {
  static_assert(READ_LIMIT == CFrameDecoder::ASSEMBLY_SIZE);
  if (m_pLink == nullptr) return 0;
  if (!m_pLink->SetCommMask(EV_RXCHAR)) {
    LogThread("\nFail to set Comm mask\n\n");
    return 0;
  }
  for (;;) {
    if (m_bStop.load()) break;
    PortWait wait = m_pLink->WaitCommEvent();
    if (wait == PortWait::RxChar) {
      m_pLink->BeginBurst();
      const int settleMs = m_pLink->RxSettleMs();
      wait = settleMs > 0 ? SettledBurst(settleMs) : Burst();
    }
    if (wait == PortWait::Failed) {
      // A pulled cable or a handset that hung up: say so in the entry's log,
      // or its "Error!" would come without a reason.
      const std::string failure = PortFailureLine(m_nPort, m_strDevice, m_pLink->PortFailureNow());
      {
        std::lock_guard<std::mutex> guard(m_failureLock);
        m_strFailure = failure;
      }
      LogThread("USB 연결 상태를 확인하세요.", LOG_ERROR);
      LogThread(failure, LOG_ERROR);
      return 0;
    }
    // Anything but the end of a burst (the mask was cleared by the link's
    // Close) ends the thread at once.
    if (wait != PortWait::RxChar && wait != PortWait::TimedOut) return 0;
  }
  Trace("\nOut of While");
  return 0;
}

PortWait CThreadRX::Burst() {
  bool feeding = true;
  bool told = false;  // the port said a character is queued
  uint32_t held = 0;  // a lone opening flag, kept for the rest of its frame
  for (;;) {
    const uint32_t n = m_pLink->ReadAvailable(m_rxBuf + held, READ_LIMIT - held);
    if (n > 0) {
      told = false;
      const uint32_t len = held + n;
      held = 0;
      // Read at once, the opening flag of a reply often comes alone, and
      // the decoder takes a lone flag for an empty frame: the reply would be
      // lost. It goes in with what follows it instead.
      if (feeding && len == 1 && m_rxBuf[0] == kFlag && m_pLink->AssemblyEmpty()) {
        held = 1;
        continue;
      }
      // After an overflow the rest of the burst is still drained, unfed.
      if (feeding) feeding = m_pLink->AddReceived(m_rxBuf, static_cast<int>(len), m_nEntry);
      continue;
    }
    PortWait wait = PortWait::RxChar;
    if (told) {
      // Told a character is queued, yet the read found none (it failed):
      // the burst ends after the classic pause, so that a port in that state
      // is not spun on.
      std::this_thread::sleep_for(std::chrono::milliseconds(kBurstQuietMs));
    } else {
      wait = m_pLink->WaitCommEventFor(kBurstQuietMs);
      if (wait == PortWait::RxChar) {
        told = true;
        continue;
      }
    }
    // The burst is over: a flag still held was its last read.
    if (held > 0 && feeding) m_pLink->AddReceived(m_rxBuf, static_cast<int>(held), m_nEntry);
    return wait;
  }
}

PortWait CThreadRX::SettledBurst(int settleMs) {
  bool feeding = true;
  uint32_t n = 0;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    n = m_pLink->ReadAvailable(m_rxBuf, READ_LIMIT);
    // After an overflow the rest of the burst is still drained, unfed.
    if (n > 0 && feeding) feeding = m_pLink->AddReceived(m_rxBuf, static_cast<int>(n), m_nEntry);
  } while (n > 0);
  return PortWait::RxChar;
}

void CThreadRX::End() {
  std::this_thread::yield();
  if (IsEntryIndex(m_nEntry) && m_pDialog) m_pDialog->PostMessage(WM_ENTRY_RXEND + m_nEntry, 0, 0);
  m_bStop = true;
  Trace("\nEND__RX");
  std::lock_guard<std::mutex> guard(m_endLock);
  m_bEnded = true;
  m_endCv.notify_all();
}

std::string CThreadRX::FailureLine() const {
  std::lock_guard<std::mutex> guard(m_failureLock);
  return m_strFailure;
}
