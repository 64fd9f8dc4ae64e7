// The gate both serial backends pass their calls through: a call gets in
// only while the port is open, and Close waits for the calls inside before
// the handle goes, so the other thread never uses a freed one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

#include "platform/SerialPortBase.h"

namespace {

// A backend whose handle is a flag, opened and closed as the real ones do
// theirs.
class CGatedPort : public CSerialPortBase {
 public:
  using CSerialPortBase::CCall;
  ~CGatedPort() override {
    if (IsOpen()) Close();
  }

  bool Open(const std::string&) override {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bHandle = true;
    Opened();
    return true;
  }
  bool Close() override {
    std::unique_lock<std::mutex> lock(m_lock);
    if (!UsableLocked()) return Fail("not open", 9, "Bad file descriptor");
    m_bClosing = true;
    AwaitCallsLeft(lock);
    m_bHandle = false;
    Closed();
    return true;
  }
  bool Fail(const std::string& what, int err, const std::string& osText) {
    return Record({PortCause::IoError, err, what}, osText);
  }
  bool Passes() { return static_cast<bool>(CCall(*this)); }

  bool SetEventMask(uint32_t mask) override {
    m_mask = mask;
    return true;
  }
  bool SetupQueues(uint32_t, uint32_t) override { return true; }
  bool Purge() override { return true; }
  bool SetTimeouts(uint32_t, uint32_t writeTotalMs) override {
    m_nWriteTimeoutMs = writeTotalMs;
    return true;
  }
  bool ApplyLineSettings(const SerialLineSettings&) override { return true; }
  PortWait WaitEvent() override { return PortWait::MaskCleared; }
  int QueuedInput() override { return 0; }
  int Read(uint8_t*, uint32_t) override { return 0; }
  bool Write(const uint8_t*, uint32_t) override { return true; }
  bool ClearDtrRts() override { return true; }
  uint32_t Mask() const { return m_mask.load(); }
  uint32_t WriteTimeoutMs() const { return m_nWriteTimeoutMs.load(); }

 private:
  bool HasHandle() const override { return m_bHandle; }
  bool m_bHandle = false;
};

bool WaitUntil(const std::function<bool()>& cond) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(SerialGate, CloseWaitsForTheCallInsideAndLetsNoNewOneIn) {
  CGatedPort port;
  EXPECT_FALSE(port.Passes()) << "a port never opened";
  ASSERT_TRUE(port.Open("x"));
  port.SetEventMask(EV_RXCHAR);
  port.SetTimeouts(0, 50);

  std::optional<CGatedPort::CCall> inside(std::in_place, port);
  ASSERT_TRUE(*inside);
  std::atomic<bool> closed{false};
  std::thread closer([&] {
    EXPECT_TRUE(port.Close());
    closed = true;
  });
  // IsOpen turns false as Close begins; it must then wait for the call.
  ASSERT_TRUE(WaitUntil([&] { return !port.IsOpen(); }));
  EXPECT_FALSE(port.Passes()) << "a call got in while the port was closing";
  EXPECT_FALSE(closed.load()) << "Close went on with a call still inside";
  inside.reset();
  EXPECT_TRUE(WaitUntil([&] { return closed.load(); })) << "Close kept waiting after the call left";
  closer.join();

  EXPECT_FALSE(port.Passes());
  EXPECT_FALSE(port.Close());
  EXPECT_EQ(port.LastError(), "not open: Bad file descriptor");
  EXPECT_EQ(port.LastFailure().err, 9);
  // Opened again, it is a new port: no mask, the default write time-out.
  ASSERT_TRUE(port.Open("x"));
  EXPECT_TRUE(port.Passes());
  EXPECT_EQ(port.Mask(), 0u);
  EXPECT_EQ(port.WriteTimeoutMs(), 1000u);
  port.Fail("device hung up", 0, "ignored without an error code");
  EXPECT_EQ(port.LastError(), "device hung up");
}

}  // namespace
