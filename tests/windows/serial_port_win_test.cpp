// The Win32 serial port on two COM ports of Wine joined by a pty pair
// (with_com_pair.sh sets them up): the receive wait, the byte that ends it,
// the wake-up of a waiter by a cleared mask and by Close, and the causes of
// failed opens. Nothing here relies on exclusive opening, which Wine does
// not enforce.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/SerialPortNative.h"
#include "platform/SerialPortWin32.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto kBound = 20s;  // generous: a loaded machine, Wine's threads

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

/// Waits for `done` (polled), at most kBound.
template <typename F>
bool WaitFor(F done) {
  for (const auto end = Clock::now() + kBound; Clock::now() < end; std::this_thread::sleep_for(2ms))
    if (done()) return true;
  return done();
}

class SerialPortWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string a = Env("VELMORA_TEST_COM_A"), b = Env("VELMORA_TEST_COM_B");
    ASSERT_FALSE(a.empty() || b.empty()) << "run through with_com_pair.sh";
    ASSERT_TRUE(OpenLikeTheLink(m_rx, a)) << m_rx.LastError();
    ASSERT_TRUE(OpenLikeTheLink(m_tx, b)) << m_tx.LastError();
  }
  // The link's order of calls when it opens a port.
  static bool OpenLikeTheLink(CSerialPortNative& port, const std::string& name) {
    return port.Open(name) && port.SetEventMask(EV_RXCHAR) && port.SetupQueues(4096, 4096) && port.Purge() &&
           port.SetTimeouts(0, 1000) && port.ApplyLineSettings(SerialLineSettings{});
  }
  void Send(const std::string& text) {
    ASSERT_TRUE(m_tx.Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size())))
        << m_tx.LastError();
  }
  /// Reads until `n` bytes have come (or kBound has passed).
  std::string Receive(size_t n) {
    std::string got;
    WaitFor([&] {
      uint8_t buf[512];
      const int r = m_rx.Read(buf, sizeof buf);
      if (r > 0) got.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(r));
      return got.size() >= n || r < 0;
    });
    return got;
  }

  CSerialPortNative m_rx, m_tx;
};

TEST_F(SerialPortWinTest, TheWaitEndsWithTheFirstByteAndNoByteIsLostOrReordered) {
  auto waiter = std::async(std::launch::async, [&] { return m_rx.WaitEvent(); });
  // Still waiting: nothing has come.
  EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
  Send("hello");
  ASSERT_EQ(waiter.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(waiter.get(), PortWait::RxChar);
  // The byte the wait took is counted and read first.
  EXPECT_TRUE(WaitFor([&] { return m_rx.QueuedInput() == 5; })) << m_rx.QueuedInput();
  uint8_t buf[8] = {};
  ASSERT_EQ(m_rx.Read(buf, 3), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "hel");
  EXPECT_EQ(Receive(2), "lo");
  EXPECT_EQ(m_rx.QueuedInput(), 0);

  // A wait that timed out leaves its read pending; what comes then is read
  // whole and in order without another wait.
  EXPECT_EQ(m_rx.WaitEventFor(50), PortWait::TimedOut);
  std::string burst;
  for (int k = 0; k < 1500; ++k) burst += static_cast<char>('!' + k % 90);  // no XON/XOFF bytes
  Send(burst);
  EXPECT_EQ(Receive(burst.size()), burst);

  // A wait with something queued returns at once.
  Send("Q");
  EXPECT_TRUE(WaitFor([&] { return m_rx.QueuedInput() == 1; }));
  EXPECT_EQ(m_rx.WaitEventFor(0), PortWait::RxChar);
  EXPECT_EQ(Receive(1), "Q");
}

TEST_F(SerialPortWinTest, AClearedMaskAndCloseWakeTheWaiterAtOnce) {
  auto waiter = std::async(std::launch::async, [&] { return m_rx.WaitEvent(); });
  EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
  ASSERT_TRUE(m_rx.SetEventMask(0));
  ASSERT_EQ(waiter.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(waiter.get(), PortWait::MaskCleared);
  EXPECT_EQ(m_rx.WaitEventFor(10000), PortWait::MaskCleared);  // at once, not after 10 s

  // With the mask back, bytes sent while nobody waited are there.
  Send("xy");
  ASSERT_TRUE(m_rx.SetEventMask(EV_RXCHAR));
  EXPECT_EQ(m_rx.WaitEventFor(20000), PortWait::RxChar);
  EXPECT_EQ(Receive(2), "xy");

  waiter = std::async(std::launch::async, [&] { return m_rx.WaitEvent(); });
  EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
  EXPECT_TRUE(m_rx.Close());
  ASSERT_EQ(waiter.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(waiter.get(), PortWait::MaskCleared);
  EXPECT_FALSE(m_rx.IsOpen());
  EXPECT_EQ(m_rx.WaitEvent(), PortWait::MaskCleared);
  uint8_t byte = 0;
  EXPECT_EQ(m_rx.Read(&byte, 1), -1);
  EXPECT_FALSE(m_rx.Write(&byte, 1));
  EXPECT_FALSE(m_rx.Close());

  // The port opens again after Close, and drops its lines on the way out.
  ASSERT_TRUE(OpenLikeTheLink(m_rx, Env("VELMORA_TEST_COM_A"))) << m_rx.LastError();
  EXPECT_TRUE(m_rx.ClearDtrRts()) << m_rx.LastError();
  Send("z");
  EXPECT_EQ(m_rx.WaitEventFor(20000), PortWait::RxChar);
  EXPECT_EQ(Receive(1), "z");
}

TEST(SerialPortWinOpenTest, FailedOpensAreSortedByCause) {
  CSerialPortNative port;
  // A COM number nothing stands behind.
  EXPECT_FALSE(port.Open("COM27"));
  PortFailure f = port.LastFailure();
  EXPECT_EQ(f.cause, PortCause::NotFound);
  EXPECT_EQ(f.ErrnoName(), "ERROR_FILE_NOT_FOUND");
  EXPECT_EQ(f.Detail().rfind("ERROR_FILE_NOT_FOUND: ", 0), 0u) << f.Detail();
  EXPECT_GT(f.Detail().size(), std::string("ERROR_FILE_NOT_FOUND: ").size());

  // A file opens, but is no serial port.
  EXPECT_FALSE(port.Open("C:\\windows\\win.ini"));
  EXPECT_EQ(port.LastFailure().cause, PortCause::NotATerminal);
  EXPECT_FALSE(port.Open("C:\\windows"));
  EXPECT_EQ(port.LastFailure().cause, PortCause::NotATerminal);
  EXPECT_FALSE(port.IsOpen());

  EXPECT_EQ((PortFailure{PortCause::IoError, 12345, "x"}.ErrnoName()), "error 12345");
}

}  // namespace
