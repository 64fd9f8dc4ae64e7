#include "sim/SimHandset.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <sstream>

#include "sim/SimPacer.h"

namespace {

uint64_t NowUs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Longest sleep of the service loop; Stop wakes it sooner through the pipe.
constexpr int kMaxPollMs = 100;
// How long to leave a failing master alone before looking at it again.
constexpr uint64_t kQuietUs = 50000;

}  // namespace

CSimHandset::CSimHandset(const SimHandsetConfig& config)
    : m_protocol(config), m_nPaceBps(config.paceBps), m_nProgramUs(config.programUs) {}

CSimHandset::~CSimHandset() { Stop(); }

bool CSimHandset::Start(std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    CloseFd(m_slave);
    CloseFd(m_master);
    CloseFd(m_wake[0]);
    CloseFd(m_wake[1]);
    return false;
  };
  if (m_bStarted) {
    if (error) *error = "handset already started";
    return false;
  }
  m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) return fail("posix_openpt");
  char name[128];
  if (::ptsname_r(m_master, name, sizeof name) != 0) return fail("ptsname");
  if (::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK) != 0) return fail("pty master");
  // Holding a slave descriptor of our own keeps the master from reporting a
  // hang-up (and poll from spinning) whenever the tool closes its side; raw
  // mode keeps the line from echoing or translating anything before the tool
  // sets it up.
  m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_slave < 0) return fail("open slave");
  termios tio{};
  if (::tcgetattr(m_slave, &tio) != 0) return fail("tcgetattr");
  ::cfmakeraw(&tio);
  if (::tcsetattr(m_slave, TCSANOW, &tio) != 0) return fail("tcsetattr");
  if (::pipe2(m_wake, O_NONBLOCK | O_CLOEXEC) != 0) return fail("pipe");
  m_slavePath = name;
  m_bStop.store(false);
  m_bStarted = true;
  m_thread = std::thread([this] { Serve(); });
  return true;
}

void CSimHandset::Stop() {
  if (!m_bStarted) return;
  m_bStop.store(true);
  const uint8_t b = 1;
  [[maybe_unused]] const ssize_t w = ::write(m_wake[1], &b, 1);
  if (m_thread.joinable()) m_thread.join();
  CloseFd(m_master);
  CloseFd(m_slave);
  CloseFd(m_wake[0]);
  CloseFd(m_wake[1]);
  m_bStarted = false;
  m_cv.notify_all();
}

void CSimHandset::AddFault(const SimFault& fault) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_protocol.AddFault(fault);
}

void CSimHandset::ClearFaults() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_protocol.ClearFaults();
}

void CSimHandset::SetEraseDelayMs(uint32_t ms) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_protocol.SetEraseDelayMs(ms);
}

SimRecord CSimHandset::Record() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_protocol.Record();
}

void CSimHandset::Inspect(const std::function<void(const SimRecord&)>& look) const {
  std::lock_guard<std::mutex> guard(m_lock);
  look(m_protocol.Record());
}

bool CSimHandset::WaitFor(const std::function<bool(const SimRecord&)>& cond, int timeoutMs) const {
  std::unique_lock<std::mutex> guard(m_lock);
  return m_cv.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return cond(m_protocol.Record()); });
}

std::string CSimHandset::Summary() const {
  std::lock_guard<std::mutex> guard(m_lock);
  const SimRecord& r = m_protocol.Record();
  std::ostringstream s;
  s << "requests " << r.requests.size() << ", erases " << r.erases.size() << ", blocks " << r.blocksReceived
    << " (written " << r.blocksWritten << "), markers " << r.markers << ", jumps " << r.jumps << ", transfers "
    << r.transfersDone << ", abandoned " << r.abandoned << ", violations " << r.violations.size();
  if (r.strays > 0) s << ", strays " << r.strays;
  if (r.hungUp) s << ", hung up";
  const size_t shown = std::min<size_t>(r.violations.size(), 10);
  for (size_t i = 0; i < shown; ++i) s << "\n    " << r.violations[i];
  if (shown < r.violations.size()) s << "\n    ... " << (r.violations.size() - shown) << " more";
  return s.str();
}

