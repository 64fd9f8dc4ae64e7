#include "platform/SerialPort.h"

#include "platform/SerialPortBase.h"
#include "platform/SerialPortNative.h"

#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

namespace {

std::mutex& FactoryLock() {
  static std::mutex lock;
  return lock;
}

SerialPortFactory& CurrentFactory() {
  static SerialPortFactory factory;
  return factory;
}

}  // namespace

std::unique_ptr<ISerialPort> CreateSerialPort() {
  SerialPortFactory factory;
  {
    std::lock_guard<std::mutex> guard(FactoryLock());
    factory = CurrentFactory();
  }
  // Called outside the lock: a test's factory may itself create ports.
  if (factory) return factory();
  return CreateOsSerialPort();
}

PortWait ISerialPort::WaitEventFor(uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const int queued = QueuedInput();
    if (queued < 0) return PortWait::Failed;
    if (queued > 0) return PortWait::RxChar;
    if (!IsOpen()) return PortWait::MaskCleared;
    if (std::chrono::steady_clock::now() >= deadline) return PortWait::TimedOut;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

CSerialPortBase::CCall::CCall(CSerialPortBase& port) {
  std::lock_guard<std::mutex> guard(port.m_lock);
  if (!port.UsableLocked()) return;
  ++port.m_nInFlight;
  m_port = &port;
}

CSerialPortBase::CCall::~CCall() {
  if (!m_port) return;
  std::lock_guard<std::mutex> guard(m_port->m_lock);
  if (--m_port->m_nInFlight == 0) m_port->m_idle.notify_all();
}

bool CSerialPortBase::IsOpen() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return UsableLocked();
}

void CSerialPortBase::Opened() {
  m_mask = 0;
  m_bClosing = false;
  m_nWriteTimeoutMs = 1000;
}

void CSerialPortBase::AwaitCallsLeft(std::unique_lock<std::mutex>& lock) {
  m_idle.wait(lock, [this] { return m_nInFlight == 0; });
}

void CSerialPortBase::Closed() {
  m_mask = 0;
  m_bClosing = false;
}

bool CSerialPortBase::Record(PortFailure failure, const std::string& osText) {
  std::lock_guard<std::mutex> guard(m_errorLock);
  m_strError = failure.what;
  if (failure.err != 0) m_strError += ": " + osText;
  m_failure = std::move(failure);
  return false;
}

PortFailure CSerialPortBase::LastFailure() const {
  std::lock_guard<std::mutex> guard(m_errorLock);
  return m_failure;
}

SerialPortFactory SetSerialPortFactory(SerialPortFactory factory) {
  std::lock_guard<std::mutex> guard(FactoryLock());
  return std::exchange(CurrentFactory(), std::move(factory));
}

const char* PortCauseText(PortCause cause) {
  switch (cause) {
    case PortCause::None: return "";
    case PortCause::NotFound: return "not found";
    case PortCause::PermissionDenied: return "permission denied";
    case PortCause::Busy: return "busy";
    case PortCause::NotATerminal: return "not a terminal";
    case PortCause::IoError: return "I/O error";
    case PortCause::TimedOut: return "timed out";
    case PortCause::DeviceGone: return "device gone";
  }
  return "I/O error";
}

PortCause PortCauseOfErrno(int err, bool wasOpen) {
  switch (err) {
    case 0: return PortCause::IoError;
    case ENOENT:
    case ENXIO:
    case ENOTDIR:
      return PortCause::NotFound;
    case ENODEV:
      // An open device whose driver says "no such device" was unplugged.
      return wasOpen ? PortCause::DeviceGone : PortCause::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return PortCause::PermissionDenied;
    case EBUSY:
    case EWOULDBLOCK:
      return PortCause::Busy;
    case ENOTTY:
    case EISDIR:
      return PortCause::NotATerminal;
    case ETIMEDOUT: return PortCause::TimedOut;
    case EIO:
    case EPIPE:
      return wasOpen ? PortCause::DeviceGone : PortCause::IoError;
    default: return PortCause::IoError;
  }
}

// What the native port does alike on every OS; its OS steps are in
// SerialPortPosix.cpp and SerialPortWin32.cpp.

bool CSerialPortNative::SetEventMask(uint32_t mask) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!UsableLocked()) return NotOpen();
  m_mask = mask;
  return MaskChanged(mask);
}

bool CSerialPortNative::Close() {
  std::unique_lock<std::mutex> lock(m_lock);
  if (!UsableLocked()) return NotOpen();
  // Wake a waiter and end the I/O in progress first, then let every call of
  // the other thread leave before the handle can go (and its number be
  // reused for something else).
  m_bClosing = true;
  WakeForClose();
  AwaitCallsLeft(lock);
  unsigned long err = 0;
  const bool ok = FreeHandles(err);
  Closed();
  lock.unlock();
  if (!ok) return Fail("close", err);
  return true;
}

int CSerialPortNative::Read(uint8_t* buffer, uint32_t count) {
  const CCall call(*this);
  if (!call) {
    NotOpen();
    return -1;
  }
  if (count == 0) return 0;
  return ReadQueued(buffer, count);
}
