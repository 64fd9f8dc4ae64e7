// The manual port list (Auto Detect off) on the fake host, and the advice an
// entry's log gives when a port exists but may not be opened.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "ControlIds.h"
#include "DialogOnHost.h"
#include "FakeHost.h"
#include "PhoneImage.h"
#include "PortTree.h"
#include "platform/Registry.h"
#include "VelmoraDlg.h"
#include "platform/PortMap.h"
#include "platform/PortPermission.h"
#include "pty/PtyPair.h"
#include "EngineProbe.h"

namespace {

class ManualListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CRegistry::SetStorePath(m_tmp.path() + "/settings.ini");
    CPortMap::Instance().Clear();
    m_dlg = NewDialog(m_host);
  }
  void TearDown() override {
    m_dlg.reset();
    CPortMap::Instance().Clear();
  }
  const std::vector<std::string>& Items() { return m_host.m_controls[IDC_PORT_LIST].items; }
  void Select(std::initializer_list<int> items) {
    for (int k : items) m_host.SelectListItem(IDC_PORT_LIST, k, true);
  }
  void ChoosePhone() {
    ChangeChoices(*m_dlg, [&](ImageChoices& c) {
      c.m_bPhoneCode = 1;
      c.m_strPhonePath = MakePhoneImage(m_tmp.path(), 0x10000 + 2048, 0x10000);
    });
  }

  CTempDir m_tmp;
  CFakeHost m_host;
  std::unique_ptr<CVelmoraDlg> m_dlg;
};

TEST_F(ManualListTest, ThirtyItemsNameTheDeviceBehindEachNumber) {
  ASSERT_EQ(Items().size(), 30u);
  for (int k = 0; k < 30; ++k) EXPECT_EQ(Items()[static_cast<size_t>(k)], "COM" + std::to_string(k + 1));
  EXPECT_FALSE(m_host.m_controls[IDC_PORT_LIST].shown);

  CPortMap::Instance().Set(3, "/dev/ttyACM2");
  CPortMap::Instance().Set(30, "/dev/ttyUSB7");
  m_host.Click(IDC_AUTO_DETECT, 0);
  EXPECT_TRUE(m_host.m_controls[IDC_PORT_LIST].shown);
  EXPECT_FALSE(m_host.m_controls[kEntryCheckIds[0]].shown);
  EXPECT_FALSE(m_host.m_controls[kPortLabelIds[0]].shown);
  ASSERT_EQ(Items().size(), 30u);
  EXPECT_EQ(Items()[2], "COM3  /dev/ttyACM2");
  EXPECT_EQ(Items()[29], "COM30  /dev/ttyUSB7");
  EXPECT_EQ(Items()[3], "COM4");

  // A number that loses its device loses the text beside it too.
  CPortMap::Instance().Remove(3);
  m_host.Click(IDC_AUTO_DETECT, 1);
  EXPECT_EQ(Items()[2], "COM3");
  EXPECT_FALSE(m_host.m_controls[IDC_PORT_LIST].shown);
}

TEST_F(ManualListTest, SelectedItemsAreBoundInListOrderAtDownLoad) {
  CPortMap::Instance().Set(4, "/dev/ttyACM4");
  m_host.Click(IDC_AUTO_DETECT, 0);
  // A binding from before is replaced by the selection.
  CEngineProbe::Binding(*m_dlg, 5).m_nComPort = 9;
  Select({3, 1});
  m_host.Click(IDC_DOWNLOAD);
  EXPECT_EQ(CountBoxes(m_host, "No binaries has been selected."), 1);
  EXPECT_EQ(m_dlg->PortCount(), 2);
  EXPECT_EQ(m_dlg->Binding(0).m_nComPort, 2);
  EXPECT_EQ(m_dlg->Binding(1).m_nComPort, 4);
  for (int i = 2; i < MAX_ENTRIES; ++i) EXPECT_EQ(m_dlg->Binding(i).m_nComPort, 0) << i;
  EXPECT_EQ(m_host.m_portHints[0], "");
  EXPECT_EQ(m_host.m_portHints[1], "/dev/ttyACM4");
}

TEST_F(ManualListTest, TwentyItemsAreAllowed) {
  m_host.Click(IDC_AUTO_DETECT, 0);
  for (int k = 10; k < 30; ++k) m_host.SelectListItem(IDC_PORT_LIST, k, true);
  EXPECT_TRUE(m_dlg->CollectManualPorts());
  EXPECT_EQ(m_dlg->PortCount(), 20);
  EXPECT_EQ(m_dlg->Binding(0).m_nComPort, 11);
  EXPECT_EQ(m_dlg->Binding(19).m_nComPort, 30);
  EXPECT_EQ(CountBoxes(m_host, "선택 허용치를 초과하였습니다."), 0);
}

TEST_F(ManualListTest, TwentyOneItemsShowTheLimitAndStartNothing) {
  ChoosePhone();
  m_host.Click(IDC_AUTO_DETECT, 0);
  for (int k = 0; k < 21; ++k) m_host.SelectListItem(IDC_PORT_LIST, k, true);
  m_host.Click(IDC_DOWNLOAD);
  EXPECT_EQ(CountBoxes(m_host, "선택 허용치를 초과하였습니다."), 1);
  EXPECT_EQ(m_host.m_boxes.size(), 1u);
  EXPECT_EQ(m_dlg->PortCount(), 0);
  for (int i = 0; i < MAX_ENTRIES; ++i) EXPECT_EQ(m_dlg->Binding(i).m_nComPort, 0) << i;
  EXPECT_FALSE(m_dlg->Running());
  EXPECT_TRUE(m_host.m_timers.empty());
  EXPECT_TRUE(m_host.m_controls[IDC_DOWNLOAD].enabled);
}

