// Port Search over a fake sysfs/dev tree, driven through the dialog on the
// fake host: which ttys count as handsets' ports, their order, the twenty
// entries, the COM numbers they get and what the window is told.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "ControlIds.h"
#include "FakeHost.h"
#include "PortSearchOptions.h"
#include "PortTree.h"
#include "VelmoraDlg.h"
#include "comm/Registry.h"
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
    m_dlg = std::make_unique<CVelmoraDlg>(m_host);
    m_host.SetDialog(m_dlg.get());
    m_dlg->OnInitDialog();
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
    for (int i = 0; i < n; ++i) out.push_back(CPortMap::Instance().Device(m_dlg->m_entries[i].m_nComPort).value_or(""));
    return out;
  }
  std::string TraceText() const { return m_trace.Text(); }
  /// Entries from `first` on hold no port and show nothing.
  void ExpectUnboundFrom(int first) {
    for (int i = first; i < MAX_ENTRIES; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(m_dlg->m_entries[i].m_nComPort, 0);
      EXPECT_EQ(m_dlg->m_strPortLabel[i], "");
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

  EXPECT_EQ(m_dlg->m_nPortCount, 3);
  // Without hub sockets the order is that of the kernel names.
  EXPECT_EQ(BoundDevices(3),
            (std::vector<std::string>{m_tree.Node("kvxuart0"), m_tree.Node("ttyACM0"), m_tree.Node("ttyUSB0")}));
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(m_dlg->m_entries[i].m_nComPort, i + 1);
    EXPECT_EQ(m_dlg->m_strPortLabel[i], "[COM" + std::to_string(i + 1) + "]");
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
  ASSERT_EQ(m_dlg->m_nPortCount, 5);
  EXPECT_EQ(BoundDevices(5), want);
  int before[5];
  for (int i = 0; i < 5; ++i) before[i] = m_dlg->m_entries[i].m_nComPort;

  Search();
  EXPECT_EQ(BoundDevices(5), want);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(m_dlg->m_entries[i].m_nComPort, before[i]) << i;
}

TEST_F(PortSearchTest, PortMatchSettingAddsFragments) {
  m_tree.AddTty("ttyS0", "serial8250");
  m_tree.AddTty("ttyACM0", "cdc_acm");
  m_tree.AddTty("ttyUSB0", "ftdi_sio");
  Search();
  EXPECT_EQ(m_dlg->m_nPortCount, 0);

  ASSERT_TRUE(CRegistry::WriteString(kPortMatchSetting, " cdc_acm , ,ftdi_sio,"));
  EXPECT_EQ(PortMatchFragments(), (std::vector<std::string>{"kvxuart", "cdc_acm", "ftdi_sio"}));
  Search();
  EXPECT_EQ(m_dlg->m_nPortCount, 2);
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
  ASSERT_EQ(m_dlg->m_nPortCount, MAX_ENTRIES);
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(BoundDevices(MAX_ENTRIES)[static_cast<size_t>(i)], m_tree.Node("ttyACM" + std::to_string(22 - i)));
    EXPECT_EQ(m_dlg->m_strPortLabel[i], "[COM" + std::to_string(m_dlg->m_entries[i].m_nComPort) + "]");
  }
  // The three left over were not given numbers either.
  for (int k : {0, 1, 2}) EXPECT_EQ(CPortMap::Instance().Number(m_tree.Node("ttyACM" + std::to_string(k))), 0);
}

TEST_F(PortSearchTest, NoMatchUnbindsEveryEntryAndEnablesTheRunControls) {
  m_tree.AddTty("ttyACM0", "kvxuart");
  m_tree.AddTty("ttyACM1", "kvxuart");
  Search();
  ASSERT_EQ(m_dlg->m_nPortCount, 2);
  m_dlg->EnableControls(0);
  m_tree.Unplug("ttyACM0");
  m_tree.Unplug("ttyACM1");
  m_tree.AddTty("ttyS0", "serial8250");
  Search();
  EXPECT_EQ(m_dlg->m_nPortCount, 0);
  ExpectUnboundFrom(0);
  EXPECT_TRUE(m_host.m_controls[IDC_DOWNLOAD].enabled);
  EXPECT_TRUE(m_host.m_controls[IDC_PORT_LIST].enabled);
}

TEST_F(PortSearchTest, MissingTreeBindsNothing) {
  SetPortSearchRoots(m_tree.Root() + "/no-sys", m_tree.Root() + "/no-dev");
  Search();
  EXPECT_EQ(m_dlg->m_nPortCount, 0);
  ExpectUnboundFrom(0);
}

TEST_F(PortSearchTest, NumbersAreWholeAndKeptWhileTheDeviceStays) {
  // COM1..COM11 belong to devices elsewhere: the handset gets COM12, and
  // the whole number reaches the entry, its label and the removal.
  for (int n = 1; n <= 11; ++n) CPortMap::Instance().Set(n, "/elsewhere/tty" + std::to_string(n));
  m_tree.AddTty("ttyACM0", "kvxuart");
  m_tree.AddByPath(std::string(kSocket) + "1.1:1.0", "ttyACM0");
  Search();
  ASSERT_EQ(m_dlg->m_nPortCount, 1);
  EXPECT_EQ(m_dlg->m_entries[0].m_nComPort, 12);
  EXPECT_EQ(m_dlg->m_strPortLabel[0], "[COM12]");
  DevBroadcastPort note;
  std::snprintf(note.dbcp_name, sizeof note.dbcp_name, "COM12");
  m_dlg->WindowProc(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<intptr_t>(&note));
  EXPECT_EQ(m_dlg->m_entries[0].m_nComPort, 0);
  for (int n = 1; n <= 11; ++n) CPortMap::Instance().Remove(n);

  // A second device joins; the first keeps COM12 and the new one takes the
  // lowest free number; the entries follow the numbers. When the first
  // leaves, its device is no longer behind a number.
  m_tree.AddTty("ttyACM1", "kvxuart");
  m_tree.AddByPath(std::string(kSocket) + "1.2:1.0", "ttyACM1");
  Search();
  EXPECT_EQ(m_dlg->m_entries[0].m_nComPort, 1);
  EXPECT_EQ(m_dlg->m_entries[1].m_nComPort, 12);
  m_tree.Unplug("ttyACM0");
  m_tree.AddTty("ttyACM2", "kvxuart");
  m_tree.AddByPath(std::string(kSocket) + "1.3:1.0", "ttyACM2");
  Search();
  EXPECT_EQ(BoundDevices(2), (std::vector<std::string>{m_tree.Node("ttyACM1"), m_tree.Node("ttyACM2")}));
  EXPECT_EQ(m_dlg->m_entries[0].m_nComPort, 1);
  EXPECT_EQ(m_dlg->m_entries[1].m_nComPort, 2);
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
  EXPECT_EQ(m_dlg->m_nPortCount, 2);
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
  EXPECT_EQ(m_dlg->m_nPortCount, 1);
  EXPECT_EQ(BoundDevices(1)[0], m_tree.Node("ttyACM1"));
  EXPECT_NE(TraceText().find("Serial device skipped, no node in " + m_tree.DevRoot() + ": ttyACM0\n"),
            std::string::npos);
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
