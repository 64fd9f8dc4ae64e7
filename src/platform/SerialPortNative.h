// The serial port of the OS the program runs on: a handset's device opened
// exclusively, in raw binary mode, its waits woken at once by a cleared mask
// or by Close. Declared once; each OS defines it in its own file
// (SerialPortPosix.cpp, SerialPortWin32.cpp), which says how it does each
// step there. What both do alike is in SerialPort.cpp.
//
// No OS header comes in here: <windows.h> defines EV_RXCHAR as a macro,
// which would break SerialPort.h for every file that included it first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/SerialPortBase.h"

class CSerialPortNative : public CSerialPortBase {
 public:
  CSerialPortNative();
  /// Closes the device if it is still open.
  ~CSerialPortNative() override;

  /// Opens the device exclusively: a device another process (or another
  /// port object) holds is refused as busy; a path that opens but is no
  /// serial device is refused as not a terminal.
  bool Open(const std::string& device) override;
  /// Clearing the mask wakes a waiter at once (and every later wait until a
  /// mask is set again).
  bool SetEventMask(uint32_t mask) override;
  /// The driver's queue sizes where the OS has them; else succeeds while
  /// open.
  bool SetupQueues(uint32_t inBytes, uint32_t outBytes) override;
  /// Discards what is queued both ways, and a received byte a wait holds.
  bool Purge() override;
  /// Reads never wait; the write time-out is kept for Write.
  bool SetTimeouts(uint32_t readTotalMs, uint32_t writeTotalMs) override;
  /// Speed, byte size, parity, stop bits, XON/XOFF both ways, DTR dropped;
  /// hardware handshake stays as the device had it.
  bool ApplyLineSettings(const SerialLineSettings& settings) override;
  /// Waits natively on the device and on the wake-up of a cleared mask or
  /// Close: RxChar, MaskCleared, or Failed when the device failed or went
  /// away (a hang-up wins over queued input).
  PortWait WaitEvent() override;
  /// The same wait with a time limit: TimedOut when it passes quietly.
  PortWait WaitEventFor(uint32_t timeoutMs) override;
  /// What the driver holds, plus a byte a wait holds.
  int QueuedInput() override;
  /// Takes what is queued without waiting, in the order it came; 0 when
  /// nothing is.
  int Read(uint8_t* buffer, uint32_t count) override;
  /// Writes everything within the write time-out; done once the driver has
  /// taken the bytes, not once they have left the line.
  bool Write(const uint8_t* data, uint32_t count) override;
  /// DTR, then RTS; devices without modem lines succeed.
  bool ClearDtrRts() override;
  /// Wakes a waiter and ends I/O in progress, waits until the calls of
  /// other threads have left, then closes the device.
  bool Close() override;

 private:
  struct Os;  // the OS's handles and what its waits keep, per OS file

  bool HasHandle() const override;
  /// Records a failure. `err` is the OS's code (errno, GetLastError), 0 for
  /// none; `cause` None sorts it as for a device that was open.
  bool Fail(const std::string& what, unsigned long err, PortCause cause = PortCause::None);
  bool NotOpen();
  /// SetEventMask's own step, with m_lock held and the mask stored: lets a
  /// waiter see the new mask.
  bool MaskChanged(uint32_t mask);
  /// Read's own step, inside the gate, `count` > 0.
  int ReadQueued(uint8_t* buffer, uint32_t count);
  /// Close's first step, with m_lock held: wakes a waiter and ends the
  /// device's I/O in progress.
  void WakeForClose();
  /// Close's last step, once no call is inside: frees the handles. False
  /// with the OS's code in `err` when closing the device failed (it is
  /// closed anyway).
  bool FreeHandles(unsigned long& err);

  std::unique_ptr<Os> m_os;
};
