#include "platform/SerialPortWin32.h"

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

std::unique_ptr<ISerialPort> CreateOsSerialPort() { return std::make_unique<CSerialPortWin32>(); }

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

struct CSerialPortWin32::Io {
  HANDLE hComm = nullptr;
  HANDLE hWake = nullptr;  // manual reset: set while the mask is 0 or closing
  OVERLAPPED ovWait{};     // the one-byte read that is the wait
  bool bWaitPending = false;
  uint8_t waitByte = 0;    // what the wait read into
  bool bHeld = false;      // waitByte is a received byte not yet read
  OVERLAPPED ovRead{};
  OVERLAPPED ovWrite{};    // the dialog's thread's
};

CSerialPortWin32::CSerialPortWin32() : m_io(std::make_unique<Io>()) {}

CSerialPortWin32::~CSerialPortWin32() {
  if (IsOpen()) Close();
}

bool CSerialPortWin32::NotOpen() { return Fail("not open", ERROR_INVALID_HANDLE, PortCause::IoError); }

bool CSerialPortWin32::Fail(const std::string& what, unsigned long err, PortCause cause) {
  return Record({cause != PortCause::None ? cause : PortCauseOfWin32Error(err, true), static_cast<int>(err), what},
                err != 0 ? Win32ErrorText(err) : std::string());
}

bool CSerialPortWin32::HasHandle() const { return m_io->hComm != nullptr; }

bool CSerialPortWin32::Open(const std::string& device) {
  std::lock_guard<std::mutex> guard(m_lock);
  auto failOpen = [this](const std::string& what, DWORD err) {
    return Fail(what, err, PortCauseOfWin32Error(err, false));
  };
  if (m_io->hComm) return Fail("already open", ERROR_BUSY);
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
    std::lock_guard<std::mutex> rx(m_rxLock);
    m_io->ovWait = OVERLAPPED{};
    m_io->ovWait.hEvent = waitEvent;
    m_io->ovRead = OVERLAPPED{};
    m_io->ovRead.hEvent = readEvent;
    m_io->bWaitPending = false;
    m_io->bHeld = false;
  }
  m_io->ovWrite = OVERLAPPED{};
  m_io->ovWrite.hEvent = writeEvent;
  m_io->hComm = h;
  m_io->hWake = wake;
  Opened();
  return true;
}

bool CSerialPortWin32::SetEventMask(uint32_t mask) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!UsableLocked()) return NotOpen();
  m_mask = mask;
  if (mask != 0) {
    ::ResetEvent(m_io->hWake);
    return true;
  }
  // The event reaches a waiter that is about to issue its read as well as
  // one inside the wait; the cancel frees the port of a read nobody waits
  // for. A byte the read took before the cancel stays held.
  if (!::SetEvent(m_io->hWake)) return Fail("wake waiter", ::GetLastError());
  ::CancelIoEx(m_io->hComm, &m_io->ovWait);
  return true;
}

bool CSerialPortWin32::SetupQueues(uint32_t inBytes, uint32_t outBytes) {
  const CCall call(*this);
  if (!call) return NotOpen();
  if (!::SetupComm(m_io->hComm, inBytes, outBytes)) return Fail("SetupComm", ::GetLastError());
  return true;
}

bool CSerialPortWin32::Purge() {
  const CCall call(*this);
  if (!call) return NotOpen();
  HANDLE h = m_io->hComm;
  bool ok = true;
  std::lock_guard<std::mutex> rx(m_rxLock);
  if (!::PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
    ok = Fail("PurgeComm", ::GetLastError());
  // The abort ended the one-byte read (a waiter issues a new one); what
  // it had taken was input like any other.
  SettleWaitRead(h, true);
  m_io->bHeld = false;
  return ok;
}

bool CSerialPortWin32::SetTimeouts(uint32_t readTotalMs, uint32_t writeTotalMs) {
  (void)readTotalMs;  // reads take only what is queued; they never wait
  const CCall call(*this);
  if (!call) return NotOpen();
  // All read time-outs zero: a read waits until its count has come, which
  // is what the one-byte wait needs and costs the sized reads nothing. Of
  // the settings that make reads return at once, Wine leaves some overlapped
  // reads on a pty pending for ever.
  COMMTIMEOUTS t{};
  t.WriteTotalTimeoutConstant = writeTotalMs;
  if (!::SetCommTimeouts(m_io->hComm, &t)) return Fail("SetCommTimeouts", ::GetLastError());
  m_nWriteTimeoutMs = writeTotalMs;
  return true;
}

bool CSerialPortWin32::ApplyLineSettings(const SerialLineSettings& settings) {
  const CCall call(*this);
  if (!call) return NotOpen();
  HANDLE h = m_io->hComm;
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

bool CSerialPortWin32::Queued(void* h, unsigned long& queued) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(h, &errors, &stat)) return Fail("ClearCommError", ::GetLastError());
  queued = stat.cbInQue;
  return true;
}

