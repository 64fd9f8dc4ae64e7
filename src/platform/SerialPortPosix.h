// The termios backend of ISerialPort: a tty device opened non-blocking and
// exclusively, in raw mode. Waits are poll() on the device and an eventfd,
// so clearing the event mask or closing wakes a waiting thread at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/SerialPort.h"

class CSerialPortPosix : public ISerialPort {
 public:
  CSerialPortPosix() = default;
  /// Closes the device if it is still open.
  ~CSerialPortPosix() override;
  CSerialPortPosix(const CSerialPortPosix&) = delete;
  CSerialPortPosix& operator=(const CSerialPortPosix&) = delete;

  /// open(2) non-blocking without controlling terminal, then TIOCEXCL and
  /// flock(LOCK_EX|LOCK_NB): a device held by anyone else is refused.
  bool Open(const std::string& device) override;
  /// True between a successful Open and Close (false once Close began).
  bool IsOpen() const override;
  /// Clearing the mask wakes a waiter through the eventfd.
  bool SetEventMask(uint32_t mask) override;
  /// No such notion on this OS: succeeds while open.
  bool SetupQueues(uint32_t inBytes, uint32_t outBytes) override;
  /// tcflush of both directions.
  bool Purge() override;
  /// Reads never wait here anyway; the write time-out is kept for Write.
  bool SetTimeouts(uint32_t readTotalMs, uint32_t writeTotalMs) override;
  /// cfmakeraw, speed, size, parity, stop bits, XON/XOFF, CLOCAL|CREAD;
  /// hardware handshake is left as the device had it; DTR dropped.
  bool ApplyLineSettings(const SerialLineSettings& settings) override;
  /// poll() on the device and the eventfd. A hang-up or error of the
  /// device reports Failed; a cleared mask or Close reports MaskCleared.
  PortWait WaitEvent() override;
  /// The same poll with a time limit: TimedOut when it passes quietly.
  PortWait WaitEventFor(uint32_t timeoutMs) override;
  /// FIONREAD.
  int QueuedInput() override;
  /// One non-blocking read(2); 0 when nothing is queued.
  int Read(uint8_t* buffer, uint32_t count) override;
  /// Writes everything, waiting with poll(POLLOUT) while the kernel's
  /// buffer is full, within the write time-out; does not wait for the line
  /// to drain.
  bool Write(const uint8_t* data, uint32_t count) override;
  /// TIOCMBIC of DTR, then RTS; devices without modem lines succeed.
  bool ClearDtrRts() override;
  /// Wakes any waiter, waits until calls of other threads have left, then
  /// closes the descriptor.
  bool Close() override;
  /// The last failure; read it on the thread that saw the call fail.
  const std::string& LastError() const override { return m_strError; }
  /// The cause of the last failure, sorted from its errno.
  PortFailure LastFailure() const override;

 private:
  PortWait Wait(int timeoutMs);  // -1: no time limit
  int Enter(int* eventFd = nullptr);  // the descriptor for one call, or -1 when closed
  void Leave();  // ends a call begun by a successful Enter
  /// Records a failure; `cause` None takes the cause from `err` as for a
  /// device that was open.
  bool Fail(const std::string& what, int err, PortCause cause = PortCause::None);
  bool ClearModemLine(int fd, int line, const char* name);

  mutable std::mutex m_lock;       // guards the descriptors and m_nInFlight
  std::condition_variable m_idle;  // signalled when m_nInFlight drops to 0
  int m_fd = -1;
  int m_eventFd = -1;
  int m_nInFlight = 0;
  std::atomic<bool> m_bClosing{false};
  std::atomic<uint32_t> m_nWriteTimeoutMs{1000};
  std::atomic<uint32_t> m_mask{0};
  mutable std::mutex m_errorLock;  // failures may be seen on either thread
  std::string m_strError;
  PortFailure m_failure;
};
