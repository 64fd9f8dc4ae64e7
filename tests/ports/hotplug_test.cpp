// Arrival and removal through real inotify events: a temporary device
// directory whose entries are symlinks to simulated handsets' pseudo
// terminals, watched by the hot-plug monitor, handed to the dialog on the
// headless host with the real clock and real receive threads.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "ControlIds.h"
#include "DialogOnHost.h"
#include "ports/PortSearchOptions.h"
#include "PortTree.h"
#include "PortWatcher.h"
#include "TestUtil.h"
#include "VelmoraDlg.h"
#include "platform/Registry.h"
#include "TraceCapture.h"
#include "headless/HeadlessHost.h"
#include "platform/HotPlug.h"
#include "platform/PortMap.h"
#include "sim/SimBench.h"

namespace {

constexpr uint32_t kEventMs = 5000;
constexpr uint32_t kRunLimitMs = 120000;

/// What a monitor reported, waited for across its thread.
class CEventLog {
 public:
  void Add(HotPlugEvent event, const std::string& device) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_events.push_back((event == HotPlugEvent::Arrived ? "+" : "-") + device);
    m_cv.notify_all();
  }
  /// Waits until `n` events were reported; all of them so far.
  std::vector<std::string> WaitFor(size_t n) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_cv.wait_for(lock, std::chrono::milliseconds(kEventMs), [&] { return m_events.size() >= n; });
    return m_events;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_cv;
  std::vector<std::string> m_events;
};

class HotPlugTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_sims.Start(3, {}));
  }
  void TearDown() override {
    m_monitor.reset();
  }
  HotPlugOptions Options() const {
    HotPlugOptions o;
    o.watchDir = m_tree.DevRoot();
    o.sysfsRoot = m_tree.SysRoot();
    o.devRoot = m_tree.DevRoot();
    o.allowUdev = false;
    o.trace = [](const std::string& line) { Trace(line); };
    return o;
  }
  void StartMonitor() {
    m_monitor = std::make_unique<CHotPlug>(Options(), [this](HotPlugEvent e, const std::string& d) { m_log.Add(e, d); });
    ASSERT_TRUE(m_monitor->Start());
    ASSERT_EQ(m_monitor->Mode(), HotPlugMode::Directory);
  }
  std::string Pty(int k) { return m_sims.Handset(k).SlavePath(); }
  std::string TraceText() const { return m_trace.Text(); }

  CPortTree m_tree;
  CSimBench m_sims;
  CEventLog m_log;
  std::unique_ptr<CHotPlug> m_monitor;
  TraceCapture m_trace;
};

TEST_F(HotPlugTest, ReportsHandsetsComingAndGoing) {
  m_tree.AddTty("ttyACM0", "kvxuart", Pty(0));  // present before the start: not an arrival
  StartMonitor();
  m_tree.AddSysTty("ttyACM1", "kvxuart");
  m_tree.AddSysTty("ttyS4", "serial8250");
  m_tree.AddNode("ttyS4", Pty(2));  // not a handset: never reported
  m_tree.AddNode("ttyACM1", Pty(1));
  EXPECT_EQ(m_log.WaitFor(1), (std::vector<std::string>{"+" + m_tree.Node("ttyACM1")}));
  m_tree.Unplug("ttyACM0");
  m_tree.Unplug("ttyS4");
  m_tree.Unplug("ttyACM1");
  EXPECT_EQ(m_log.WaitFor(3), (std::vector<std::string>{"+" + m_tree.Node("ttyACM1"), "-" + m_tree.Node("ttyACM0"),
                                                         "-" + m_tree.Node("ttyACM1")}));
}

TEST_F(HotPlugTest, RenamesCountAndOverlongNamesAreSkipped) {
  StartMonitor();
  const std::string longName = "kvxuart" + std::string(130, 'z');
  std::filesystem::create_symlink(Pty(0), m_tree.Node(longName));
  // Made elsewhere and moved in, the way some device managers do it.
  const std::string outside = m_tree.Root() + "/kvxuart9";
  std::filesystem::create_symlink(Pty(1), outside);
  std::filesystem::rename(outside, m_tree.Node("kvxuart9"));
  EXPECT_EQ(m_log.WaitFor(1), (std::vector<std::string>{"+" + m_tree.Node("kvxuart9")}));
  std::filesystem::rename(m_tree.Node("kvxuart9"), outside);
  EXPECT_EQ(m_log.WaitFor(2), (std::vector<std::string>{"+" + m_tree.Node("kvxuart9"), "-" + m_tree.Node("kvxuart9")}));
  EXPECT_NE(TraceText().find("Serial device skipped, name over 127 bytes: kvxuartzzz"), std::string::npos);
}

