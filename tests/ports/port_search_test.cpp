// Port Search over a fake sysfs/dev tree, driven through the dialog on the
// fake host: which ttys count as handsets' ports, their order, the twenty
// entries, the COM numbers they get and what the window is told.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "ControlIds.h"
#include "DialogOnHost.h"
#include "FakeHost.h"
#include "ports/PortSearchOptions.h"
#include "PortTree.h"
#include "VelmoraDlg.h"
#include "platform/Registry.h"
#include "TraceCapture.h"
#include "platform/PortDiscovery.h"
#include "platform/PortMap.h"

namespace {

constexpr const char* kSocket = "pci-0000:00:14.0-usb-0:";

class PortSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CRegistry::SetStorePath(m_settings.path() + "/settings.ini");
    CPortMap::Instance().Clear();
    SetPortSearchRoots(m_tree.SysRoot(), m_tree.DevRoot());
    m_dlg = NewDialog(m_host);
  }
  void TearDown() override {
    m_dlg.reset();
    SetPortSearchRoots("", "");
    CPortMap::Instance().Clear();
  }

  void Search() {
    m_host.Click(IDC_PORT_SEARCH);
    m_host.DispatchPending();
  }
  /// The device bound to each of the first `n` entries.
  std::vector<std::string> BoundDevices(int n) const {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back(CPortMap::Instance().Device(m_dlg->Binding(i).m_nComPort).value_or(""));
    return out;
  }
  std::string TraceText() const { return m_trace.Text(); }
  /// Entries from `first` on hold no port and show nothing.
  void ExpectUnboundFrom(int first) {
    for (int i = first; i < MAX_ENTRIES; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(m_dlg->Binding(i).m_nComPort, 0);
      EXPECT_EQ(m_dlg->PortLabelText(i), "");
      EXPECT_FALSE(m_host.m_controls[kEntryCheckIds[i]].enabled);
      EXPECT_EQ(m_host.m_portHints[i], "");
    }
  }

  CTempDir m_settings;
  CPortTree m_tree;
  CFakeHost m_host;
  std::unique_ptr<CVelmoraDlg> m_dlg;
  TraceCapture m_trace;
};

TEST_F(PortSearchTest, HandsetsAreKnownByKernelNameDriverOrById) {
  m_tree.AddTty("ttyS0", "serial8250");
  m_tree.AddTty("kvxuart0", "");                            // kernel name
  m_tree.AddTty("ttyUSB0", "kvxuart");                      // driver
  m_tree.AddTty("ttyACM0", "cdc_acm");                      // by-id, fragment at the end
  m_tree.AddById("usb-Norvane_Modem_kvxuart", "ttyACM0");
  m_tree.AddTty("ttyACM1", "cdc_acm");
  m_tree.AddById("usb-Other_Modem_42-if00", "ttyACM1");
  m_tree.AddTty("ttyUSB1", "KVXUART");                      // the match is case-sensitive
  m_tree.AddVirtualTty("kvxuart-console");                  // no device behind it
  Search();

  EXPECT_EQ(m_dlg->PortCount(), 3);
  // Without hub sockets the order is that of the kernel names.
  EXPECT_EQ(BoundDevices(3),
            (std::vector<std::string>{m_tree.Node("kvxuart0"), m_tree.Node("ttyACM0"), m_tree.Node("ttyUSB0")}));
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(m_dlg->Binding(i).m_nComPort, i + 1);
    EXPECT_EQ(m_dlg->PortLabelText(i), "[COM" + std::to_string(i + 1) + "]");
    EXPECT_TRUE(m_host.m_controls[kEntryCheckIds[i]].enabled);
    EXPECT_EQ(m_host.m_portHints[i], BoundDevices(3)[static_cast<size_t>(i)]);
  }
  ExpectUnboundFrom(3);
}

