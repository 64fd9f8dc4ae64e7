// The serial port on Windows: a COM port (\\.\COMn) opened not shared and
// for overlapped I/O, which the serial driver refuses to a second opener;
// its line settings go through the DCB, the rest of which (RTS, hardware
// handshake, XON/XOFF characters and limits) stays as the port had it.
//
// The receive wait is an overlapped ReadFile of one byte with all-zero
// time-outs: it completes when the first byte arrives. WaitCommEvent is not
// used, because Wine's serial layer fails it at once on a device without
// modem lines (a pty behind a COM port), and the one-byte read waits the
// same way on Windows. The byte that ends the wait is held and handed out
// first by the next Read (QueuedInput counts it, Purge discards it), so no
// byte is lost or reordered. Clearing the event mask and Close wake the
// waiter through an event of their own and cancel the read with CancelIoEx.
#include "platform/SerialPortWin32.h"

#include "platform/SerialPortNative.h"
#include "platform/WinApi.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>

namespace {

// Not in every SDK's headers.
constexpr DWORD kErrorNoSuchDevice = 433;

bool IsComName(const std::string& name, size_t from) {
  if (name.size() <= from || name.size() > from + 3) return false;
  for (size_t i = from; i < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  return name[from] != '0';
}

// Drivers of ports without modem lines, and Wine on a pty, refuse the
// escape functions with one of these: there is nothing to drop then.
bool NoModemLines(DWORD err) {
  return err == ERROR_INVALID_PARAMETER || err == ERROR_NOT_SUPPORTED || err == ERROR_INVALID_FUNCTION;
}

HANDLE NewEvent() { return ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }

void CloseEvent(HANDLE& event) {
  if (event) ::CloseHandle(event);
  event = nullptr;
}

// What is left of a wait's time, as WaitForMultipleObjects takes it.
class WaitBudget {
 public:
  explicit WaitBudget(uint32_t timeoutMs)
      : m_bForever(timeoutMs == INFINITE), m_deadline(Clock::now() + std::chrono::milliseconds(m_bForever ? 0 : timeoutMs)) {}
  DWORD Left() const {
    if (m_bForever) return INFINITE;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool m_bForever;
  Clock::time_point m_deadline;
};

// Reads that end empty: the first few go again at once, later ones after a
// pause of a millisecond; after about a second of nothing else the device is
// taken as gone.
constexpr int kQuickEmptyReads = 3;
constexpr int kMaxEmptyReads = 1000;

}  // namespace

std::unique_ptr<ISerialPort> CreateOsSerialPort() { return std::make_unique<CSerialPortNative>(); }

std::wstring Win32DeviceName(const std::string& device) {
  if (IsComName(device, 0)) return WideFromUtf8("\\\\.\\COM" + device);
  if (device.rfind("COM", 0) == 0 && IsComName(device, 3)) return WideFromUtf8("\\\\.\\" + device);
  return WideFromUtf8(device);
}

std::string PortFailure::ErrnoName() const {
  if (err == 0) return {};
  struct Name {
    DWORD code;
    const char* name;
  };
  static constexpr Name kNames[] = {
      {ERROR_INVALID_FUNCTION, "ERROR_INVALID_FUNCTION"},
      {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND"},
      {ERROR_PATH_NOT_FOUND, "ERROR_PATH_NOT_FOUND"},
      {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED"},
      {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE"},
      {ERROR_NOT_READY, "ERROR_NOT_READY"},
      {ERROR_BAD_COMMAND, "ERROR_BAD_COMMAND"},
      {ERROR_GEN_FAILURE, "ERROR_GEN_FAILURE"},
      {ERROR_SHARING_VIOLATION, "ERROR_SHARING_VIOLATION"},
      {ERROR_BROKEN_PIPE, "ERROR_BROKEN_PIPE"},
      {ERROR_NOT_SUPPORTED, "ERROR_NOT_SUPPORTED"},
      {ERROR_DEV_NOT_EXIST, "ERROR_DEV_NOT_EXIST"},
      {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
      {ERROR_SEM_TIMEOUT, "ERROR_SEM_TIMEOUT"},
      {ERROR_INVALID_NAME, "ERROR_INVALID_NAME"},
      {ERROR_BUSY, "ERROR_BUSY"},
      {WAIT_TIMEOUT, "WAIT_TIMEOUT"},
      {kErrorNoSuchDevice, "ERROR_NO_SUCH_DEVICE"},
      {ERROR_OPERATION_ABORTED, "ERROR_OPERATION_ABORTED"},
      {ERROR_IO_INCOMPLETE, "ERROR_IO_INCOMPLETE"},
      {ERROR_COUNTER_TIMEOUT, "ERROR_COUNTER_TIMEOUT"},
      {ERROR_DEVICE_NOT_CONNECTED, "ERROR_DEVICE_NOT_CONNECTED"},
      {ERROR_TIMEOUT, "ERROR_TIMEOUT"},
      {ERROR_DEVICE_REMOVED, "ERROR_DEVICE_REMOVED"},
  };
  for (const Name& n : kNames)
    if (n.code == static_cast<DWORD>(err)) return n.name;
  return "error " + std::to_string(static_cast<DWORD>(err));
}

std::string PortFailure::Detail() const {
  if (err == 0) return what;
  return ErrnoName() + ": " + Win32ErrorText(static_cast<DWORD>(err));
}

PortCause PortCauseOfWin32Error(unsigned long err, bool wasOpen) {
  switch (err) {
    case ERROR_SUCCESS: return PortCause::IoError;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return PortCause::NotFound;
    case ERROR_DEV_NOT_EXIST:
    case kErrorNoSuchDevice:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return wasOpen ? PortCause::DeviceGone : PortCause::NotFound;
    case ERROR_ACCESS_DENIED:
      // A COM port has no file permissions a user could lack: the serial
      // driver allows one handle, and Windows refuses every other opener
      // with "access denied". On a handle that was open it is what the USB
      // serial drivers answer once their device has been pulled out.
      return wasOpen ? PortCause::DeviceGone : PortCause::Busy;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return PortCause::Busy;
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT:
    case ERROR_COUNTER_TIMEOUT:
    case WAIT_TIMEOUT:
      return PortCause::TimedOut;
    case ERROR_GEN_FAILURE:
    case ERROR_BROKEN_PIPE:  // Wine, when the pty behind the port hangs up
    case ERROR_OPERATION_ABORTED:
    case ERROR_BAD_COMMAND:
    case ERROR_NOT_READY:
    case ERROR_INVALID_HANDLE:
      // A USB serial device pulled out fails its pending and later I/O with
      // these; before the port was open they are the driver's failure.
      return wasOpen ? PortCause::DeviceGone : PortCause::IoError;
    default: return PortCause::IoError;
  }
}

struct CSerialPortNative::Os {
  explicit Os(CSerialPortNative& owner) : port(owner) {}

  /// Where the one-byte wait read stands before a wait.
  enum class WaitRead {
    Pending,  ///< issued (now or before): wait for its event
    Input,    ///< a byte is held or queued already
    Again,    ///< it ended at once without a byte: look again
    Failed,   ///< the port failed; the failure is recorded
  };

  /// Settles the one-byte read: collects it if it has completed (or waits
  /// for it when `cancel`, after cancelling it). Call with rxLock held.
  /// False when it failed otherwise than by being cancelled.
  bool SettleWaitRead(HANDLE h, bool cancel);
  /// ClearCommError's count of queued bytes.
  bool Queued(HANDLE h, DWORD& queued);
  /// The wait's first step: input already there, or the read issued.
  WaitRead IssueWaitRead(HANDLE h, int& emptyReads);
  /// After the read's event: collects its byte, or tells an abort the
  /// port survived (a purge) from a port that is gone. False when gone.
  bool TakeWaitRead(HANDLE h, int& emptyReads);
  /// Counts a read that ended with no byte and no stop asked for: a few
  /// are a purge's doing and cost a pause of a millisecond each; a driver
  /// that does nothing else has lost its device (false, recorded as `what`).
  bool EmptyRead(int& emptyReads, const char* what, DWORD err);

  CSerialPortNative& port;
  HANDLE hComm = nullptr;
  HANDLE hWake = nullptr;  // manual reset: set while the mask is 0 or closing
  // The receive side (the wait read, the held byte): the receive thread's,
  // and Purge's and Close's.
  std::mutex rxLock;
  OVERLAPPED ovWait{};     // the one-byte read that is the wait
  bool bWaitPending = false;
  uint8_t waitByte = 0;    // what the wait read into
  bool bHeld = false;      // waitByte is a received byte not yet read
  OVERLAPPED ovRead{};
  OVERLAPPED ovWrite{};    // the dialog's thread's
};

CSerialPortNative::CSerialPortNative() : m_os(std::make_unique<Os>(*this)) {}

CSerialPortNative::~CSerialPortNative() {
  if (IsOpen()) Close();
}

bool CSerialPortNative::NotOpen() { return Fail("not open", ERROR_INVALID_HANDLE, PortCause::IoError); }

bool CSerialPortNative::Fail(const std::string& what, unsigned long err, PortCause cause) {
  return Record({cause != PortCause::None ? cause : PortCauseOfWin32Error(err, true), static_cast<int>(err), what},
                err != 0 ? Win32ErrorText(err) : std::string());
}

bool CSerialPortNative::HasHandle() const { return m_os->hComm != nullptr; }

// CreateFileW, not shared, overlapped.
bool CSerialPortNative::Open(const std::string& device) {
  std::lock_guard<std::mutex> guard(m_lock);
  auto failOpen = [this](const std::string& what, DWORD err) {
    return Fail(what, err, PortCauseOfWin32Error(err, false));
  };
  if (m_os->hComm) return Fail("already open", ERROR_BUSY);
  const std::wstring name = Win32DeviceName(device);
  HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = ::GetLastError();
    // A folder is refused as "access denied" too, which for a COM port
    // means it is held.
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (err == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      return Fail("not a serial port: " + device, err, PortCause::NotATerminal);
    return failOpen("open " + device, err);
  }
  // A file or a pipe opens as well; only a serial device has a comm state.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(h, &dcb)) {
    const DWORD err = ::GetLastError();
    ::CloseHandle(h);
    return Fail("not a serial port: " + device, err, PortCause::NotATerminal);
  }
  HANDLE wake = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);  // mask 0 until set
  HANDLE waitEvent = NewEvent(), readEvent = NewEvent(), writeEvent = NewEvent();
  if (!wake || !waitEvent || !readEvent || !writeEvent) {
    const DWORD err = ::GetLastError();
    for (HANDLE* e : {&wake, &waitEvent, &readEvent, &writeEvent}) CloseEvent(*e);
    ::CloseHandle(h);
    return failOpen("CreateEvent", err);
  }
  {
    std::lock_guard<std::mutex> rx(m_os->rxLock);
    m_os->ovWait = OVERLAPPED{};
    m_os->ovWait.hEvent = waitEvent;
    m_os->ovRead = OVERLAPPED{};
    m_os->ovRead.hEvent = readEvent;
    m_os->bWaitPending = false;
    m_os->bHeld = false;
  }
  m_os->ovWrite = OVERLAPPED{};
  m_os->ovWrite.hEvent = writeEvent;
  m_os->hComm = h;
  m_os->hWake = wake;
  Opened();
  return true;
}

bool CSerialPortNative::MaskChanged(uint32_t mask) {
  if (mask != 0) {
    ::ResetEvent(m_os->hWake);
    return true;
  }
  // The event reaches a waiter that is about to issue its read as well as
  // one inside the wait; the cancel frees the port of a read nobody waits
  // for. A byte the read took before the cancel stays held.
  if (!::SetEvent(m_os->hWake)) return Fail("wake waiter", ::GetLastError());
  ::CancelIoEx(m_os->hComm, &m_os->ovWait);
  return true;
}

// SetupComm.
bool CSerialPortNative::SetupQueues(uint32_t inBytes, uint32_t outBytes) {
  const CCall call(*this);
  if (!call) return NotOpen();
  if (!::SetupComm(m_os->hComm, inBytes, outBytes)) return Fail("SetupComm", ::GetLastError());
  return true;
}

// PurgeComm of both directions, aborting pending I/O.
bool CSerialPortNative::Purge() {
  const CCall call(*this);
  if (!call) return NotOpen();
  HANDLE h = m_os->hComm;
  bool ok = true;
  std::lock_guard<std::mutex> rx(m_os->rxLock);
  if (!::PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
    ok = Fail("PurgeComm", ::GetLastError());
  // The abort ended the one-byte read (a waiter issues a new one); what
  // it had taken was input like any other.
  m_os->SettleWaitRead(h, true);
  m_os->bHeld = false;
  return ok;
}

bool CSerialPortNative::SetTimeouts(uint32_t readTotalMs, uint32_t writeTotalMs) {
  (void)readTotalMs;  // reads take only what is queued; they never wait
  const CCall call(*this);
  if (!call) return NotOpen();
  // All read time-outs zero: a read waits until its count has come, which
  // is what the one-byte wait needs and costs the sized reads nothing. Of
  // the settings that make reads return at once, Wine leaves some overlapped
  // reads on a pty pending for ever.
  COMMTIMEOUTS t{};
  t.WriteTotalTimeoutConstant = writeTotalMs;
  if (!::SetCommTimeouts(m_os->hComm, &t)) return Fail("SetCommTimeouts", ::GetLastError());
  m_nWriteTimeoutMs = writeTotalMs;
  return true;
}

// GetCommState, the settings, SetCommState.
bool CSerialPortNative::ApplyLineSettings(const SerialLineSettings& settings) {
  const CCall call(*this);
  if (!call) return NotOpen();
  HANDLE h = m_os->hComm;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(h, &dcb)) return Fail("GetCommState", ::GetLastError());
  // Parity and stop-bit codes are this OS's own (NOPARITY 0, ODDPARITY 1,
  // EVENPARITY 2; ONESTOPBIT 0, TWOSTOPBITS 2).
  dcb.BaudRate = settings.baud;
  dcb.ByteSize = settings.byteSize;
  dcb.Parity = settings.parity;
  dcb.StopBits = settings.stopBits;
  dcb.fBinary = settings.binary ? TRUE : FALSE;
  dcb.fParity = settings.parityCheck ? TRUE : FALSE;
  if (settings.dtrOff) dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fOutX = settings.xonXoffOut ? TRUE : FALSE;
  dcb.fInX = settings.xonXoffIn ? TRUE : FALSE;
  if (!::SetCommState(h, &dcb)) return Fail("SetCommState", ::GetLastError());
  return true;
}

bool CSerialPortNative::Os::Queued(HANDLE h, DWORD& queued) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(h, &errors, &stat)) return port.Fail("ClearCommError", ::GetLastError());
  queued = stat.cbInQue;
  return true;
}

bool CSerialPortNative::Os::SettleWaitRead(HANDLE h, bool cancel) {
  if (!bWaitPending) return true;
  if (cancel) ::CancelIoEx(h, &ovWait);
  DWORD got = 0;
  if (::GetOverlappedResult(h, &ovWait, &got, cancel ? TRUE : FALSE)) {
    bWaitPending = false;
    if (got == 1) bHeld = true;
    return true;
  }
  const DWORD err = ::GetLastError();
  if (err == ERROR_IO_INCOMPLETE) return true;  // still waiting for its byte
  bWaitPending = false;
  if (err == ERROR_OPERATION_ABORTED) return true;
  return port.Fail("wait for input", err);
}

PortWait CSerialPortNative::WaitEvent() { return WaitEventFor(INFINITE); }

// Waits on the pending one-byte read and the wake-up event together. A
// time-out leaves the read pending for the next wait.
PortWait CSerialPortNative::WaitEventFor(uint32_t timeoutMs) {
  const CCall call(*this);
  if (!call) return PortWait::MaskCleared;
  HANDLE h = m_os->hComm;
  const WaitBudget budget(timeoutMs);
  int emptyReads = 0;
  for (;;) {
    const uint32_t mask = m_mask.load();
    if (m_bClosing.load() || mask == 0) return PortWait::MaskCleared;
    HANDLE events[2] = {m_os->hWake, nullptr};
    DWORD count = 1;
    if (mask & EV_RXCHAR) {
      switch (m_os->IssueWaitRead(h, emptyReads)) {
        case Os::WaitRead::Input: return PortWait::RxChar;
        case Os::WaitRead::Failed: return PortWait::Failed;
        case Os::WaitRead::Again: continue;
        case Os::WaitRead::Pending: break;
      }
      events[count++] = m_os->ovWait.hEvent;
    }
    const DWORD r = ::WaitForMultipleObjects(count, events, FALSE, budget.Left());
    // The read stays pending; the next wait goes on with it.
    if (r == WAIT_TIMEOUT) return PortWait::TimedOut;
    if (r == WAIT_FAILED) {
      Fail("WaitForMultipleObjects", ::GetLastError());
      return PortWait::Failed;
    }
    if (r == WAIT_OBJECT_0 + 1 && !m_os->TakeWaitRead(h, emptyReads)) return PortWait::Failed;
    // The wake event, a byte or an abort: the top of the loop says which.
  }
}

CSerialPortNative::Os::WaitRead CSerialPortNative::Os::IssueWaitRead(HANDLE h, int& emptyReads) {
  std::lock_guard<std::mutex> rx(rxLock);
  if (!SettleWaitRead(h, false)) return WaitRead::Failed;
  if (bHeld) return WaitRead::Input;
  if (bWaitPending) return WaitRead::Pending;
  DWORD queued = 0;
  if (!Queued(h, queued)) return WaitRead::Failed;
  if (queued > 0) return WaitRead::Input;
  ::ResetEvent(ovWait.hEvent);
  DWORD got = 0;
  if (::ReadFile(h, &waitByte, 1, &got, &ovWait)) {
    // Done at once. A completion without its byte is not a byte: the next
    // turn issues the read again.
    if (got == 1) {
      bHeld = true;
      return WaitRead::Input;
    }
    if (!EmptyRead(emptyReads, "wait for input: the read keeps ending empty", ERROR_GEN_FAILURE)) return WaitRead::Failed;
    return WaitRead::Again;
  }
  const DWORD err = ::GetLastError();
  if (err != ERROR_IO_PENDING) {
    port.Fail("wait for input", err);
    return WaitRead::Failed;
  }
  bWaitPending = true;
  return WaitRead::Pending;
}

bool CSerialPortNative::Os::TakeWaitRead(HANDLE h, int& emptyReads) {
  std::lock_guard<std::mutex> rx(rxLock);
  const bool hadRead = bWaitPending;
  if (!SettleWaitRead(h, false)) return false;
  if (bHeld || bWaitPending) return true;
  // Aborted without a stop asked for (a purge): the port must still
  // answer, else its device has gone.
  DWORD queued = 0;
  if (hadRead && !Queued(h, queued)) return false;
  return EmptyRead(emptyReads, "wait for input: the read keeps being aborted", ERROR_OPERATION_ABORTED);
}

bool CSerialPortNative::Os::EmptyRead(int& emptyReads, const char* what, DWORD err) {
  if (++emptyReads <= kQuickEmptyReads) return true;
  if (emptyReads > kMaxEmptyReads) return port.Fail(what, err, PortCause::DeviceGone);
  ::Sleep(1);
  return true;
}

// ClearCommError's cbInQue, plus one for a held byte.
int CSerialPortNative::QueuedInput() {
  const CCall call(*this);
  if (!call) {
    NotOpen();
    return -1;
  }
  HANDLE h = m_os->hComm;
  std::lock_guard<std::mutex> rx(m_os->rxLock);
  DWORD queued = 0;
  if (!m_os->SettleWaitRead(h, false) || !m_os->Queued(h, queued)) return -1;
  return static_cast<int>(queued) + (m_os->bHeld ? 1 : 0);
}

// The held byte first, then at most what ClearCommError reports queued.
int CSerialPortNative::ReadQueued(uint8_t* buffer, uint32_t count) {
  HANDLE h = m_os->hComm;
  std::lock_guard<std::mutex> rx(m_os->rxLock);
  // A pending wait read could take a byte that came before those queued
  // now: end it first, so that its byte, if any, goes out first.
  if (!m_os->SettleWaitRead(h, true)) return -1;
  uint32_t done = 0;
  if (m_os->bHeld) {
    buffer[done++] = m_os->waitByte;
    m_os->bHeld = false;
  }
  if (done == count) return static_cast<int>(done);
  // A failure after the held byte was handed out shows at the next call.
  const int failed = done == 0 ? -1 : static_cast<int>(done);
  DWORD queued = 0;
  if (!m_os->Queued(h, queued)) return failed;
  if (queued == 0) return static_cast<int>(done);
  const DWORD want = std::min<DWORD>(queued, count - done);
  DWORD got = 0;
  ::ResetEvent(m_os->ovRead.hEvent);
  BOOL ok = ::ReadFile(h, buffer + done, want, &got, &m_os->ovRead);
  if (!ok && ::GetLastError() == ERROR_IO_PENDING) ok = ::GetOverlappedResult(h, &m_os->ovRead, &got, TRUE);
  if (!ok) {
    Fail("ReadFile", ::GetLastError());
    return failed;
  }
  return static_cast<int>(done + got);
}

// Overlapped WriteFile, waited for within the write time-out.
bool CSerialPortNative::Write(const uint8_t* data, uint32_t count) {
  const CCall call(*this);
  if (!call) return NotOpen();
  if (count == 0) return true;
  HANDLE h = m_os->hComm;
  ::ResetEvent(m_os->ovWrite.hEvent);
  DWORD written = 0;
  BOOL done = ::WriteFile(h, data, count, &written, &m_os->ovWrite);
  DWORD err = done ? ERROR_SUCCESS : ::GetLastError();
  if (!done && err == ERROR_IO_PENDING) {
    // The driver ends the write at its time-out; the wait here has a
    // margin over it, for a driver (or Wine) that does not.
    const DWORD limit = m_nWriteTimeoutMs.load() + 1000;
    if (::WaitForSingleObject(m_os->ovWrite.hEvent, limit) != WAIT_OBJECT_0) {
      ::CancelIoEx(h, &m_os->ovWrite);
      ::GetOverlappedResult(h, &m_os->ovWrite, &written, TRUE);
      return Fail("write timed out", ERROR_SEM_TIMEOUT, PortCause::TimedOut);
    }
    done = ::GetOverlappedResult(h, &m_os->ovWrite, &written, FALSE);
    err = done ? ERROR_SUCCESS : ::GetLastError();
  }
  if (!done) return Fail("WriteFile", err);
  // The write time-out ends a write with fewer bytes, successfully.
  if (written < count) return Fail("write timed out", ERROR_SEM_TIMEOUT, PortCause::TimedOut);
  return true;
}

// EscapeCommFunction CLRDTR, then CLRRTS.
bool CSerialPortNative::ClearDtrRts() {
  const CCall call(*this);
  if (!call) return NotOpen();
  for (const auto& [function, name] : {std::pair<DWORD, const char*>{CLRDTR, "clear DTR"}, {CLRRTS, "clear RTS"}}) {
    if (::EscapeCommFunction(m_os->hComm, function)) continue;
    const DWORD err = ::GetLastError();
    if (NoModemLines(err)) continue;
    return Fail(name, err);
  }
  return true;
}

void CSerialPortNative::WakeForClose() {
  ::SetEvent(m_os->hWake);
  ::CancelIoEx(m_os->hComm, nullptr);
}

bool CSerialPortNative::FreeHandles(unsigned long& err) {
  HANDLE h = m_os->hComm;
  {
    std::lock_guard<std::mutex> rx(m_os->rxLock);
    // The read's buffer and event must outlive it.
    m_os->SettleWaitRead(h, true);
    m_os->bHeld = false;
  }
  m_os->hComm = nullptr;
  const bool ok = ::CloseHandle(h) != 0;
  err = ok ? ERROR_SUCCESS : ::GetLastError();
  CloseEvent(m_os->hWake);
  CloseEvent(m_os->ovWait.hEvent);
  CloseEvent(m_os->ovRead.hEvent);
  CloseEvent(m_os->ovWrite.hEvent);
  return ok;
}