void CSimHandset::HangUp() {
  // Closing the master is what a pulled cable looks like to the tool: its
  // slave descriptor reports POLLHUP from now on.
  CloseFd(m_master);
  CloseFd(m_slave);
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_protocol.Record().hungUp = true;
  }
  m_cv.notify_all();
}

bool CSimHandset::WriteSome(std::vector<uint8_t>& out, size_t limit) {
  const size_t n = std::min(out.size(), limit);
  if (n == 0) return true;
  const ssize_t w = ::write(m_master, out.data(), n);
  if (w > 0) out.erase(out.begin(), out.begin() + w);
  return w >= 0 || errno == EAGAIN || errno == EINTR;
}

void CSimHandset::Serve() {
  // A paced line wakes this thread for each piece of a block and of a
  // reply; the kernel's default slack of 50 us per wait would add to every
  // one, time no real line takes.
  ::prctl(PR_SET_TIMERSLACK, 1UL);
  std::vector<uint8_t> out;  // reply bytes not yet on the line
  // A block's ACK waits here while the block is being programmed; whatever
  // the handset says after it waits behind it.
  std::vector<uint8_t> held;
  uint64_t heldUntilUs = 0;
  CSimPacer inPace, outPace;
  uint8_t buf[4096];
  uint64_t quietUntilUs = 0;
  uint64_t replyOutUs = 0;  // when the last reply's final byte left; 0 = none pending
  // `out` holds only a stray (chatter): it answers nothing, so the tool's
  // next unit is not waiting for it.
  bool outIsStray = false;
  bool inputIdle = true;    // nothing of the tool's is queued or on the line
  while (!m_bStop.load()) {
    const uint64_t nowUs = NowUs();
    const uint64_t nowMs = nowUs / 1000;
    const uint32_t bps = m_nPaceBps.load();
    int64_t deadline;
    bool hang;
    if (!held.empty() && nowUs >= heldUntilUs) {
      if (out.empty()) outPace.Restart(nowUs);
      out.insert(out.end(), held.begin(), held.end());
      held.clear();
      outIsStray = false;
    }
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_protocol.Tick(nowMs);
      const std::vector<uint8_t> more = m_protocol.TakeOutput();
      const std::vector<uint8_t> stray = m_protocol.TakeStray();
      if (!held.empty()) {
        held.insert(held.end(), more.begin(), more.end());
        held.insert(held.end(), stray.begin(), stray.end());
      } else {
        if (out.empty() && (!more.empty() || !stray.empty())) {
          outPace.Restart(nowUs);
          outIsStray = more.empty();
        } else if (!more.empty()) {
          outIsStray = false;
        }
        out.insert(out.end(), more.begin(), more.end());
        out.insert(out.end(), stray.begin(), stray.end());
      }
      deadline = m_protocol.NextDeadline();
      hang = m_protocol.HangUpWanted();
    }
    m_cv.notify_all();
    if (hang && m_master >= 0) HangUp();

    int64_t timeoutUs = int64_t{kMaxPollMs} * 1000;
    if (deadline >= 0)
      timeoutUs = std::min<int64_t>(timeoutUs, std::max<int64_t>(0, deadline - static_cast<int64_t>(nowMs)) * 1000);
    if (!held.empty())
      timeoutUs = std::min<int64_t>(timeoutUs, static_cast<int64_t>(heldUntilUs > nowUs ? heldUntilUs - nowUs : 0));
    pollfd fds[2] = {{m_wake[0], POLLIN, 0}, {-1, 0, 0}};
    size_t readLimit = sizeof buf;
    if (m_master >= 0 && nowUs >= quietUntilUs) {
      inPace.Refill(nowUs, bps);
      outPace.Refill(nowUs, bps);
      if (!out.empty()) {
        const size_t before = out.size();
        // Paced, the tool may see a reply's bytes only once they have
        // crossed the line: each piece goes out in one write when its last
        // byte's time has come. Pieces of a few milliseconds keep the gaps
        // within a reply as short as a USB adapter's, well inside the
        // tool's 5 ms burst.
        const size_t piece = std::min(out.size(), CSimPacer::Piece(bps));
        const size_t allowed = !bps ? out.size() : outPace.Available() >= piece ? piece : 0;
        if (!WriteSome(out, allowed)) quietUntilUs = nowUs + kQuietUs;
        const size_t sent = before - out.size();
        if (bps) outPace.Spend(sent);
        if (out.empty() && sent > 0 && !outIsStray) replyOutUs = NowUs();
      }
      fds[1].fd = m_master;
      int queued = 0;
      if (bps && !inputIdle && ::ioctl(m_master, FIONREAD, &queued) == 0 && queued > 0) {
        // Bytes of the tool's that are already queued are taken in a few
        // steps, each at the moment its last byte has crossed the line, not
        // one wake-up per byte.
        const size_t want = std::min({static_cast<size_t>(queued), CSimPacer::Step(bps), sizeof buf});
        readLimit = inPace.Available() >= want ? want : 0;
        if (readLimit == 0) timeoutUs = std::min(timeoutUs, inPace.UsUntilBytes(want, bps));
      } else if (bps) {
        readLimit = std::min(readLimit, inPace.Available());
        if (readLimit == 0) timeoutUs = std::min(timeoutUs, inPace.UsUntilByte(bps));
      }
      if (readLimit > 0) fds[1].events = POLLIN;
      if (!out.empty()) {
        if (bps) timeoutUs = std::min(timeoutUs, outPace.UsUntilBytes(std::min(out.size(), CSimPacer::Piece(bps)), bps));
        else fds[1].events |= POLLOUT;
      }
    } else if (m_master >= 0) {
      timeoutUs = std::min<int64_t>(timeoutUs, static_cast<int64_t>(quietUntilUs - nowUs) + 1000);
    }

    const timespec wait{static_cast<time_t>(timeoutUs / 1000000), static_cast<long>(timeoutUs % 1000000) * 1000};
    const int r = ::ppoll(fds, 2, &wait, nullptr);
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    if (fds[0].revents & POLLIN) {
      while (::read(m_wake[0], buf, sizeof buf) > 0) {
      }
      continue;
    }
    if (fds[1].fd < 0) continue;
    if (fds[1].revents & POLLIN) {
      const uint64_t inUs = NowUs();
      if (replyOutUs != 0) {
        // The tool's first byte after a reply: its turnaround ends here,
        // before any pacing of the bytes themselves.
        std::lock_guard<std::mutex> guard(m_lock);
        if (out.empty() && m_protocol.InDataMode())
          m_protocol.Record().blockTurnaroundUs.push_back(
              static_cast<uint32_t>(inUs > replyOutUs ? inUs - replyOutUs : 0));
        replyOutUs = 0;
      }
      if (bps && inputIdle) {
        // Bytes after a quiet line start their time on the wire now.
        inPace.Restart(inUs);
        inputIdle = false;
        continue;
      }
      const ssize_t n = ::read(m_master, buf, readLimit);
      if (n > 0) {
        if (bps) inPace.Spend(static_cast<size_t>(n));
        int queued = 0;
        inputIdle = ::ioctl(m_master, FIONREAD, &queued) == 0 && queued == 0;
        {
          std::lock_guard<std::mutex> guard(m_lock);
          const int written = m_protocol.Record().blocksWritten;
          m_protocol.Feed(buf, static_cast<size_t>(n), inUs / 1000, (!out.empty() && !outIsStray) || !held.empty());
          const std::vector<uint8_t> more = m_protocol.TakeOutput();
          const uint32_t programUs = m_nProgramUs.load();
          if (!held.empty() || (programUs > 0 && m_protocol.Record().blocksWritten > written && !more.empty())) {
            // A block was stored: its ACK comes once it is programmed.
            if (held.empty()) heldUntilUs = inUs + programUs;
            held.insert(held.end(), more.begin(), more.end());
          } else {
            if (out.empty() && !more.empty()) outPace.Restart(NowUs());
            if (!more.empty()) outIsStray = false;
            out.insert(out.end(), more.begin(), more.end());
          }
        }
        m_cv.notify_all();
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        quietUntilUs = NowUs() + kQuietUs;
      }
    } else if (fds[1].revents & (POLLHUP | POLLERR)) {
      // Not expected while we hold a slave descriptor; never spin on it.
      quietUntilUs = NowUs() + kQuietUs;
    }
  }
}