TEST_F(PortSearchTest, OrderIsThatOfTheHubSocketsAndStaysTheSame) {
  for (const char* name : {"ttyACM0", "ttyACM1", "ttyACM2", "ttyACM3", "ttyACM10"}) m_tree.AddTty(name, "kvxuart");
  m_tree.AddByPath(std::string(kSocket) + "1.10:1.0", "ttyACM0");
  m_tree.AddByPath(std::string(kSocket) + "1.2:1.0", "ttyACM3");
  m_tree.AddByPath(std::string(kSocket) + "1.3:1.0", "ttyACM2");
  // ttyACM1 and ttyACM10 hang on no known socket: they come last.
  const std::vector<std::string> want{m_tree.Node("ttyACM3"), m_tree.Node("ttyACM2"), m_tree.Node("ttyACM0"),
                                      m_tree.Node("ttyACM1"), m_tree.Node("ttyACM10")};
  Search();
  ASSERT_EQ(m_dlg->PortCount(), 5);
  EXPECT_EQ(BoundDevices(5), want);
  int before[5];
  for (int i = 0; i < 5; ++i) before[i] = m_dlg->Binding(i).m_nComPort;

  Search();
  EXPECT_EQ(BoundDevices(5), want);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(m_dlg->Binding(i).m_nComPort, before[i]) << i;
}

TEST_F(PortSearchTest, PortMatchSettingAddsFragments) {
  m_tree.AddTty("ttyS0", "serial8250");
  m_tree.AddTty("ttyACM0", "cdc_acm");
  m_tree.AddTty("ttyUSB0", "ftdi_sio");
  Search();
  EXPECT_EQ(m_dlg->PortCount(), 0);

  ASSERT_TRUE(CRegistry::WriteString(kPortMatchSetting, " cdc_acm , ,ftdi_sio,"));
  EXPECT_EQ(PortMatchFragments(), (std::vector<std::string>{"kvxuart", "cdc_acm", "ftdi_sio"}));
  Search();
  EXPECT_EQ(m_dlg->PortCount(), 2);
  EXPECT_EQ(BoundDevices(2), (std::vector<std::string>{m_tree.Node("ttyACM0"), m_tree.Node("ttyUSB0")}));
  ExpectUnboundFrom(2);
}

TEST_F(PortSearchTest, TwentyEntriesTakeTheFirstTwentyInOrder) {
  for (int k = 0; k < 23; ++k) {
    const std::string name = "ttyACM" + std::to_string(k);
    m_tree.AddTty(name, "kvxuart");
    // Sockets in reverse: the order must come from them, not the names.
    m_tree.AddByPath(std::string(kSocket) + "1." + std::to_string(23 - k) + ":1.0", name);
  }
  Search();
  ASSERT_EQ(m_dlg->PortCount(), MAX_ENTRIES);
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(BoundDevices(MAX_ENTRIES)[static_cast<size_t>(i)], m_tree.Node("ttyACM" + std::to_string(22 - i)));
    EXPECT_EQ(m_dlg->PortLabelText(i), "[COM" + std::to_string(m_dlg->Binding(i).m_nComPort) + "]");
  }
  // The three left over were not given numbers either.
  for (int k : {0, 1, 2}) EXPECT_EQ(CPortMap::Instance().Number(m_tree.Node("ttyACM" + std::to_string(k))), 0);
}

TEST_F(PortSearchTest, NoMatchUnbindsEveryEntryAndEnablesTheRunControls) {
  m_tree.AddTty("ttyACM0", "kvxuart");
  m_tree.AddTty("ttyACM1", "kvxuart");
  Search();
  ASSERT_EQ(m_dlg->PortCount(), 2);
  m_dlg->EnableControls(0);
  m_tree.Unplug("ttyACM0");
  m_tree.Unplug("ttyACM1");
  m_tree.AddTty("ttyS0", "serial8250");
  Search();
  EXPECT_EQ(m_dlg->PortCount(), 0);
  ExpectUnboundFrom(0);
  EXPECT_TRUE(m_host.m_controls[IDC_DOWNLOAD].enabled);
  EXPECT_TRUE(m_host.m_controls[IDC_PORT_LIST].enabled);
}

