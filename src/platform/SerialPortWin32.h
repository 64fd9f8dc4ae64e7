// The Win32 backend of ISerialPort: a COM port (\\.\COMn) opened for
// overlapped I/O, its line settings through the DCB.
//
// The receive wait is an overlapped ReadFile of one byte with all-zero
// time-outs: it completes when the first byte arrives. WaitCommEvent is not
// used, because Wine's serial layer fails it at once on a device without
// modem lines (a pty behind a COM port), and the one-byte read waits the
// same way on Windows. The byte that ends the wait is held and handed out
// first by the next Read (QueuedInput counts it), so no byte is lost or
// reordered. Clearing the event mask and Close wake the waiter through an
// event of their own and cancel the read with CancelIoEx.
//
// <windows.h> stays out of this header: its EV_RXCHAR macro would break
// SerialPort.h for every file that included it first.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/SerialPortBase.h"

/// The cause a Win32 error stands for (see the mapping's comments). `wasOpen`
/// as for PortCauseOfErrno: errors on a port that was open mean it went away.
PortCause PortCauseOfWin32Error(unsigned long err, bool wasOpen);

/// The device name CreateFileW is given: "COM7" and "7" become "\\.\COM7",
/// anything else is taken as it is.
std::wstring Win32DeviceName(const std::string& device);

class CSerialPortWin32 : public CSerialPortBase {
 public:
  CSerialPortWin32();
  /// Closes the port if it is still open.
  ~CSerialPortWin32() override;

  /// CreateFileW, not shared, overlapped; the serial driver refuses a port
  /// that another handle holds.
  bool Open(const std::string& device) override;
  /// 0 wakes a waiter at once (and every later wait until a mask is set).
  bool SetEventMask(uint32_t mask) override;
  /// SetupComm.
  bool SetupQueues(uint32_t inBytes, uint32_t outBytes) override;
  /// PurgeComm of both directions, aborting pending I/O; a held byte is
  /// discarded too.
  bool Purge() override;
  /// All read time-outs zero (reads take only what is queued, so they never
  /// wait; the receive wait needs them zero), write total = `writeTotalMs`.
  bool SetTimeouts(uint32_t readTotalMs, uint32_t writeTotalMs) override;
  /// GetCommState, the settings, SetCommState; the rest of the DCB (RTS,
  /// hardware handshake, XON/XOFF characters and limits) as the port had it.
  bool ApplyLineSettings(const SerialLineSettings& settings) override;
  PortWait WaitEvent() override;
  /// Waits on the pending one-byte read and the wake-up event together.
  /// A time-out leaves the read pending for the next wait.
  PortWait WaitEventFor(uint32_t timeoutMs) override;
  /// ClearCommError's cbInQue, plus one for a held byte.
  int QueuedInput() override;
  /// The held byte first, then at most what ClearCommError reports queued.
  int Read(uint8_t* buffer, uint32_t count) override;
  /// Overlapped WriteFile, waited for within the write time-out.
  bool Write(const uint8_t* data, uint32_t count) override;
  /// EscapeCommFunction CLRDTR, then CLRRTS.
  bool ClearDtrRts() override;
  /// Wakes the waiter, cancels the handle's I/O, waits until calls of other
  /// threads have left, then closes the handle.
  bool Close() override;

 private:
  struct Io;  // the handles and overlapped records
  /// Where the one-byte wait read stands before a wait.
  enum class WaitRead {
    Pending,  ///< issued (now or before): wait for its event
    Input,    ///< a byte is held or queued already
    Again,    ///< it ended at once without a byte: look again
    Failed,   ///< the port failed; the failure is recorded
  };

  bool HasHandle() const override;
  /// Records a failure; `cause` None sorts `err` as for an open port.
  bool Fail(const std::string& what, unsigned long err, PortCause cause = PortCause::None);
  bool NotOpen();
  /// Settles the one-byte read: collects it if it has completed (or waits
  /// for it when `cancel`, after cancelling it). Call with m_rxLock held.
  /// False when it failed otherwise than by being cancelled.
  bool SettleWaitRead(void* h, bool cancel);
  bool Queued(void* h, unsigned long& queued);
  /// The wait's first step: input already there, or the read issued.
  WaitRead IssueWaitRead(void* h, int& emptyReads);
  /// After the read's event: collects its byte, or tells an abort the
  /// port survived (a purge) from a port that is gone. False when gone.
  bool TakeWaitRead(void* h, int& emptyReads);
  /// Counts a read that ended with no byte and no stop asked for: a few
  /// are a purge's doing and cost a pause of a millisecond each; a driver
  /// that does nothing else has lost its device (false, recorded as `what`).
  bool EmptyRead(int& emptyReads, const char* what, unsigned long err);

  // The receive side (the wait read, the held byte): the receive thread's,
  // and Purge's and Close's.
  std::mutex m_rxLock;
  std::unique_ptr<Io> m_io;
};