TEST_F(HotPlugTest, DirectoryGoingAwayRemovesItsDevices) {
  m_tree.AddTty("kvxuart0", "", Pty(0));
  StartMonitor();
  std::filesystem::remove_all(m_tree.DevRoot());
  EXPECT_EQ(m_log.WaitFor(1), (std::vector<std::string>{"-" + m_tree.Node("kvxuart0")}));
  m_monitor->Stop();
  EXPECT_EQ(m_monitor->Mode(), HotPlugMode::Stopped);
}

// ---- the dialog's side: Auto Detect ----

class AutoDetectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProgramState(m_tmp.path());
    SetPortSearchRoots(m_tree.SysRoot(), m_tree.DevRoot());
    m_dlg = NewDialog(m_host);
  }
  void TearDown() override {
    m_watcher.reset();
    m_dlg.reset();
    m_sims.Stop();
    SetPortSearchRoots("", "");
    CPortMap::Instance().Clear();
  }
  void StartBench(int count, const SimHandsetConfig& config = {}) {
    ASSERT_TRUE(m_sims.Start(count, config));
    HotPlugOptions o;
    o.watchDir = m_tree.DevRoot();
    o.sysfsRoot = m_tree.SysRoot();
    o.devRoot = m_tree.DevRoot();
    o.allowUdev = false;
    m_watcher = std::make_unique<CPortWatcher>(m_host, o);
    ASSERT_TRUE(m_watcher->Start());
    ASSERT_EQ(m_watcher->Mode(), HotPlugMode::Directory);
  }
  /// Handset k appears as tty `name`: sysfs first, then its node, as the
  /// kernel does it.
  void Plug(const std::string& name, int k) {
    m_tree.AddSysTty(name, "kvxuart");
    m_tree.AddNode(name, m_sims.Handset(k).SlavePath());
  }
  /// Runs the dialog's loop, handing the watcher's notifications to the
  /// dialog the way the window's binding does, until `done` holds.
  bool Await(const std::function<bool()>& done, uint32_t ms = kEventMs) {
    return m_host.RunUntil(
        [&] {
          m_watcher->Dispatch(*m_dlg);
          return done();
        },
        ms);
  }
  int Port(int i) const { return m_dlg->Binding(i).m_nComPort; }
  std::string Device(int i) const { return CPortMap::Instance().Device(Port(i)).value_or(""); }

  CTempDir m_tmp;
  CPortTree m_tree;
  CHeadlessHost m_host;
  CSimBench m_sims;
  std::unique_ptr<CVelmoraDlg> m_dlg;
  std::unique_ptr<CPortWatcher> m_watcher;
};

