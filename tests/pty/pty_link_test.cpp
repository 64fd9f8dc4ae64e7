#include <gtest/gtest.h>
#include <termios.h>

#include <future>
#include <thread>

#include "Thrdrx.h"
#include "support/EntryLink.h"
#include "support/RecordingWindow.h"
#include "support/TraceCapture.h"
#include "link/QTextQ.h"
#include "link/bsscomm.h"
#include "platform/PortMap.h"
#include "platform/SerialPortNative.h"
#include "pty/PtyPair.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kEntry = 2;
constexpr uint8_t kCom = 12;

// A link on a real pseudo-terminal with a real receive thread. The port the
// link creates is watched through `port` (it stays owned by the link).
class PtyLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    m_previous = SetSerialPortFactory([this] {
      auto p = std::make_unique<CSerialPortNative>();
      port = p.get();
      return p;
    });
    InitEntryLink(link, kEntry, kCom, pty.SlavePath(), wnd, queue);
  }
  void TearDown() override {
    link.Release();
    if (thread) {
      EXPECT_TRUE(thread->Join(2000));
    }
    thread.reset();
    SetSerialPortFactory(m_previous);
    CPortMap::Instance().Remove(kCom);
  }
  void Connect() {
    ASSERT_TRUE(link.Open());
    thread = std::make_unique<CThreadRX>();
    ASSERT_TRUE(thread->Init(&wnd, &link, &queue, kEntry));
  }

  PtyPair pty;
  RecordingWindow wnd;
  CQTextQ queue;
  CBssComm link;
  CSerialPortNative* port = nullptr;
  std::unique_ptr<CThreadRX> thread;
  SerialPortFactory m_previous;
};

TEST_F(PtyLinkTest, OpenAppliesTheLineSettings) {
  ASSERT_TRUE(link.Open());
  termios t{};
  ASSERT_EQ(::tcgetattr(pty.Master(), &t), 0);  // a master reports its slave's settings
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B57600));
  EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B57600));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST_F(PtyLinkTest, RequestOutAndReplyInThroughTheReceiveThread) {
  Connect();
  ASSERT_TRUE(link.RequestPhoneDownload());
  EXPECT_EQ(pty.Receive(8), (Bytes{0x7E, 0xA0, 0x72, 0x55, 0x7E, 0x00, 0x00, 0x00}));
  ASSERT_TRUE(pty.Send({0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
  ASSERT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 1));
  uint8_t copy[RX_PACKET_SIZE];
  link.CopyPacket(copy);
  EXPECT_EQ(Bytes(copy, copy + 3), (Bytes{0x02, 0x6A, 0xD3}));
  // No second packet comes of the one reply.
  EXPECT_FALSE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 2, 100));
}