bool CSerialPortWin32::SettleWaitRead(void* h, bool cancel) {
  if (!m_io->bWaitPending) return true;
  if (cancel) ::CancelIoEx(h, &m_io->ovWait);
  DWORD got = 0;
  if (::GetOverlappedResult(h, &m_io->ovWait, &got, cancel ? TRUE : FALSE)) {
    m_io->bWaitPending = false;
    if (got == 1) m_io->bHeld = true;
    return true;
  }
  const DWORD err = ::GetLastError();
  if (err == ERROR_IO_INCOMPLETE) return true;  // still waiting for its byte
  m_io->bWaitPending = false;
  if (err == ERROR_OPERATION_ABORTED) return true;
  return Fail("wait for input", err);
}

PortWait CSerialPortWin32::WaitEvent() { return WaitEventFor(INFINITE); }

PortWait CSerialPortWin32::WaitEventFor(uint32_t timeoutMs) {
  const CCall call(*this);
  if (!call) return PortWait::MaskCleared;
  HANDLE h = m_io->hComm;
  const WaitBudget budget(timeoutMs);
  int emptyReads = 0;
  for (;;) {
    const uint32_t mask = m_mask.load();
    if (m_bClosing.load() || mask == 0) return PortWait::MaskCleared;
    HANDLE events[2] = {m_io->hWake, nullptr};
    DWORD count = 1;
    if (mask & EV_RXCHAR) {
      switch (IssueWaitRead(h, emptyReads)) {
        case WaitRead::Input: return PortWait::RxChar;
        case WaitRead::Failed: return PortWait::Failed;
        case WaitRead::Again: continue;
        case WaitRead::Pending: break;
      }
      events[count++] = m_io->ovWait.hEvent;
    }
    const DWORD r = ::WaitForMultipleObjects(count, events, FALSE, budget.Left());
    // The read stays pending; the next wait goes on with it.
    if (r == WAIT_TIMEOUT) return PortWait::TimedOut;
    if (r == WAIT_FAILED) {
      Fail("WaitForMultipleObjects", ::GetLastError());
      return PortWait::Failed;
    }
    if (r == WAIT_OBJECT_0 + 1 && !TakeWaitRead(h, emptyReads)) return PortWait::Failed;
    // The wake event, a byte or an abort: the top of the loop says which.
  }
}

CSerialPortWin32::WaitRead CSerialPortWin32::IssueWaitRead(void* h, int& emptyReads) {
  std::lock_guard<std::mutex> rx(m_rxLock);
  if (!SettleWaitRead(h, false)) return WaitRead::Failed;
  if (m_io->bHeld) return WaitRead::Input;
  if (m_io->bWaitPending) return WaitRead::Pending;
  DWORD queued = 0;
  if (!Queued(h, queued)) return WaitRead::Failed;
  if (queued > 0) return WaitRead::Input;
  ::ResetEvent(m_io->ovWait.hEvent);
  DWORD got = 0;
  if (::ReadFile(h, &m_io->waitByte, 1, &got, &m_io->ovWait)) {
    // Done at once. A completion without its byte is not a byte: the next
    // turn issues the read again.
    if (got == 1) {
      m_io->bHeld = true;
      return WaitRead::Input;
    }
    if (!EmptyRead(emptyReads, "wait for input: the read keeps ending empty", ERROR_GEN_FAILURE)) return WaitRead::Failed;
    return WaitRead::Again;
  }
  const DWORD err = ::GetLastError();
  if (err != ERROR_IO_PENDING) {
    Fail("wait for input", err);
    return WaitRead::Failed;
  }
  m_io->bWaitPending = true;
  return WaitRead::Pending;
}

bool CSerialPortWin32::TakeWaitRead(void* h, int& emptyReads) {
  std::lock_guard<std::mutex> rx(m_rxLock);
  const bool hadRead = m_io->bWaitPending;
  if (!SettleWaitRead(h, false)) return false;
  if (m_io->bHeld || m_io->bWaitPending) return true;
  // Aborted without a stop asked for (a purge): the port must still
  // answer, else its device has gone.
  DWORD queued = 0;
  if (hadRead && !Queued(h, queued)) return false;
  return EmptyRead(emptyReads, "wait for input: the read keeps being aborted", ERROR_OPERATION_ABORTED);
}

bool CSerialPortWin32::EmptyRead(int& emptyReads, const char* what, unsigned long err) {
  if (++emptyReads <= kQuickEmptyReads) return true;
  if (emptyReads > kMaxEmptyReads) return Fail(what, err, PortCause::DeviceGone);
  ::Sleep(1);
  return true;
}

int CSerialPortWin32::QueuedInput() {
  const CCall call(*this);
  if (!call) {
    NotOpen();
    return -1;
  }
  HANDLE h = m_io->hComm;
  std::lock_guard<std::mutex> rx(m_rxLock);
  DWORD queued = 0;
  if (!SettleWaitRead(h, false) || !Queued(h, queued)) return -1;
  return static_cast<int>(queued) + (m_io->bHeld ? 1 : 0);
}

