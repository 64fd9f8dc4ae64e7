#include "platform/SerialPort.h"

#include "platform/SerialPortBase.h"

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
