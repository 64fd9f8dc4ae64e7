// The serial port on POSIX: a tty device opened non-blocking, without
// controlling terminal, exclusively (flock and TIOCEXCL), in raw mode
// through termios. Its waits are poll() on the device and an eventfd, which
// a cleared mask and Close write to, so a waiter wakes at once. There are
// no driver queues to size, and no byte is ever held: input stays in the
// kernel's queue until Read takes it.
#include "platform/SerialPortNative.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <chrono>
#include <cstring>
#include <system_error>

namespace {

bool BaudToSpeed(uint32_t baud, speed_t& speed) {
  struct Pair {
    uint32_t baud;
    speed_t speed;
  };
  static constexpr Pair kSpeeds[] = {
      {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
      {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
      {230400, B230400}, {460800, B460800}, {921600, B921600},
  };
  for (const Pair& p : kSpeeds) {
    if (p.baud == baud) {
      speed = p.speed;
      return true;
    }
  }
  return false;
}

// Pseudo-terminals (and some USB adapters) have no modem-control lines and
// refuse the ioctls with one of these; for them there is nothing to drop.
bool NoModemLines(int err) { return err == ENOTTY || err == EINVAL; }

// Drops one modem line (TIOCMBIC): 0, or the errno of a device that has
// modem lines and refused.
int ClearModemLine(int fd, int line) {
  int bits = line;
  if (::ioctl(fd, TIOCMBIC, &bits) == 0) return 0;
  const int err = errno;
  return NoModemLines(err) ? 0 : err;
}

}  // namespace

struct CSerialPortNative::Os {
  explicit Os(CSerialPortNative& owner) : port(owner) {}

  /// Makes a waiting poll return; the mask or the closing flag says why.
  bool Wake() const {
    const uint64_t one = 1;
    return ::write(eventFd, &one, sizeof one) == static_cast<ssize_t>(sizeof one);
  }
  /// WaitEvent's and WaitEventFor's poll; -1: no time limit.
  PortWait Wait(int timeoutMs);
  /// Drops `line` unless the device has no modem lines; records a refusal.
  bool DropLine(int line, const char* name) {
    const int err = ClearModemLine(fd, line);
    return err == 0 || port.Fail(std::string("clear ") + name, static_cast<unsigned long>(err));
  }

  CSerialPortNative& port;
  int fd = -1;
  int eventFd = -1;  ///< written to wake a waiter
};

std::unique_ptr<ISerialPort> CreateOsSerialPort() { return std::make_unique<CSerialPortNative>(); }

std::string PortFailure::ErrnoName() const {
  if (err == 0) return {};
  // A held lock (flock) is reported as EWOULDBLOCK, which is the same value
  // as EAGAIN: name it as the lock's manual does.
  if (err == EWOULDBLOCK) return "EWOULDBLOCK";
  const char* name = ::strerrorname_np(err);
  return name ? name : "errno " + std::to_string(err);
}

std::string PortFailure::Detail() const {
  if (err == 0) return what;
  const char* text = ::strerrordesc_np(err);  // unlike strerror, safe on any thread
  return ErrnoName() + ": " + (text ? text : "unknown error");
}

CSerialPortNative::CSerialPortNative() : m_os(std::make_unique<Os>(*this)) {}

CSerialPortNative::~CSerialPortNative() {
  if (IsOpen()) Close();
}

bool CSerialPortNative::HasHandle() const { return m_os->fd >= 0; }

bool CSerialPortNative::Fail(const std::string& what, unsigned long err, PortCause cause) {
  const int code = static_cast<int>(err);
  return Record({cause != PortCause::None ? cause : PortCauseOfErrno(code, true), code, what},
                code != 0 ? std::system_category().message(code) : std::string());
}

bool CSerialPortNative::NotOpen() { return Fail("not open", EBADF); }

// open(2), then flock(LOCK_EX|LOCK_NB) and TIOCEXCL; /dev/null and other
// non-terminals fail TIOCEXCL with ENOTTY.
bool CSerialPortNative::Open(const std::string& device) {
  std::lock_guard<std::mutex> guard(m_lock);
  // Nothing was open before a failure here: ENODEV and EIO mean the device
  // is absent or broken, not that it went away.
  auto failOpen = [this](const std::string& what, int err) {
    return Fail(what, static_cast<unsigned long>(err), PortCauseOfErrno(err, false));
  };
  if (m_os->fd >= 0) return Fail("already open", EBUSY);
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return failOpen("open " + device, errno);
  // The lock first: a device somebody else holds must not have its mode
  // changed by a refused opener. TIOCEXCL then keeps out openers that do not
  // take the lock (root is not kept out by it, hence both).
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    return failOpen("lock " + device, err);
  }
  if (::ioctl(fd, TIOCEXCL) != 0) {
    const int err = errno;
    ::close(fd);
    return failOpen("exclusive " + device, err);
  }
  const int efd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (efd < 0) {
    const int err = errno;
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return failOpen("eventfd", err);
  }
  m_os->fd = fd;
  m_os->eventFd = efd;
  Opened();
  return true;
}

bool CSerialPortNative::MaskChanged(uint32_t mask) {
  if (mask == 0 && !m_os->Wake()) return Fail("wake waiter", errno);
  return true;
}

// No such notion here.
bool CSerialPortNative::SetupQueues(uint32_t inBytes, uint32_t outBytes) {
  (void)inBytes;
  (void)outBytes;
  if (!IsOpen()) return NotOpen();
  return true;
}

// tcflush of both directions.
bool CSerialPortNative::Purge() {
  const CCall call(*this);
  if (!call) return NotOpen();
  if (::tcflush(m_os->fd, TCIOFLUSH) != 0) return Fail("tcflush", errno);
  return true;
}

bool CSerialPortNative::SetTimeouts(uint32_t readTotalMs, uint32_t writeTotalMs) {
  (void)readTotalMs;  // reads take only what is queued; they never wait
  if (!IsOpen()) return NotOpen();
  m_nWriteTimeoutMs = writeTotalMs;
  return true;
}

// cfmakeraw, speed, size, parity, stop bits, XON/XOFF, CLOCAL|CREAD, then
// TIOCMBIC of DTR.
bool CSerialPortNative::ApplyLineSettings(const SerialLineSettings& settings) {
  const CCall call(*this);
  if (!call) return NotOpen();
  const int fd = m_os->fd;
  termios tio{};
  speed_t speed = B0;
  if (::tcgetattr(fd, &tio) != 0) return Fail("tcgetattr", errno);
  if (!BaudToSpeed(settings.baud, speed)) return Fail("unsupported baud rate " + std::to_string(settings.baud), EINVAL);
  bool ok = true;
  // Raw mode is the binary mode: no line editing, no translation.
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
  switch (settings.byteSize) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    case 8: tio.c_cflag |= CS8; break;
    default: ok = Fail("unsupported byte size", EINVAL); break;
  }
  // Parity codes as the handsets' tool numbers them: 0 none, 1 odd, 2 even.
  switch (settings.parity) {
    case 0: tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD); break;
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag = (tio.c_cflag | PARENB) & ~static_cast<tcflag_t>(PARODD); break;
    default: ok = Fail("unsupported parity", EINVAL); break;
  }
  if (settings.parityCheck && settings.parity != 0) tio.c_iflag |= INPCK;
  // Stop-bit codes: 0 one, 2 two (1, one and a half, has no termios form).
  switch (settings.stopBits) {
    case 0: tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB); break;
    case 2: tio.c_cflag |= CSTOPB; break;
    default: ok = Fail("unsupported stop bits", EINVAL); break;
  }
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  if (settings.xonXoffOut) tio.c_iflag |= IXON;
  if (settings.xonXoffIn) tio.c_iflag |= IXOFF;
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (ok && ::tcsetattr(fd, TCSANOW, &tio) != 0) ok = Fail("tcsetattr", errno);
  if (ok && settings.dtrOff) ok = m_os->DropLine(TIOCM_DTR, "DTR");
  return ok;
}