int CSerialPortWin32::Read(uint8_t* buffer, uint32_t count) {
  const CCall call(*this);
  if (!call) {
    NotOpen();
    return -1;
  }
  if (count == 0) return 0;
  HANDLE h = m_io->hComm;
  std::lock_guard<std::mutex> rx(m_rxLock);
  // A pending wait read could take a byte that came before those queued
  // now: end it first, so that its byte, if any, goes out first.
  if (!SettleWaitRead(h, true)) return -1;
  uint32_t done = 0;
  if (m_io->bHeld) {
    buffer[done++] = m_io->waitByte;
    m_io->bHeld = false;
  }
  if (done == count) return static_cast<int>(done);
  // A failure after the held byte was handed out shows at the next call.
  const int failed = done == 0 ? -1 : static_cast<int>(done);
  DWORD queued = 0;
  if (!Queued(h, queued)) return failed;
  if (queued == 0) return static_cast<int>(done);
  const DWORD want = std::min<DWORD>(queued, count - done);
  DWORD got = 0;
  ::ResetEvent(m_io->ovRead.hEvent);
  BOOL ok = ::ReadFile(h, buffer + done, want, &got, &m_io->ovRead);
  if (!ok && ::GetLastError() == ERROR_IO_PENDING) ok = ::GetOverlappedResult(h, &m_io->ovRead, &got, TRUE);
  if (!ok) {
    Fail("ReadFile", ::GetLastError());
    return failed;
  }
  return static_cast<int>(done + got);
}

bool CSerialPortWin32::Write(const uint8_t* data, uint32_t count) {
  const CCall call(*this);
  if (!call) return NotOpen();
  if (count == 0) return true;
  HANDLE h = m_io->hComm;
  ::ResetEvent(m_io->ovWrite.hEvent);
  DWORD written = 0;
  BOOL done = ::WriteFile(h, data, count, &written, &m_io->ovWrite);
  DWORD err = done ? ERROR_SUCCESS : ::GetLastError();
  if (!done && err == ERROR_IO_PENDING) {
    // The driver ends the write at its time-out; the wait here has a
    // margin over it, for a driver (or Wine) that does not.
    const DWORD limit = m_nWriteTimeoutMs.load() + 1000;
    if (::WaitForSingleObject(m_io->ovWrite.hEvent, limit) != WAIT_OBJECT_0) {
      ::CancelIoEx(h, &m_io->ovWrite);
      ::GetOverlappedResult(h, &m_io->ovWrite, &written, TRUE);
      return Fail("write timed out", ERROR_SEM_TIMEOUT, PortCause::TimedOut);
    }
    done = ::GetOverlappedResult(h, &m_io->ovWrite, &written, FALSE);
    err = done ? ERROR_SUCCESS : ::GetLastError();
  }
  if (!done) return Fail("WriteFile", err);
  // The write time-out ends a write with fewer bytes, successfully.
  if (written < count) return Fail("write timed out", ERROR_SEM_TIMEOUT, PortCause::TimedOut);
  return true;
}

bool CSerialPortWin32::ClearDtrRts() {
  const CCall call(*this);
  if (!call) return NotOpen();
  for (const auto& [function, name] : {std::pair<DWORD, const char*>{CLRDTR, "clear DTR"}, {CLRRTS, "clear RTS"}}) {
    if (::EscapeCommFunction(m_io->hComm, function)) continue;
    const DWORD err = ::GetLastError();
    if (NoModemLines(err)) continue;
    return Fail(name, err);
  }
  return true;
}

bool CSerialPortWin32::Close() {
  std::unique_lock<std::mutex> lock(m_lock);
  if (!UsableLocked()) return NotOpen();
  // Wake a waiter and end every read or write in progress, then let every
  // call of the other thread leave before the handle goes.
  m_bClosing = true;
  ::SetEvent(m_io->hWake);
  ::CancelIoEx(m_io->hComm, nullptr);
  AwaitCallsLeft(lock);
  HANDLE h = m_io->hComm;
  {
    std::lock_guard<std::mutex> rx(m_rxLock);
    // The read's buffer and event must outlive it.
    SettleWaitRead(h, true);
    m_io->bHeld = false;
  }
  m_io->hComm = nullptr;
  const bool ok = ::CloseHandle(h) != 0;
  const DWORD err = ok ? ERROR_SUCCESS : ::GetLastError();
  CloseEvent(m_io->hWake);
  CloseEvent(m_io->ovWait.hEvent);
  CloseEvent(m_io->ovRead.hEvent);
  CloseEvent(m_io->ovWrite.hEvent);
  Closed();
  lock.unlock();
  if (!ok) return Fail("close", err);
  return true;
}