TEST_F(PortSearchTest, MissingTreeBindsNothing) {
  SetPortSearchRoots(m_tree.Root() + "/no-sys", m_tree.Root() + "/no-dev");
  Search();
  EXPECT_EQ(m_dlg->PortCount(), 0);
  ExpectUnboundFrom(0);
}

TEST_F(PortSearchTest, NumbersAreWholeAndKeptWhileTheDeviceStays) {
  // COM1..COM11 belong to devices elsewhere: the handset gets COM12, and
  // the whole number reaches the entry, its label and the removal.
  for (int n = 1; n <= 11; ++n) CPortMap::Instance().Set(n, "/elsewhere/tty" + std::to_string(n));
  m_tree.AddTty("ttyACM0", "kvxuart");
  m_tree.AddByPath(std::string(kSocket) + "1.1:1.0", "ttyACM0");
  Search();
  ASSERT_EQ(m_dlg->PortCount(), 1);
  EXPECT_EQ(m_dlg->Binding(0).m_nComPort, 12);
  EXPECT_EQ(m_dlg->PortLabelText(0), "[COM12]");
  DevBroadcastPort note;
  std::snprintf(note.dbcp_name, sizeof note.dbcp_name, "COM12");
  m_dlg->WindowProc(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<intptr_t>(&note));
  EXPECT_EQ(m_dlg->Binding(0).m_nComPort, 0);
  for (int n = 1; n <= 11; ++n) CPortMap::Instance().Remove(n);

  // A second device joins; the first keeps COM12 and the new one takes the
  // lowest free number; the entries follow the numbers. When the first
  // leaves, its device is no longer behind a number.
  m_tree.AddTty("ttyACM1", "kvxuart");
  m_tree.AddByPath(std::string(kSocket) + "1.2:1.0", "ttyACM1");
  Search();
  EXPECT_EQ(m_dlg->Binding(0).m_nComPort, 1);
  EXPECT_EQ(m_dlg->Binding(1).m_nComPort, 12);
  m_tree.Unplug("ttyACM0");
  m_tree.AddTty("ttyACM2", "kvxuart");
  m_tree.AddByPath(std::string(kSocket) + "1.3:1.0", "ttyACM2");
  Search();
  EXPECT_EQ(BoundDevices(2), (std::vector<std::string>{m_tree.Node("ttyACM1"), m_tree.Node("ttyACM2")}));
  EXPECT_EQ(m_dlg->Binding(0).m_nComPort, 1);
  EXPECT_EQ(m_dlg->Binding(1).m_nComPort, 2);
  EXPECT_EQ(CPortMap::Instance().Number(m_tree.Node("ttyACM0")), 0);
}

TEST_F(PortSearchTest, OverlongNamesAreSkippedWithATraceLine) {
  const std::string longId = "usb-" + std::string(150, 'x') + "_kvxuart-if00";
  const std::string longKernel = "tty" + std::string(120, 'k') + "kvxuart";  // 130 bytes
  const std::string fitting = "usb-" + std::string(116, 'y') + "kvxuart";    // exactly 127 bytes
  ASSERT_EQ(fitting.size(), MAX_PORT_NAME_LENGTH);
  m_tree.AddTty("ttyACM0", "cdc_acm");
  m_tree.AddById(longId, "ttyACM0");
  m_tree.AddTty(longKernel, "kvxuart");
  m_tree.AddTty("ttyACM1", "cdc_acm");
  m_tree.AddById(fitting, "ttyACM1");
  m_tree.AddTty("ttyACM2", "kvxuart");
  Search();
  EXPECT_EQ(m_dlg->PortCount(), 2);
  EXPECT_EQ(BoundDevices(2), (std::vector<std::string>{m_tree.Node("ttyACM1"), m_tree.Node("ttyACM2")}));
  const std::string trace = TraceText();
  EXPECT_NE(trace.find("Serial device skipped, name over 127 bytes: usb-xxx"), std::string::npos) << trace;
  EXPECT_NE(trace.find("Serial device skipped, name over 127 bytes: ttykkk"), std::string::npos) << trace;
  // The line shows the start of the name, not the whole of it.
  EXPECT_EQ(trace.find(longId), std::string::npos);
}