PortWait CSerialPortNative::WaitEvent() { return m_os->Wait(-1); }

PortWait CSerialPortNative::WaitEventFor(uint32_t timeoutMs) {
  // poll takes an int; anything longer than that is as good as forever.
  return m_os->Wait(timeoutMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs));
}

PortWait CSerialPortNative::Os::Wait(int timeoutMs) {
  const CCall call(port);
  if (!call) return PortWait::MaskCleared;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    const uint32_t mask = port.m_mask.load();
    if (port.m_bClosing.load() || mask == 0) return PortWait::MaskCleared;
    // A wake-up or a signal must not restart the whole time limit.
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    // Without EV_RXCHAR only a failure of the device (always reported by
    // poll) or a wake-up ends the wait.
    pollfd fds[2] = {{fd, static_cast<short>((mask & EV_RXCHAR) ? POLLIN : 0), 0}, {eventFd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      port.Fail("poll", errno);
      return PortWait::Failed;
    }
    if (ready == 0) return PortWait::TimedOut;
    if (fds[1].revents & POLLIN) {
      uint64_t count = 0;
      (void)!::read(eventFd, &count, sizeof count);
      continue;  // the mask or the closing flag says why
    }
    // A hang-up wins over queued input: the device is gone, and its input
    // cannot be read any more (a pty slave reports it once nobody holds the
    // master).
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      port.Fail(fds[0].revents & POLLHUP ? "device hung up" : "device error", 0, PortCause::DeviceGone);
      return PortWait::Failed;
    }
    if (fds[0].revents & POLLIN) return PortWait::RxChar;
  }
}

