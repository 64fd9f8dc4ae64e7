// One serial port as the link of a download entry uses it. The backend for
// each OS lives in its own file behind this interface (SerialPortPosix.cpp on
// Linux); tests install a factory of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

/// Event-mask bit: a character was received (the value of the Win32 one).
constexpr uint32_t EV_RXCHAR = 0x0001;

/// The fixed line settings of a handset's port.
struct SerialLineSettings {
  uint32_t baud = 57600;
  uint8_t byteSize = 8;
  uint8_t parity = 0;    ///< 0 = none
  uint8_t stopBits = 0;  ///< 0 = one stop bit
  bool binary = true;
  bool parityCheck = true;
  bool dtrOff = true;
  bool xonXoffOut = true;
  bool xonXoffIn = true;
};

/// How a blocking wait for port events ended.
enum class PortWait {
  RxChar,       ///< at least one character is queued
  MaskCleared,  ///< SetEventMask(0) was called (or Close), the normal stop
  Failed,       ///< the device failed or went away (hang-up, unplugged)
  TimedOut,     ///< WaitEventFor only: nothing came within its time
};

/// Why a port could not be opened or stopped working: a closed set, so that
/// the operator can be told what to do about each.
enum class PortCause {
  None,              ///< no failure
  NotFound,          ///< no such device (never there, or not bound)
  PermissionDenied,  ///< the device exists but this user may not open it
  Busy,              ///< another process or another entry holds it
  NotATerminal,      ///< the path is not a serial device (a file, a directory)
  IoError,           ///< the device or its driver failed
  TimedOut,          ///< the device did not take the bytes in time
  DeviceGone,        ///< the device went away while it was in use
};

/// The cause of a failure with the OS's own detail. ErrnoName and Detail are
/// defined by each OS's backend file: errno names on POSIX, the system's
/// error codes (GetLastError) on Windows.
struct PortFailure {
  PortCause cause = PortCause::None;
  int err = 0;           ///< errno (GetLastError on Windows), 0 when the OS gave none
  std::string what;      ///< the failing step ("open /dev/ttyACM3", "device hung up")

  /// "EACCES" for err, or empty when there is none.
  std::string ErrnoName() const;
  /// "EACCES: Permission denied", or `what` when there is no errno.
  std::string Detail() const;
};

/// "permission denied", "busy", ... ("" for None).
const char* PortCauseText(PortCause cause);

/// The cause an errno stands for when `call` failed on a device: open and
/// set-up calls, or calls on a device that was open (then ENODEV and EIO mean
/// it went away).
PortCause PortCauseOfErrno(int err, bool wasOpen);

/// A serial port. Errors are kept per object (LastError), never globally.
///
/// Threads: one thread (the dialog's) opens, configures, writes and closes;
/// one other thread (the entry's receive thread) may at the same time sit in
/// WaitEvent, QueuedInput and Read. Close and SetEventMask(0) must release a
/// waiter at once, and Close must not free the descriptor while the other
/// thread is still inside a call on it.
class ISerialPort {
 public:
  virtual ~ISerialPort() = default;

  /// Opens `device` for reading and writing, exclusively: a second opener of
  /// a held device fails, as a held COM port does. Non-blocking descriptor,
  /// no controlling terminal.
  virtual bool Open(const std::string& device) = 0;

  /// True between a successful Open and Close.
  virtual bool IsOpen() const = 0;

  /// Sets the events a waiter is woken for (EV_RXCHAR or 0). Setting 0 ends
  /// a WaitEvent in progress with PortWait::MaskCleared, and every later
  /// wait too until a non-zero mask is set again.
  virtual bool SetEventMask(uint32_t mask) = 0;

  /// Asks the driver for input and output queue sizes where the OS has such
  /// a notion; succeeds as a no-op elsewhere.
  virtual bool SetupQueues(uint32_t inBytes, uint32_t outBytes) = 0;

  /// Discards everything queued in both directions.
  virtual bool Purge() = 0;

  /// Read calls never wait (they take only queued bytes); a Write gives up
  /// after `writeTotalMs`.
  virtual bool SetTimeouts(uint32_t readTotalMs, uint32_t writeTotalMs) = 0;

  /// Applies the line settings (raw/binary mode). False leaves the port
  /// open; the caller closes it.
  virtual bool ApplyLineSettings(const SerialLineSettings& settings) = 0;

  /// Blocks until a character is queued (when the mask holds EV_RXCHAR),
  /// the mask is cleared, or the device fails.
  virtual PortWait WaitEvent() = 0;

  /// As WaitEvent, but gives up after `timeoutMs` with PortWait::TimedOut
  /// (0: only looks). Backends wait natively; this fallback looks at the
  /// queue once a millisecond, so it suits test doubles, not a real bench.
  virtual PortWait WaitEventFor(uint32_t timeoutMs);

  /// Number of received bytes queued in the driver; -1 on failure. Also
  /// clears a pending error state of the port.
  virtual int QueuedInput() = 0;

  /// Reads up to `count` already-queued bytes without waiting. Returns the
  /// number read, or -1 on failure.
  virtual int Read(uint8_t* buffer, uint32_t count) = 0;

  /// Writes all `count` bytes, waiting until the driver has accepted them
  /// all or the write time-out has passed. False on failure or time-out.
  virtual bool Write(const uint8_t* data, uint32_t count) = 0;

  /// Drops DTR, then RTS. Devices without modem-control lines (pseudo
  /// terminals) succeed.
  virtual bool ClearDtrRts() = 0;

  /// Closes the device. False if closing failed (the port is closed anyway)
  /// or it was not open.
  virtual bool Close() = 0;

  /// Text of the last failure on this object, for trace lines.
  virtual const std::string& LastError() const = 0;

  /// Cause and detail of the last failure on this object. Backends that do
  /// not sort their failures report an I/O error with LastError's text.
  virtual PortFailure LastFailure() const { return {PortCause::IoError, 0, LastError()}; }
};

using SerialPortFactory = std::function<std::unique_ptr<ISerialPort>()>;

/// Creates a port with the current factory (the OS backend by default).
std::unique_ptr<ISerialPort> CreateSerialPort();

/// A port of this OS's own backend, whatever the factory: defined by the
/// backend's file (SerialPortPosix.cpp, SerialPortWin32.cpp).
std::unique_ptr<ISerialPort> CreateOsSerialPort();

/// Replaces the factory used by CreateSerialPort; an empty function restores
/// the OS backend. Returns the previous factory. For tests.
SerialPortFactory SetSerialPortFactory(SerialPortFactory factory);