TEST_F(PortSearchTest, DeviceWithoutItsNodeIsSkipped) {
  m_tree.AddSysTty("ttyACM0", "kvxuart");
  m_tree.AddTty("ttyACM1", "kvxuart");
  Search();
  EXPECT_EQ(m_dlg->PortCount(), 1);
  EXPECT_EQ(BoundDevices(1)[0], m_tree.Node("ttyACM1"));
  EXPECT_NE(TraceText().find("Serial device skipped, no node in " + m_tree.DevRoot() + ": ttyACM0\n"),
            std::string::npos);
}

// The numbers kept for sockets (or serials) in the settings file.
class PortNumbersTest : public PortSearchTest {
 protected:
  static std::string SocketName(int s) { return std::string(kSocket) + "1." + std::to_string(s) + ":1.0"; }
  /// A handset as tty `name` on hub socket `s`, known by `serial` when given.
  void PlugAt(const std::string& name, int s, const std::string& serial = "") {
    m_tree.AddTty(name, "kvxuart");
    m_tree.AddByPath(SocketName(s), name);
    if (!serial.empty()) m_tree.AddById("usb-Norvane_" + serial + "-if00", name);
  }
  /// As a new process would start: nothing mapped, only the file remembers.
  void Restart() {
    m_dlg.reset();
    CPortMap::Instance().Clear();
    m_dlg = NewDialog(m_host);
  }
  std::vector<int> Numbers() const {
    std::vector<int> out;
    for (int i = 0; i < m_dlg->PortCount(); ++i) out.push_back(m_dlg->Binding(i).m_nComPort);
    return out;
  }
  std::string Settings() const { return ReadText(CRegistry::StorePath()); }
  static std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  /// Handset A on socket 1, B on 2; then A moves to socket 3.
  std::vector<int> MoveOneHandset() {
    PlugAt("ttyACM0", 1, "A");
    PlugAt("ttyACM1", 2, "B");
    Search();
    EXPECT_EQ(Numbers(), (std::vector<int>{1, 2}));
    m_tree.Unplug("ttyACM0");
    PlugAt("ttyACM2", 3, "A");
    Restart();
    Search();
    return Numbers();
  }
};

TEST_F(PortNumbersTest, TwentySocketsKeepTheirNumbersWhateverThePlugOrderNamesAndRuns) {
  for (int k = 0; k < MAX_ENTRIES; ++k) PlugAt("ttyACM" + std::to_string(k), k + 1);
  Search();
  ASSERT_EQ(m_dlg->PortCount(), MAX_ENTRIES);
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(m_dlg->Binding(i).m_nComPort, i + 1);
    EXPECT_EQ(BoundDevices(MAX_ENTRIES)[static_cast<size_t>(i)], m_tree.Node("ttyACM" + std::to_string(i)));
  }
  EXPECT_EQ(m_host.m_portHints[4], m_tree.Node("ttyACM4") + "  " + SocketName(5));
  EXPECT_EQ(m_host.m_controls[IDC_PORT_LIST].items[4], "COM5  " + m_tree.Node("ttyACM4") + "  " + SocketName(5));
  EXPECT_NE(Settings().find("[PORTS]\n"), std::string::npos) << Settings();

  // Another run; the handsets come back in reverse order, so the kernel
  // hands out their names the other way round.
  for (int k = 0; k < MAX_ENTRIES; ++k) m_tree.Unplug("ttyACM" + std::to_string(k));
  for (int s = MAX_ENTRIES; s >= 1; --s) PlugAt("ttyACM" + std::to_string(MAX_ENTRIES - s), s);
  Restart();
  Search();
  ASSERT_EQ(m_dlg->PortCount(), MAX_ENTRIES);
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(m_dlg->Binding(i).m_nComPort, i + 1);
    EXPECT_EQ(CPortMap::Instance().Socket(i + 1), SocketName(i + 1));
    EXPECT_EQ(BoundDevices(MAX_ENTRIES)[static_cast<size_t>(i)],
              m_tree.Node("ttyACM" + std::to_string(MAX_ENTRIES - (i + 1))));
  }
}

