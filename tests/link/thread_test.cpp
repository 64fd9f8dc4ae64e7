#include "Thrdrx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <system_error>
#include <thread>

#include "support/FakeSerialPort.h"
#include "support/EntryLink.h"
#include "support/RecordingWindow.h"
#include "support/TraceCapture.h"
#include "link/QTextQ.h"
#include "link/bsscomm.h"
#include "platform/PortMap.h"

namespace {

constexpr int kEntry = 5;
constexpr uint8_t kCom = 11;
const Bytes kAckFrame{0x7E, 0x02, 0x6A, 0xD3, 0x7E};

// A connected entry as the dialog builds it: link opened on a scripted
// port, then a receive thread handed the link.
class RxThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitEntryLink(link, kEntry, kCom, "/dev/fake11", wnd, queue);
    ASSERT_TRUE(link.Open());
    link.m_bBootFraming = 1;
  }
  void TearDown() override {
    link.Release();
    CPortMap::Instance().Remove(kCom);
  }
  void Start() {
    thread = std::make_unique<CThreadRX>();
    ASSERT_FALSE(thread->Failed());
    ASSERT_TRUE(thread->Init(&wnd, &link, &queue, kEntry));
  }
  Bytes Packet() {
    uint8_t copy[RX_PACKET_SIZE];
    link.CopyPacket(copy);
    return Bytes(copy, copy + 3);
  }

  CFakePorts ports;
  std::shared_ptr<FakeDevice> line = ports.Add("/dev/fake11");
  RecordingWindow wnd;
  CQTextQ queue;
  CBssComm link;
  TraceCapture trace;
  std::unique_ptr<CThreadRX> thread;
};

TEST_F(RxThreadTest, ReplyReadInSeveralReadsOfOneBurstIsDeliveredOnce) {
  Start();
  ASSERT_TRUE(line->WaitForWaits(1));
  line->Feed({{0x7E, 0x02}, {0x6A}, {0xD3, 0x7E}});
  ASSERT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 1));
  EXPECT_EQ(Packet(), (Bytes{0x02, 0x6A, 0xD3}));
  ASSERT_TRUE(line->WaitForWaits(2));  // back in the wait, burst over
  EXPECT_EQ(wnd.Count(WM_ENTRY_PACKET + kEntry), 1);
}

TEST_F(RxThreadTest, ReplySplitOverTwoBurstsIsLost) {
  Start();
  ASSERT_TRUE(line->WaitForWaits(1));
  line->Feed({{0x7E, 0x02}});
  ASSERT_TRUE(line->WaitForWaits(2));
  line->Feed({{0x6A, 0xD3, 0x7E}});
  ASSERT_TRUE(line->WaitForWaits(3));
  EXPECT_EQ(wnd.Count(WM_ENTRY_PACKET + kEntry), 0);
  line->Feed({kAckFrame});  // the thread is still alive and well
  ASSERT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 1));
}

TEST_F(RxThreadTest, ReplyInPiecesWithShortGapsAssemblesOpeningFlagAloneIncluded) {
  // However slowly this test goes, the line never counts as quiet for long
  // enough to end the burst: the pieces are one burst, read as they come.
  line->HoldQuiet(true);
  Start();
  ASSERT_TRUE(line->WaitForWaits(1));
  line->Feed({{0x7E}});  // read alone: kept for the rest of its frame
  ASSERT_TRUE(line->WaitForWaitFors(1));
  line->Feed({{0x02, 0x6A}});
  ASSERT_TRUE(line->WaitForWaitFors(2));
  EXPECT_EQ(wnd.Count(WM_ENTRY_PACKET + kEntry), 0);
  line->Feed({{0xD3, 0x7E}});
  ASSERT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 1));
  EXPECT_EQ(Packet(), (Bytes{0x02, 0x6A, 0xD3}));
  line->HoldQuiet(false);
  ASSERT_TRUE(line->WaitForWaits(2));
  EXPECT_EQ(wnd.Count(WM_ENTRY_PACKET + kEntry), 1);
  CTextQItem item;
  EXPECT_FALSE(queue.Get(item));  // no "Bad CRC" of a lone flag
}