TEST_F(AutoDetectTest, ArrivalsBindAndRemovalsFreeTheLowestNumbers) {
  StartBench(3);
  Plug("ttyACM0", 0);
  ASSERT_TRUE(Await([&] { return Port(0) != 0; }));
  EXPECT_EQ(Port(0), 1);
  EXPECT_EQ(m_dlg->PortLabelText(0), "[COM1]");
  EXPECT_EQ(m_host.m_portHints[0], m_tree.Node("ttyACM0"));
  EXPECT_TRUE(m_host.m_controls[kEntryCheckIds[0]].enabled);

  // Not a handset: its arrival binds nothing, the next handset's does.
  m_tree.AddSysTty("ttyS3", "serial8250");
  m_tree.AddNode("ttyS3", m_sims.Handset(2).SlavePath());
  Plug("ttyACM1", 1);
  ASSERT_TRUE(Await([&] { return Port(1) != 0; }));
  EXPECT_EQ(Port(1), 2);
  EXPECT_EQ(Device(1), m_tree.Node("ttyACM1"));
  EXPECT_EQ(CPortMap::Instance().Number(m_tree.Node("ttyS3")), 0);
  EXPECT_EQ(m_dlg->PortCount(), 2);

  m_tree.Unplug("ttyACM0");
  ASSERT_TRUE(Await([&] { return Port(0) == 0; }));
  EXPECT_EQ(m_dlg->PortCount(), 1);
  EXPECT_EQ(m_dlg->PortLabelText(0), "");
  EXPECT_EQ(m_host.m_portHints[0], "");
  EXPECT_FALSE(CPortMap::Instance().Device(1).has_value());

  // The newcomer takes the freed COM1 and the first entry without a port;
  // the handset that stayed keeps COM2 and its entry.
  Plug("ttyACM7", 2);
  ASSERT_TRUE(Await([&] { return Port(0) != 0; }));
  EXPECT_EQ(Port(0), 1);
  EXPECT_EQ(Device(0), m_tree.Node("ttyACM7"));
  EXPECT_EQ(Port(1), 2);
  EXPECT_EQ(Device(1), m_tree.Node("ttyACM1"));
  EXPECT_TRUE(m_host.m_boxes.empty());

  m_tree.Unplug("ttyACM1");
  m_tree.Unplug("ttyACM7");
  ASSERT_TRUE(Await([&] { return m_dlg->PortCount() == 0 && Port(0) == 0 && Port(1) == 0; }));
  EXPECT_TRUE(CPortMap::Instance().Entries().empty());
}

TEST_F(AutoDetectTest, ArrivalOfABoundPortShowsTheMessageAndChangesNothing) {
  StartBench(1);
  Plug("ttyACM0", 0);
  // Port Search runs while the arrival is still on its way: the arrival
  // then names a port that entry 1 already holds.
  ASSERT_TRUE(m_host.RunUntil([&] { return m_watcher->Pending() > 0; }, kEventMs));
  m_host.Click(IDC_PORT_SEARCH);
  ASSERT_EQ(Port(0), 1);
  ASSERT_TRUE(Await([&] { return m_watcher->Pending() == 0; }));
  EXPECT_EQ(CountBoxes(m_host, "이미 사용중인 COM Port로 연결을 시도하셨습니다."), 1);
  EXPECT_EQ(m_dlg->PortCount(), 1);
  EXPECT_EQ(Port(0), 1);
  EXPECT_EQ(Port(1), 0);
}

TEST_F(AutoDetectTest, RemovalDuringARunFailsThatEntryAndTheRunEnds) {
  // Handset 0 is slow enough to be pulled out mid-image; handset 1 is not,
  // yet slow enough that it does not finish before handset 0's first block
  // is answered (handset 0 would be dropped then, not pulled).
  StartBench(2);
  m_sims.Handset(0).SetPace(8000);
  m_sims.Handset(1).SetPace(50000);
  Plug("ttyACM0", 0);
  Plug("ttyACM1", 1);
  ASSERT_TRUE(Await([&] { return m_dlg->PortCount() == 2; }));
  const size_t size = 0x10000 + 40 * 1024;
  const std::string path = MakePhoneImage(m_tmp.path(), size, 0x10000);
  m_host.m_fileAnswers.push_back(path);
  m_host.Click(IDC_PHONE_CODE, 1);
  m_host.Click(IDC_DOWNLOAD);
  ASSERT_TRUE(m_dlg->Running());
  ASSERT_TRUE(Await([&] { return m_sims.Handset(0).Record().blocksWritten >= 2; }, 30000));
  ASSERT_LT(m_sims.Handset(0).Record().transfersDone, 1);

  m_tree.Unplug("ttyACM0");
  ASSERT_TRUE(Await([&] { return Port(0) == 0; }));
  EXPECT_EQ(m_host.m_bars[0].m_strText, "Error!");
  EXPECT_EQ(m_dlg->Outcome(0).m_nState, STATE_IDLE);
  EXPECT_EQ(m_dlg->PortCount(), 1);

  // The run does not wait for the entry that left it, even while its line
  // is still up.
  ASSERT_TRUE(Await([&] { return !m_dlg->Running(); }, kRunLimitMs));
  EXPECT_EQ(m_dlg->Outcome(0).m_nResult, RESULT_FAILED);
  EXPECT_EQ(m_dlg->Outcome(1).m_nResult, RESULT_COMPLETED);
  EXPECT_EQ(m_host.m_bars[1].m_strText, "Download Completed.");
  EXPECT_EQ(m_host.m_bars[0].m_strText, "Error!");

  // Then the line goes dead, as with a pulled cable: the receive thread
  // ends and takes the link down.
  m_sims.Handset(0).Stop();
  ASSERT_TRUE(Await([&] { return m_dlg->Binding(0).m_bConnected == 0; }));
  EXPECT_FALSE(m_dlg->Binding(0).m_comm.IsOpen());
  EXPECT_TRUE(m_host.m_controls[IDC_DOWNLOAD].enabled);
  const SimRecord r = m_sims.Handset(1).Record();
  EXPECT_TRUE(r.violations.empty()) << (r.violations.empty() ? "" : r.violations[0]);
  EXPECT_EQ(r.transfersDone, 1);
}