TEST_F(PortNumbersTest, AMovedHandsetLeavesItsNumberWithTheSocket) {
  // Socket 1 keeps COM1 for whatever comes into it; socket 3 is new.
  EXPECT_EQ(MoveOneHandset(), (std::vector<int>{2, 3}));
  EXPECT_EQ(CPortMap::Instance().Device(3), m_tree.Node("ttyACM2"));
}

TEST_F(PortNumbersTest, AMovedHandsetTakesItsNumberAlongWhenKnownBySerial) {
  ASSERT_TRUE(CRegistry::WriteString("PORT_IDENTITY", "serial"));
  EXPECT_EQ(MoveOneHandset(), (std::vector<int>{1, 2}));
  EXPECT_EQ(CPortMap::Instance().Device(1), m_tree.Node("ttyACM2"));
  EXPECT_EQ(CPortMap::Instance().Socket(1), SocketName(3));
}

TEST_F(PortNumbersTest, APortWithoutSocketIsNumberedButNotKept) {
  m_tree.AddTty("ttyACM0", "kvxuart");
  PlugAt("ttyACM1", 1);
  Search();
  EXPECT_EQ(Numbers(), (std::vector<int>{1, 2}));
  EXPECT_EQ(CPortMap::Instance().Socket(1), SocketName(1));
  EXPECT_EQ(CPortMap::Instance().StoredCount(), 1);
  EXPECT_EQ(m_host.m_portHints[1], m_tree.Node("ttyACM0"));
}

TEST_F(PortNumbersTest, TheThirtyFirstIdentityTakesTheNumberOfTheOneSeenLongestAgo) {
  CPortMap& map = CPortMap::Instance();
  auto claim = [](int k) {
    return PortClaim{"/dev/ttyX" + std::to_string(k), "path:s" + std::to_string(k), "s" + std::to_string(k)};
  };
  for (int k = 1; k <= MAX_COM_PORT; ++k) ASSERT_EQ(map.Assign(claim(k)), k);
  EXPECT_EQ(map.Assign(claim(31)), 0);  // all present: none gives its number up
  map.Remove(30);  // seen leaving first: the longest ago
  map.Remove(28);
  map.Remove(29);
  map.Clear();  // a new run: what was seen when comes from the file
  for (int k = 1; k <= 27; ++k) ASSERT_EQ(map.Assign(claim(k)), k);
  EXPECT_EQ(map.Assign(claim(31)), 30);
  EXPECT_EQ(map.Assign(claim(30)), 28);
  EXPECT_EQ(map.StoredCount(), MAX_COM_PORT);
  EXPECT_EQ(Settings().find("path:s29\n") != std::string::npos, true) << Settings();
}