TEST_F(RxThreadTest, BytesBeforeTheOpeningFlagSpoilTheirBurstOnly) {
  Start();
  ASSERT_TRUE(line->WaitForWaits(1));
  line->Feed({{0x00, 0x11}, kAckFrame});
  ASSERT_TRUE(line->WaitForWaits(2));
  EXPECT_EQ(wnd.Count(WM_ENTRY_PACKET + kEntry), 0);
  line->Feed({kAckFrame});
  ASSERT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 1));
}

// A handset that needs it gets the old pace back: a sleep before every read,
// no waiting on the port within a burst.
TEST_F(RxThreadTest, SettleSettingRestoresTheClassicCadence) {
  link.SetRxSettleMs(30);
  Start();
  ASSERT_TRUE(line->WaitForWaits(1));
  line->Feed({{0x7E, 0x02}, {0x6A, 0xD3, 0x7E}});
  const auto fed = line->fedAt;
  ASSERT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 1));
  ASSERT_TRUE(line->WaitForWaits(2));
  // Two sleeps, one read of a chunk after each.
  EXPECT_GE(wnd.Times(WM_ENTRY_PACKET + kEntry)[0] - fed, std::chrono::milliseconds(60));
  EXPECT_EQ(line->waitFors, 0);
}

// Once a burst is over the thread sleeps in the port's wait: nothing wakes
// it, whatever the time.
TEST_F(RxThreadTest, IdleThreadMakesNoPortCalls) {
  Start();
  ASSERT_TRUE(line->WaitForWaits(1));
  line->Feed({kAckFrame});
  ASSERT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 1));
  ASSERT_TRUE(line->WaitForWaits(2));
  const int calls = line->PortCalls();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a window to watch, not a wait
  EXPECT_EQ(line->PortCalls(), calls);
}

// A port that says bytes are queued but fails every read is not spun on.
TEST_F(RxThreadTest, ReadsThatKeepFailingArePacedNotSpunOn) {
  line->failRead = true;
  Start();
  ASSERT_TRUE(line->WaitForWaits(1));
  line->Feed({kAckFrame});
  {  // burst after burst, each ending; the bytes stay queued
    std::unique_lock<std::mutex> g(line->lock);
    ASSERT_TRUE(line->cv.wait_for(g, std::chrono::seconds(10), [&] { return line->waits >= 3; }));
  }
  const int calls = line->PortCalls();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // a window to watch, not a wait
  EXPECT_LT(line->PortCalls() - calls, 1000);  // about 6 a 5 ms; spinning makes many thousands
  link.Release();
  ASSERT_TRUE(thread->Join(10000));
}

TEST_F(RxThreadTest, AfterOverflowTheBurstIsDrainedUnfedAndTheNextWorks) {
  Start();
  ASSERT_TRUE(line->WaitForWaits(1));
  Bytes fill(512, 0x7E);
  fill.back() = 0x00;  // opens with a flag, never closes
  line->Feed({fill, {0x00}, kAckFrame});
  ASSERT_TRUE(line->WaitForWaits(2));
  EXPECT_EQ(line->QueuedInputForTest(), 0);  // everything was read
  EXPECT_EQ(wnd.Count(WM_ENTRY_PACKET + kEntry), 0);
  line->Feed({kAckFrame});
  ASSERT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 1));
}

TEST_F(RxThreadTest, BytesQueuedBeforeTheThreadRunsComeWithTheFirstBurst) {
  line->Feed({kAckFrame});
  Start();
  ASSERT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 1));
}

TEST_F(RxThreadTest, ClosingTheLinkEndsTheThreadOnce) {
  Start();
  EXPECT_FALSE(thread->StopRequested());
  ASSERT_TRUE(line->WaitForWaits(1));
  EXPECT_FALSE(thread->HasEnded());
  EXPECT_FALSE(thread->Join(0));
  link.Release();
  ASSERT_TRUE(thread->Join(2000));
  EXPECT_TRUE(thread->HasEnded());
  EXPECT_EQ(wnd.Count(WM_ENTRY_RXEND + kEntry), 1);
  EXPECT_TRUE(thread->StopRequested());
  EXPECT_EQ(trace.Text(), "\nEND__RX");
  EXPECT_TRUE(wnd.AllParametersZero());
  thread.reset();
  EXPECT_EQ(wnd.Count(WM_ENTRY_RXEND + kEntry), 1);
}

