#include "platform/SerialPortPosix.h"

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

}  // namespace

std::unique_ptr<ISerialPort> CreateOsSerialPort() { return std::make_unique<CSerialPortPosix>(); }

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

CSerialPortPosix::~CSerialPortPosix() {
  if (IsOpen()) Close();
}

bool CSerialPortPosix::Fail(const std::string& what, int err, PortCause cause) {
  return Record({cause != PortCause::None ? cause : PortCauseOfErrno(err, true), err, what},
                err != 0 ? std::system_category().message(err) : std::string());
}

bool CSerialPortPosix::NotOpen() { return Fail("not open", EBADF); }

bool CSerialPortPosix::Open(const std::string& device) {
  std::lock_guard<std::mutex> guard(m_lock);
  // Nothing was open before a failure here: ENODEV and EIO mean the device
  // is absent or broken, not that it went away.
  auto failOpen = [this](const std::string& what, int err) { return Fail(what, err, PortCauseOfErrno(err, false)); };
  if (m_fd >= 0) return Fail("already open", EBUSY);
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
  m_fd = fd;
  m_eventFd = efd;
  Opened();
  return true;
}

bool CSerialPortPosix::SetEventMask(uint32_t mask) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!UsableLocked()) return NotOpen();
  m_mask = mask;
  if (mask == 0) {
    const uint64_t one = 1;
    if (::write(m_eventFd, &one, sizeof one) != static_cast<ssize_t>(sizeof one))
      return Fail("wake waiter", errno);
  }
  return true;
}

bool CSerialPortPosix::SetupQueues(uint32_t inBytes, uint32_t outBytes) {
  (void)inBytes;
  (void)outBytes;
  if (!IsOpen()) return NotOpen();
  return true;
}

bool CSerialPortPosix::Purge() {
  const CCall call(*this);
  if (!call) return NotOpen();
  if (::tcflush(m_fd, TCIOFLUSH) != 0) return Fail("tcflush", errno);
  return true;
}

bool CSerialPortPosix::SetTimeouts(uint32_t readTotalMs, uint32_t writeTotalMs) {
  (void)readTotalMs;  // reads take only what is queued; they never wait
  if (!IsOpen()) return NotOpen();
  m_nWriteTimeoutMs = writeTotalMs;
  return true;
}

bool CSerialPortPosix::ClearModemLine(int fd, int line, const char* name) {
  int bits = line;
  if (::ioctl(fd, TIOCMBIC, &bits) == 0) return true;
  const int err = errno;
  if (NoModemLines(err)) return true;
  return Fail(std::string("clear ") + name, err);
}

bool CSerialPortPosix::ApplyLineSettings(const SerialLineSettings& settings) {
  const CCall call(*this);
  if (!call) return NotOpen();
  const int fd = m_fd;
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
  if (ok && settings.dtrOff) ok = ClearModemLine(fd, TIOCM_DTR, "DTR");
  return ok;
}

PortWait CSerialPortPosix::WaitEvent() { return Wait(-1); }

PortWait CSerialPortPosix::WaitEventFor(uint32_t timeoutMs) {
  // poll takes an int; anything longer than that is as good as forever.
  return Wait(timeoutMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs));
}

PortWait CSerialPortPosix::Wait(int timeoutMs) {
  const CCall call(*this);
  if (!call) return PortWait::MaskCleared;
  const int fd = m_fd;
  const int efd = m_eventFd;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    const uint32_t mask = m_mask.load();
    if (m_bClosing.load() || mask == 0) return PortWait::MaskCleared;
    // A wake-up or a signal must not restart the whole time limit.
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    // Without EV_RXCHAR only a failure of the device (always reported by
    // poll) or a wake-up ends the wait.
    pollfd fds[2] = {{fd, static_cast<short>((mask & EV_RXCHAR) ? POLLIN : 0), 0}, {efd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      Fail("poll", errno);
      return PortWait::Failed;
    }
    if (ready == 0) return PortWait::TimedOut;
    if (fds[1].revents & POLLIN) {
      uint64_t count = 0;
      (void)!::read(efd, &count, sizeof count);
      continue;  // the mask or the closing flag says why
    }
    // A hang-up wins over queued input: the device is gone, and its input
    // cannot be read any more (a pty slave reports it once nobody holds the
    // master).
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      Fail(fds[0].revents & POLLHUP ? "device hung up" : "device error", 0, PortCause::DeviceGone);
      return PortWait::Failed;
    }
    if (fds[0].revents & POLLIN) return PortWait::RxChar;
  }
}

int CSerialPortPosix::QueuedInput() {
  const CCall call(*this);
  if (!call) {
    NotOpen();
    return -1;
  }
  int queued = 0;
  if (::ioctl(m_fd, FIONREAD, &queued) != 0) {
    Fail("FIONREAD", errno);
    return -1;
  }
  return queued;
}

int CSerialPortPosix::Read(uint8_t* buffer, uint32_t count) {
  const CCall call(*this);
  if (!call) {
    NotOpen();
    return -1;
  }
  if (count == 0) return 0;
  for (;;) {
    const ssize_t n = ::read(m_fd, buffer, count);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    Fail("read", errno);
    return -1;
  }
}

bool CSerialPortPosix::Write(const uint8_t* data, uint32_t count) {
  const CCall call(*this);
  if (!call) return NotOpen();
  const int fd = m_fd;
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

bool CSerialPortPosix::ClearDtrRts() {
  const CCall call(*this);
  if (!call) return NotOpen();
  return ClearModemLine(m_fd, TIOCM_DTR, "DTR") && ClearModemLine(m_fd, TIOCM_RTS, "RTS");
}

bool CSerialPortPosix::Close() {
  std::unique_lock<std::mutex> lock(m_lock);
  if (!UsableLocked()) return NotOpen();
  // Wake a waiter first, then let every call of the other thread leave
  // before the descriptor can be reused for something else.
  m_bClosing = true;
  const uint64_t one = 1;
  (void)!::write(m_eventFd, &one, sizeof one);
  AwaitCallsLeft(lock);
  const int fd = m_fd;
  const int efd = m_eventFd;
  m_fd = -1;
  m_eventFd = -1;
  ::ioctl(fd, TIOCNXCL);
  // On Linux the descriptor is gone even when close reports EINTR.
  const bool ok = ::close(fd) == 0 || errno == EINTR;
  const int err = errno;
  ::close(efd);
  Closed();
  lock.unlock();
  if (!ok) return Fail("close", err);
  return true;
}
