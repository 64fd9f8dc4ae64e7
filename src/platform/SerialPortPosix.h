// The termios backend of ISerialPort: a tty device opened non-blocking and
// exclusively, in raw mode. Waits are poll() on the device and an eventfd,
// so clearing the event mask or closing wakes a waiting thread at once.
#pragma once

#include <cstdint>
#include <string>

#include "platform/SerialPortBase.h"

class CSerialPortPosix : public CSerialPortBase {
 public:
  CSerialPortPosix() = default;
  /// Closes the device if it is still open.
  ~CSerialPortPosix() override;

  /// open(2) non-blocking without controlling terminal, then TIOCEXCL and
  /// flock(LOCK_EX|LOCK_NB): a device held by anyone else is refused.
  bool Open(const std::string& device) override;
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

 private:
  bool HasHandle() const override { return m_fd >= 0; }
  PortWait Wait(int timeoutMs);  // -1: no time limit
  /// Records a failure; `cause` None takes the cause from `err` as for a
  /// device that was open.
  bool Fail(const std::string& what, int err, PortCause cause = PortCause::None);
  bool NotOpen();
  bool ClearModemLine(int fd, int line, const char* name);

  int m_fd = -1;
  int m_eventFd = -1;
};