TEST_F(AutoDetectTest, PullingTheOnlyHandsetMidRunLeavesEveryEntryIdle) {
  StartBench(1);
  m_sims.Handset(0).SetPace(8000);
  Plug("ttyACM0", 0);
  ASSERT_TRUE(Await([&] { return Port(0) != 0; }));
  m_host.m_fileAnswers.push_back(MakePhoneImage(m_tmp.path(), 0x10000 + 40 * 1024, 0x10000));
  m_host.Click(IDC_PHONE_CODE, 1);
  m_host.Click(IDC_DOWNLOAD);
  ASSERT_TRUE(Await([&] { return m_sims.Handset(0).Record().blocksWritten >= 2; }, 30000));

  m_tree.Unplug("ttyACM0");
  ASSERT_TRUE(Await([&] { return !m_dlg->Running(); }));
  EXPECT_EQ(m_dlg->PortCount(), 0);
  EXPECT_EQ(m_host.m_bars[0].m_strText, "Error!");
  EXPECT_EQ(m_dlg->Outcome(0).m_nResult, RESULT_FAILED);
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(m_dlg->Outcome(i).m_nState, STATE_IDLE);
    EXPECT_EQ(m_dlg->Binding(i).m_nComPort, 0);
    EXPECT_EQ(m_dlg->Binding(i).m_bConnected, 0);
    EXPECT_FALSE(m_dlg->Binding(i).m_comm.IsOpen());
  }
  EXPECT_TRUE(m_host.m_timers.empty());
  EXPECT_TRUE(m_host.m_controls[IDC_DOWNLOAD].enabled);
}

TEST_F(AutoDetectTest, HandsetPluggedInAfterTheOnlyOneWasPulledIsDownloaded) {
  StartBench(2);
  Plug("ttyACM0", 0);
  ASSERT_TRUE(Await([&] { return Port(0) != 0; }));
  const std::string path = MakePhoneImage(m_tmp.path(), 0x10000 + 4 * 1024, 0x10000);
  m_host.m_fileAnswers.push_back(path);
  m_host.Click(IDC_PHONE_CODE, 1);
  m_host.Click(IDC_DOWNLOAD);
  ASSERT_TRUE(Await([&] { return !m_dlg->Running(); }, kRunLimitMs));
  ASSERT_EQ(m_dlg->Outcome(0).m_nResult, RESULT_COMPLETED);

  // Pulled out after the run: the link was still open on it.
  m_tree.Unplug("ttyACM0");
  m_sims.Handset(0).Stop();
  ASSERT_TRUE(Await([&] { return m_dlg->PortCount() == 0; }));
  Await([] { return false; }, 300);  // the receive thread's end, if it comes

  Plug("ttyACM1", 1);
  ASSERT_TRUE(Await([&] { return Port(0) != 0; }));
  EXPECT_EQ(Port(0), 1);
  m_host.Click(IDC_DOWNLOAD);
  ASSERT_TRUE(Await([&] { return !m_dlg->Running(); }, kRunLimitMs));
  EXPECT_EQ(m_dlg->Outcome(0).m_nResult, RESULT_COMPLETED);
  EXPECT_EQ(m_sims.Handset(1).Record().transfersDone, 1);
}

}  // namespace