TEST_F(RxThreadTest, DeviceFailureEndsTheThread) {
  Start();
  ASSERT_TRUE(line->WaitForWaits(1));
  line->HangUp();
  ASSERT_TRUE(thread->Join(2000));
  EXPECT_EQ(wnd.Count(WM_ENTRY_RXEND + kEntry), 1);
  EXPECT_TRUE(thread->StopRequested());
}

TEST_F(RxThreadTest, StopFlagEndsTheLoopAfterTheBurst) {
  Start();
  ASSERT_TRUE(line->WaitForWaits(1));
  thread->RequestStop();
  line->Feed({kAckFrame});
  ASSERT_TRUE(thread->Join(2000));
  EXPECT_EQ(wnd.Count(WM_ENTRY_PACKET + kEntry), 1);
  EXPECT_EQ(wnd.Count(WM_ENTRY_RXEND + kEntry), 1);
  EXPECT_EQ(trace.Text(), "\nOut of While\nEND__RX");
}

TEST_F(RxThreadTest, AnOlderThreadOfTheEntryEndingLateLeavesTheNewOneRunning) {
  Start();
  ASSERT_TRUE(line->WaitForWaits(1));
  // The entry's previous thread, on a link that is gone, ends only now.
  RecordingWindow oldWnd;
  CQTextQ oldQueue;
  CBssComm oldLink;
  CThreadRX old;
  ASSERT_TRUE(old.Init(&oldWnd, &oldLink, &oldQueue, kEntry));
  ASSERT_TRUE(old.Join(10000));
  line->Feed({kAckFrame});
  ASSERT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 1, 10000));
  ASSERT_TRUE(line->WaitForWaits(2, 10000));  // back in the wait, not gone
  EXPECT_FALSE(thread->HasEnded());
  line->Feed({kAckFrame});
  EXPECT_TRUE(wnd.WaitCount(WM_ENTRY_PACKET + kEntry, 2, 10000));
}

TEST_F(RxThreadTest, MaskThatCannotBeSetIsLoggedAndEndsTheThread) {
  line->failMask = true;
  Start();
  ASSERT_TRUE(thread->Join(2000));
  CTextQItem item;
  ASSERT_TRUE(queue.Get(item));
  EXPECT_EQ(item.kind, LOG_STATUS);
  EXPECT_EQ(item.text, "\nFail to set Comm mask\n\n");
  EXPECT_EQ(wnd.Count(WM_ENTRY_LOG + kEntry), 1);
  EXPECT_EQ(wnd.Count(WM_ENTRY_RXEND + kEntry), 1);
}

TEST_F(RxThreadTest, SecondInitIsRefused) {
  Start();
  CBssComm other;
  EXPECT_FALSE(thread->Init(&wnd, &other, &queue, kEntry + 1));
  link.Release();
  ASSERT_TRUE(thread->Join(2000));
  EXPECT_EQ(wnd.Count(WM_ENTRY_RXEND + kEntry), 1);
  EXPECT_EQ(wnd.Count(WM_ENTRY_RXEND + kEntry + 1), 0);
}

TEST(RxThreadLife, DestroyedBeforeInitLeavesQuietly) {
  TraceCapture trace;
  { CThreadRX thread; }
  EXPECT_EQ(trace.Text(), "");  // never ran, so never ended
}

TEST(RxThreadLife, ThreadThatCannotBeCreatedReportsFailed) {
  auto previous = CThreadRX::SetThreadStarter([](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  {
    CThreadRX thread;
    EXPECT_TRUE(thread.Failed());
    RecordingWindow wnd;
    CQTextQ queue;
    CBssComm link;
    EXPECT_FALSE(thread.Init(&wnd, &link, &queue, 0));
    EXPECT_TRUE(thread.Join(0));
  }
  CThreadRX::SetThreadStarter(previous);
  CThreadRX normal;
  EXPECT_FALSE(normal.Failed());
}

}  // namespace