// The reply is handed over when its closing flag is read, not after the
// line has been quiet for 5 ms. The quickest of ten tells, so that a loaded
// machine that is slow to run the thread now and then does not decide it.
TEST_F(PtyLinkTest, ReplyIsHandedOverWellBeforeTheLineGoesQuiet) {
  Connect();
  link.m_bBootFraming = 1;
  auto quickest = std::chrono::steady_clock::duration::max();
  for (int k = 1; k <= 10; ++k) {
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(pty.Send({0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
    ASSERT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, k));
    quickest = std::min(quickest, wnd.Times(WM_ENTRY_PACKET + kEntry)[k - 1] - sent);
  }
  EXPECT_LT(quickest, std::chrono::microseconds(2500));
}

TEST_F(PtyLinkTest, ClosingTheLinkEndsTheThreadOnce) {
  TraceCapture trace;
  Connect();
  ASSERT_TRUE(link.Release());
  ASSERT_TRUE(thread->Join(2000));
  EXPECT_EQ(wnd.Count(WM_ENTRY_RXEND + kEntry), 1);
  EXPECT_TRUE(thread->StopRequested());
  EXPECT_TRUE(trace.Contains("\nEND__RX"));
}

TEST_F(PtyLinkTest, HangingUpTheMasterEndsTheThread) {
  Connect();
  pty.CloseMaster();
  ASSERT_TRUE(thread->Join(2000));
  EXPECT_EQ(wnd.Count(WM_ENTRY_RXEND + kEntry), 1);
  EXPECT_TRUE(thread->StopRequested());
  EXPECT_TRUE(link.Release());
  // The reason reaches the entry's log, with the device and its cause.
  CTextQItem line;
  ASSERT_TRUE(queue.Get(line));
  EXPECT_EQ(line.kind, LOG_ERROR);
  EXPECT_EQ(line.text, "USB 연결 상태를 확인하세요.");
  ASSERT_TRUE(queue.Get(line));
  EXPECT_EQ(line.kind, LOG_ERROR);
  EXPECT_EQ(line.text, pty.SlavePath() + ": device gone");
  EXPECT_EQ(wnd.Count(WM_ENTRY_LOG + kEntry), 2);
}

TEST_F(PtyLinkTest, SecondOpenOfAHeldPortFails) {
  ASSERT_TRUE(link.Open());
  CBssComm second;
  second.SetPortNumber(kCom);
  second.Init(&wnd, &queue);
  {
    TraceCapture trace;
    EXPECT_FALSE(second.Open());
    EXPECT_EQ(trace.Text(), "Failt to open Comm\n");
    EXPECT_EQ(second.m_bOpen, 0);
    EXPECT_EQ(second.OpenFailure().cause, PortCause::Busy);
    EXPECT_EQ(second.OpenFailure().ErrnoName(), "EWOULDBLOCK");
    EXPECT_EQ(second.TriedDevice(), pty.SlavePath());
  }
  link.Release();
  EXPECT_TRUE(second.Open());  // released means free again
  second.Release();
}

TEST_F(PtyLinkTest, ReadAvailableTakesAtMost512Of700) {
  ASSERT_TRUE(link.Open());
  ASSERT_TRUE(pty.Send(Bytes(700, 0x41)));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (port->QueuedInput() < 700 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(port->QueuedInput(), 700);
  uint8_t buf[513];
  EXPECT_EQ(link.ReadAvailable(buf, 512), 512u);
  EXPECT_EQ(port->QueuedInput(), 188);
  EXPECT_EQ(link.ReadAvailable(buf, 512), 188u);
  EXPECT_EQ(link.ReadAvailable(buf, 512), 0u);
}

// The port itself: waits that end at once, and a write that cannot finish.
class PtyPortTest : public ::testing::Test {
 protected:
  // WaitEvent with a watchdog: a wait that does not end in time is released
  // by closing the port, and the test fails instead of hanging.
  PortWait BoundedWait(int ms = 2000) {
    auto wait = std::async(std::launch::async, [this] { return port.WaitEvent(); });
    if (wait.wait_for(std::chrono::milliseconds(ms)) != std::future_status::ready) {
      ADD_FAILURE() << "WaitEvent did not return within " << ms << " ms";
      port.Close();
    }
    return wait.get();
  }
  // Whether a wait running elsewhere ends in time; closes the port if not,
  // so the future's destructor cannot block.
  bool EndsInTime(std::future<PortWait>& wait) {
    if (wait.wait_for(std::chrono::seconds(2)) == std::future_status::ready) return true;
    port.Close();
    return false;
  }

  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    ASSERT_TRUE(port.Open(pty.SlavePath()));
    // Raw mode: a terminal in line mode reports input only by whole lines.
    ASSERT_TRUE(port.ApplyLineSettings(SerialLineSettings{}));
  }
  PtyPair pty;
  CSerialPortNative port;
};

TEST_F(PtyPortTest, WaitEndsOnInputOnClearedMaskAndOnClose) {
  ASSERT_TRUE(port.SetEventMask(EV_RXCHAR));
  ASSERT_TRUE(pty.Send({0x01}));
  EXPECT_EQ(BoundedWait(), PortWait::RxChar);

  uint8_t b;
  ASSERT_EQ(port.Read(&b, 1), 1);
  EXPECT_EQ(port.Read(&b, 1), 0);  // nothing queued: no wait
  auto cleared = std::async(std::launch::async, [&] { return port.WaitEvent(); });
  ASSERT_TRUE(port.SetEventMask(0));
  ASSERT_TRUE(EndsInTime(cleared));
  EXPECT_EQ(cleared.get(), PortWait::MaskCleared);
  EXPECT_EQ(BoundedWait(), PortWait::MaskCleared);  // until a mask is set again

  ASSERT_TRUE(port.SetEventMask(EV_RXCHAR));
  auto closed = std::async(std::launch::async, [&] { return port.WaitEvent(); });
  // Whether the wait has begun or not, Close must end it.
  EXPECT_EQ(closed.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  EXPECT_TRUE(port.Close());
  ASSERT_TRUE(EndsInTime(closed));
  EXPECT_EQ(closed.get(), PortWait::MaskCleared);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(BoundedWait(), PortWait::MaskCleared);
  EXPECT_EQ(port.QueuedInput(), -1);
  EXPECT_FALSE(port.Close());
}

TEST_F(PtyPortTest, TimedWaitEndsAsTheWaitDoesOrRunsOut) {
  ASSERT_TRUE(port.SetEventMask(EV_RXCHAR));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.WaitEventFor(30), PortWait::TimedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_EQ(port.WaitEventFor(0), PortWait::TimedOut);
  ASSERT_TRUE(pty.Send({0x01}));
  EXPECT_EQ(port.WaitEventFor(10000), PortWait::RxChar);

  uint8_t b;
  ASSERT_EQ(port.Read(&b, 1), 1);
  // A long wait is released at once by a cleared mask and by Close.
  auto cleared = std::async(std::launch::async, [&] { return port.WaitEventFor(60000); });
  ASSERT_TRUE(port.SetEventMask(0));
  ASSERT_TRUE(EndsInTime(cleared));
  EXPECT_EQ(cleared.get(), PortWait::MaskCleared);
  ASSERT_TRUE(port.SetEventMask(EV_RXCHAR));
  auto closed = std::async(std::launch::async, [&] { return port.WaitEventFor(60000); });
  EXPECT_EQ(closed.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  EXPECT_TRUE(port.Close());
  ASSERT_TRUE(EndsInTime(closed));
  EXPECT_EQ(closed.get(), PortWait::MaskCleared);
  EXPECT_EQ(port.WaitEventFor(10), PortWait::MaskCleared);
}

TEST_F(PtyPortTest, HangUpReportsFailed) {
  ASSERT_TRUE(port.SetEventMask(EV_RXCHAR));
  pty.CloseMaster();
  EXPECT_EQ(port.WaitEventFor(10000), PortWait::Failed);
  EXPECT_EQ(BoundedWait(), PortWait::Failed);
  EXPECT_FALSE(port.LastError().empty());
  EXPECT_EQ(port.LastFailure().cause, PortCause::DeviceGone);
  // What is left of the device is gone for writes too.
  const uint8_t b = 0x41;
  EXPECT_FALSE(port.Write(&b, 1));
  EXPECT_EQ(port.LastFailure().cause, PortCause::DeviceGone);
}

TEST_F(PtyPortTest, ModemLinesOfAPtyAreToleratedAndNonTtysRefused) {
  EXPECT_TRUE(port.ClearDtrRts());
  EXPECT_TRUE(port.Purge());
  CSerialPortNative notTty;
  EXPECT_FALSE(notTty.Open("/dev/null"));
  EXPECT_EQ(notTty.LastFailure().cause, PortCause::NotATerminal);
  EXPECT_EQ(notTty.LastFailure().Detail(), "ENOTTY: Inappropriate ioctl for device");
  EXPECT_FALSE(notTty.Open("/nonexistent/port"));
  EXPECT_FALSE(notTty.LastError().empty());
  EXPECT_EQ(notTty.LastFailure().cause, PortCause::NotFound);
  EXPECT_EQ(notTty.LastFailure().ErrnoName(), "ENOENT");
}

TEST_F(PtyPortTest, WriteThatCannotDrainTimesOut) {
  ASSERT_TRUE(port.SetTimeouts(0, 200));
  const Bytes big(1 << 20, 0x41);  // nobody reads the master: the buffer fills
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(port.Write(big.data(), static_cast<uint32_t>(big.size())));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(150));
  EXPECT_LT(took, std::chrono::seconds(3));
  EXPECT_NE(port.LastError().find("timed out"), std::string::npos);
  EXPECT_EQ(port.LastFailure().cause, PortCause::TimedOut);
}

// With XON/XOFF on, the line takes 0x11 and 0x13 out of what the handset
// sends as flow control: the link never sees them, and a lone 0x13 holds the
// tool's requests back until a 0x11 comes.
TEST_F(PtyLinkTest, XonXoffBytesInAReplyAreTakenByTheLine) {
  Connect();
  link.m_bBootFraming = 1;
  ASSERT_TRUE(pty.Send({0x7E, 0x0D, 'b', 0x13, '1', 0x11, '.', '0', '1', 0x7E}));
  ASSERT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 1));
  uint8_t copy[RX_PACKET_SIZE];
  link.CopyPacket(copy);
  EXPECT_EQ(Bytes(copy, copy + 6), (Bytes{0x0D, 'b', '1', '.', '0', '1'}));
  EXPECT_EQ(copy[6], 0x00);
  ASSERT_TRUE(link.RequestPhoneDownload());  // restarted by the 0x11
  EXPECT_EQ(pty.Receive(8).size(), 8u);

  ASSERT_TRUE(pty.Send({0x7E, 0x02, 0x6A, 0x13, 0xD3, 0x7E}));
  ASSERT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 2));
  link.CopyPacket(copy);
  EXPECT_EQ(Bytes(copy, copy + 3), (Bytes{0x02, 0x6A, 0xD3}));
  {
    TraceCapture trace;
    EXPECT_FALSE(link.RequestPhoneDownload());  // stopped: the write times out
    EXPECT_TRUE(trace.Contains("WRITE_Error"));
  }
  EXPECT_TRUE(pty.Receive(1, 200).empty());
  ASSERT_TRUE(pty.Send({0x11}));
  ASSERT_TRUE(link.RequestPhoneDownload());
  EXPECT_EQ(pty.Receive(8, 10000), (Bytes{0x7E, 0xA0, 0x72, 0x55, 0x7E, 0x00, 0x00, 0x00}));
}

}  // namespace