TEST_F(PortNumbersTest, ADamagedStoreIsReportedOnceAndRebuilt) {
  {
    std::ofstream out(CRegistry::StorePath());
    out << "[VELMORA]\nBIN_PATH=/img/\n\n[PORTS]\nCOM5=3 path:" << SocketName(1)
        << "\n\x01garbage\nCOM99=1 path:x\nCOM7=4 path:" << SocketName(1) << "\nCOM8=\n";
  }
  PlugAt("ttyACM0", 1);
  PlugAt("ttyACM1", 2);
  Search();
  EXPECT_EQ(Numbers(), (std::vector<int>{1, 5}));
  EXPECT_EQ(CPortMap::Instance().Device(5), m_tree.Node("ttyACM0"));
  Search();
  const std::string damaged = "Port numbers: the store was damaged; rebuilt from its readable lines\n";
  const std::string trace = TraceText();
  EXPECT_NE(trace.find(damaged), std::string::npos) << trace;
  EXPECT_EQ(trace.find(damaged), trace.rfind(damaged)) << trace;
  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), "/img/");
  EXPECT_EQ(Settings().find("garbage"), std::string::npos) << Settings();
  EXPECT_EQ(Settings().find("COM7="), std::string::npos) << Settings();

  // A store that cannot be read at all: the numbers hold for this run, and
  // that is said once.
  CRegistry::SetStorePath(m_settings.path());
  Restart();
  Search();
  Search();
  EXPECT_EQ(Numbers(), (std::vector<int>{1, 5}));
  const std::string unreadable = "Port numbers: the store cannot be read; numbers are kept for this run only\n";
  EXPECT_EQ(TraceText().find(unreadable), TraceText().rfind(unreadable));
  EXPECT_NE(TraceText().find(unreadable), std::string::npos);
}

TEST_F(PortNumbersTest, ForgettingAsksThenNumbersThePortsAfreshInSocketOrder) {
  PlugAt("ttyACM0", 1);
  PlugAt("ttyACM1", 2);
  Search();
  m_tree.Unplug("ttyACM0");
  PlugAt("ttyACM2", 3);
  Search();
  ASSERT_EQ(Numbers(), (std::vector<int>{2, 3}));

  m_host.m_nYesNoAnswer = IDNO;
  m_host.Click(IDM_FORGET_PORTS);
  m_host.DispatchPending();
  EXPECT_EQ(CPortMap::Instance().StoredCount(), 3);
  EXPECT_EQ(Numbers(), (std::vector<int>{2, 3}));

  m_host.m_nYesNoAnswer = IDYES;
  m_host.Click(IDM_FORGET_PORTS);
  m_host.DispatchPending();
  EXPECT_EQ(Numbers(), (std::vector<int>{1, 2}));
  EXPECT_EQ(BoundDevices(2), (std::vector<std::string>{m_tree.Node("ttyACM1"), m_tree.Node("ttyACM2")}));
  EXPECT_EQ(CPortMap::Instance().StoredCount(), 2);
  ASSERT_EQ(m_host.m_boxes.size(), 2u);
  EXPECT_EQ(m_host.m_boxes.back().text.rfind("저장된 COM 번호를 모두 지우시겠습니까?", 0), 0u);
}

TEST(PortDiscoveryTest, SplitPortMatchTrimsAndDropsEmptyParts) {
  EXPECT_EQ(SplitPortMatch(""), std::vector<std::string>{});
  EXPECT_EQ(SplitPortMatch(" , ,"), std::vector<std::string>{});
  EXPECT_EQ(SplitPortMatch("a"), std::vector<std::string>{"a"});
  EXPECT_EQ(SplitPortMatch(" cdc acm ,\tftdi\t"), (std::vector<std::string>{"cdc acm", "ftdi"}));
}

TEST(PortDiscoveryTest, NaturalOrderTakesDigitRunsAsNumbers) {
  EXPECT_TRUE(NaturalLess("ttyACM2", "ttyACM10"));
  EXPECT_FALSE(NaturalLess("ttyACM10", "ttyACM2"));
  EXPECT_TRUE(NaturalLess("usb-0:1.2:1.0", "usb-0:1.10:1.0"));
  EXPECT_TRUE(NaturalLess("usb-0:1.9:1.0", "usb-0:2.1:1.0"));
  EXPECT_TRUE(NaturalLess("tty1", "tty1a"));
  // Equal as numbers but different texts: still a strict order.
  EXPECT_NE(NaturalLess("a01", "a1"), NaturalLess("a1", "a01"));
  EXPECT_FALSE(NaturalLess("same", "same"));
}

}  // namespace