TEST_F(ManualListTest, DeviceNotificationsAreIgnoredWhileAutoDetectIsOff) {
  m_host.Click(IDC_AUTO_DETECT, 0);
  DevBroadcastPort note;
  std::snprintf(note.dbcp_name, sizeof note.dbcp_name, "COM5");
  m_dlg->WindowProc(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<intptr_t>(&note));
  EXPECT_EQ(m_dlg->PortCount(), 0);
  EXPECT_EQ(m_dlg->Binding(0).m_nComPort, 0);
}

// ---- a port that exists but may not be opened ----

/// Runs in a child without root's rights (nobody) when the tests run as
/// root, for whom every device would open. Exits 0 when the entry's log
/// named the device and the cause after the system's own line on each of
/// two attempts, with the fix: the node's `group` and the udev rule.
[[noreturn]] void ExpectCauseAsUnprivileged(const std::string& node, const std::string& group) {
  auto fail = [](const std::string& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    std::_Exit(1);
  };
  if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
    fail("cannot drop root's rights");
  CFakeHost host;
  CVelmoraDlg dlg(host);
  host.SetDialog(&dlg);
  dlg.OnInitDialog();
  CPortMap::Instance().Set(1, node);
  CEngineProbe::NewRun(dlg);  // as DownLoad connects its entries
  for (int attempt = 0; attempt < 2; ++attempt) {
    CEngineProbe::Binding(dlg, 0).m_nComPort = 1;
    if (dlg.Connect(0)) fail("the port opened");
    host.DispatchPending();
  }
  const std::string cause = node + ": permission denied (EACCES); ";
  int usbCheck = 0, causes = 0;
  for (const LogLine& line : host.m_logs[0]) {
    if (line.text == "USB 연결 상태를 확인하세요.") ++usbCheck;
    if (line.text.rfind(cause, 0) != 0) continue;
    ++causes;
    if (causes > usbCheck) fail("cause before the system's line: " + line.text);
    if (line.text.find(group + " group") == std::string::npos) fail("no group in: " + line.text);
    if (line.text.find("contrib/99-velmora.rules") == std::string::npos) fail("no udev rule in: " + line.text);
    if (dlg.Outcome(0).m_strReason != line.text) fail("reason is not the line: " + dlg.Outcome(0).m_strReason);
  }
  if (usbCheck != 2) fail("USB line " + std::to_string(usbCheck) + " times");
  if (causes != 2) fail("cause " + std::to_string(causes) + " times");
  std::_Exit(0);
}

TEST(PortPermissionTest, DeniedPortIsExplainedWithTheFix) {
  const group* dialout = getgrnam("dialout");
  if (dialout == nullptr) GTEST_SKIP() << "no dialout group on this machine";
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  const std::string node = pty.SlavePath();
  // Root may hand the node to dialout as udev would; others keep their own
  // group and lock themselves out instead.
  if (getuid() == 0) {
    ASSERT_EQ(chown(node.c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(chmod(node.c_str(), 0660), 0);
  } else {
    ASSERT_EQ(chmod(node.c_str(), 0), 0);
  }
  struct stat st {};
  ASSERT_EQ(stat(node.c_str(), &st), 0);
  const group* owner = getgrgid(st.st_gid);
  ASSERT_NE(owner, nullptr);
  EXPECT_EXIT(ExpectCauseAsUnprivileged(node, owner->gr_name), ::testing::ExitedWithCode(0), "");
}

TEST(PortPermissionTest, AdviceNamesTheFixWhateverTheRights) {
  CTempDir dir;
  const std::string open = dir.Write("open", {0});
  const std::string advice = PortPermissionAdvice(open);
  EXPECT_NE(advice.find("contrib/99-velmora.rules"), std::string::npos) << advice;
  EXPECT_EQ(PortPermissionAdvice(dir.path() + "/absent"), "install contrib/99-velmora.rules in /etc/udev/rules.d/");
}

TEST_F(ManualListTest, APortHeldByAnotherEntryNamesThatEntryUnderEitherName) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  CTempDir dir;
  const std::string alias = dir.path() + "/ttyHANDSET";
  ASSERT_EQ(symlink(pty.SlavePath().c_str(), alias.c_str()), 0);
  // Two numbers for one device, as a renamed node can leave them: under one
  // name, or under the node's and a link's.
  for (const std::string& second : {pty.SlavePath(), alias}) {
    SCOPED_TRACE(second);
    CPortMap::Instance().Set(1, pty.SlavePath());
    CPortMap::Instance().Set(2, second);
    CEngineProbe::Binding(*m_dlg, 0).m_nComPort = 1;
    CEngineProbe::Binding(*m_dlg, 1).m_nComPort = 2;
    CEngineProbe::NewRun(*m_dlg);  // as DownLoad connects its entries
    ASSERT_TRUE(m_dlg->Connect(0));
    EXPECT_FALSE(m_dlg->Connect(1));
    m_host.DispatchPending();
    const std::string cause = second + ": busy (EWOULDBLOCK); held by Entry 1";
    EXPECT_EQ(m_dlg->Outcome(1).m_strReason, cause);
    ASSERT_FALSE(m_host.m_logs[1].empty());
    EXPECT_EQ(m_host.m_logs[1].back().text, cause);
    m_dlg->Disconnect(0);
  }
}

}  // namespace