// FIONREAD.
int CSerialPortNative::QueuedInput() {
  const CCall call(*this);
  if (!call) {
    NotOpen();
    return -1;
  }
  int queued = 0;
  if (::ioctl(m_os->fd, FIONREAD, &queued) != 0) {
    Fail("FIONREAD", errno);
    return -1;
  }
  return queued;
}

// One non-blocking read(2).
int CSerialPortNative::ReadQueued(uint8_t* buffer, uint32_t count) {
  for (;;) {
    const ssize_t n = ::read(m_os->fd, buffer, count);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    Fail("read", errno);
    return -1;
  }
}

// write(2) as far as the kernel's buffer takes it, poll(POLLOUT) while it
// is full.
bool CSerialPortNative::Write(const uint8_t* data, uint32_t count) {
  const CCall call(*this);
  if (!call) return NotOpen();
  const int fd = m_os->fd;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(m_nWriteTimeoutMs.load());
  auto msLeft = [&] {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
  };
  bool ok = true;
  uint32_t done = 0;
  while (ok && done < count) {
    const ssize_t n = ::write(fd, data + done, count - done);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      ok = Fail("write", errno);
      break;
    }
    const int wait = msLeft();
    if (wait == 0) {
      ok = Fail("write timed out", ETIMEDOUT);
      break;
    }
    pollfd out{fd, POLLOUT, 0};
    const int r = ::poll(&out, 1, wait);
    if (r < 0 && errno != EINTR) ok = Fail("poll", errno);
    else if (r > 0 && (out.revents & (POLLHUP | POLLERR | POLLNVAL))) ok = Fail("device gone", EIO, PortCause::DeviceGone);
  }
  // The bytes count as written once the kernel has taken them all. Waiting
  // for its queue to drain as well would hold the dialog's thread for a
  // block's whole wire time (178 ms at 57600 baud) on every entry in turn,
  // so twenty entries on real UARTs would take turns instead of running in
  // parallel; the handset's reply says when the block arrived anyway.
  return ok;
}

// TIOCMBIC of DTR, then RTS.
bool CSerialPortNative::ClearDtrRts() {
  const CCall call(*this);
  if (!call) return NotOpen();
  return m_os->DropLine(TIOCM_DTR, "DTR") && m_os->DropLine(TIOCM_RTS, "RTS");
}

void CSerialPortNative::WakeForClose() { (void)m_os->Wake(); }

bool CSerialPortNative::FreeHandles(unsigned long& err) {
  const int fd = m_os->fd;
  const int efd = m_os->eventFd;
  m_os->fd = -1;
  m_os->eventFd = -1;
  ::ioctl(fd, TIOCNXCL);
  // On Linux the descriptor is gone even when close reports EINTR.
  const bool ok = ::close(fd) == 0 || errno == EINTR;
  err = static_cast<unsigned long>(errno);
  ::close(efd);
  return ok;
}
