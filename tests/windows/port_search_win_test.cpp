// Port Search and port arrival/removal over the serial device map of the
// Wine prefix (HKLM HARDWARE\DEVICEMAP\SERIALCOMM), with values of the
// test's own beside Wine's: which values count, their order, the numbers
// the entries get, PORT_MATCH, the limit of twenty.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ControlIds.h"
#include "DialogOnHost.h"
#include "FakeHost.h"
#include "ports/PortSearchOptions.h"
#include "platform/Registry.h"
#include "TraceCapture.h"
#include "VelmoraDlg.h"
#include "platform/HotPlug.h"
#include "platform/PortDiscovery.h"
#include "platform/PortMap.h"
#include "platform/WinApi.h"

namespace {

constexpr const wchar_t* kMap = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
const std::string kPrefix = "\\Device\\VelmoraTest";  // every value the tests write starts so

/// The test's values in the device map; none before or after a test.
class CDeviceMapValues {
 public:
  CDeviceMapValues() { RemoveAll(); }
  ~CDeviceMapValues() { RemoveAll(); }
  bool Add(const std::string& name, const std::string& port) {
    const std::wstring n = WideFromUtf8(kPrefix + name), data = WideFromUtf8(port);
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kMap, n.c_str(), REG_SZ, data.c_str(),
                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  bool Remove(const std::string& name) {
    return ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kMap, WideFromUtf8(kPrefix + name).c_str()) == ERROR_SUCCESS;
  }

 private:
  void RemoveAll() {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMap, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
      return;
    std::vector<std::wstring> ours;
    wchar_t name[256];
    for (DWORD j = 0;; ++j) {
      DWORD length = 256;
      if (::RegEnumValueW(key, j, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      if (Utf8FromWide(name, length).rfind(kPrefix, 0) == 0) ours.emplace_back(name, length);
    }
    for (const auto& n : ours) ::RegDeleteValueW(key, n.c_str());
    ::RegCloseKey(key);
  }
};

std::vector<std::string> Com(std::vector<int> numbers) {
  std::vector<std::string> out;
  for (int n : numbers) out.push_back("\\\\.\\COM" + std::to_string(n));
  return out;
}

class DeviceMapSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CRegistry::SetStorePath("SOFTWARE\\NORVANE\\VELMORA-TEST-SEARCH");
    CRegistry::WriteString(kPortMatchSetting, "");
    CPortMap::Instance().Clear();
    m_dlg = NewDialog(m_host);
  }
  void TearDown() override {
    m_dlg.reset();
    CRegistry::WriteString(kPortMatchSetting, "");
    CPortMap::Instance().Clear();
  }
  std::vector<int> Search() {
    m_host.Click(IDC_PORT_SEARCH);
    m_host.DispatchPending();
    std::vector<int> bound;
    for (int i = 0; i < MAX_ENTRIES; ++i)
      if (m_dlg->Binding(i).m_nComPort != 0) bound.push_back(m_dlg->Binding(i).m_nComPort);
    return bound;
  }

  CDeviceMapValues m_map;
  CFakeHost m_host;
  std::unique_ptr<CVelmoraDlg> m_dlg;
};

TEST_F(DeviceMapSearchTest, ValuesNamingTheFragmentAreBoundInTheMapsOrderWithTheOSsNumbers) {
  // Written in the order Wine also lists them (it keeps values sorted by
  // name), so that the expectation holds on Windows, which lists them as
  // written, too.
  for (const auto& [name, port] : std::vector<std::pair<std::string, std::string>>{
           {" kvxuartB", "COM12"},  // two digits
           {" kvxuartC", "COM7"},
           {" kvxuartD", "LPT1"},   // no COM port
           {" kvxuartE", "COM31"},  // beyond the numbers an entry can hold
           {" KVXUARTX", "COM8"},   // the match is case-sensitive
           {" otherdrv", "COM9"},
           {" serial", "COM2"},
           {"_kvxuart", "COM3"},    // the fragment at the very end
       })
    ASSERT_TRUE(m_map.Add(name, port)) << name;
  TraceCapture trace;
  EXPECT_EQ(CPortDiscovery(PortSearchOptions()).Find(), Com({12, 7, 3}));
  EXPECT_NE(trace.Text().find("port name not COM1..COM30: " + kPrefix + " kvxuartD = LPT1"), std::string::npos)
      << trace.Text();
  EXPECT_NE(trace.Text().find(kPrefix + " kvxuartE = COM31"), std::string::npos) << trace.Text();

  // Not sorted by number: the map's order is the bench's.
  EXPECT_EQ(Search(), (std::vector<int>{12, 7, 3}));
  EXPECT_EQ(m_dlg->PortLabelText(0), "[COM12]");
  EXPECT_EQ(m_dlg->PortLabelText(2), "[COM3]");
  EXPECT_EQ(m_dlg->PortLabelText(3), "");
  EXPECT_EQ(CPortMap::Instance().Device(12).value_or(""), "\\\\.\\COM12");

  ASSERT_TRUE(CRegistry::WriteString(kPortMatchSetting, "otherdrv, nothing"));
  EXPECT_EQ(Search(), (std::vector<int>{12, 7, 9, 3}));

  // A port gone from the map is gone from the entries at the next search.
  ASSERT_TRUE(m_map.Remove(" kvxuartC"));
  EXPECT_EQ(Search(), (std::vector<int>{12, 9, 3}));
}

TEST_F(DeviceMapSearchTest, TheFirstTwentyHandsetPortsAreBound) {
  for (int k = 1; k <= 22; ++k) {
    char name[16];
    std::snprintf(name, sizeof name, " kvxuart%02d", k);
    ASSERT_TRUE(m_map.Add(name, "COM" + std::to_string(31 - k)));  // COM30 down to COM9
  }
  std::vector<int> want;
  for (int k = 1; k <= 20; ++k) want.push_back(31 - k);
  EXPECT_EQ(Search(), want);
}

TEST_F(DeviceMapSearchTest, APortBoundWithoutTheMapIsTheSystemsPortOfThatNumber) {
  // The window binds what the system's WM_DEVICECHANGE names, the manual
  // list what the operator picks: COM 7 opens the system's COM7.
  m_host.Click(IDC_AUTO_DETECT, 0);
  m_host.SelectListItem(IDC_PORT_LIST, 6, true);
  ASSERT_TRUE(m_dlg->CollectManualPorts());
  EXPECT_EQ(m_dlg->Binding(0).m_nComPort, 7);
  EXPECT_EQ(CPortMap::Instance().Device(7).value_or(""), "\\\\.\\COM7");
  EXPECT_EQ(CPortMap::Instance().Device(31), std::nullopt);
}

TEST(DeviceMapHotPlugTest, PortsComingAndGoingInTheMapAreReported) {
  CDeviceMapValues map;
  ASSERT_TRUE(map.Add(" kvxuartOld", "COM24"));
  std::mutex lock;
  std::vector<std::pair<HotPlugEvent, std::string>> seen;
  HotPlugOptions options;
  CHotPlug hotPlug(options, [&](HotPlugEvent event, const std::string& device) {
    std::lock_guard<std::mutex> guard(lock);
    seen.emplace_back(event, device);
  });
  ASSERT_TRUE(hotPlug.Start());
  EXPECT_EQ(hotPlug.Mode(), HotPlugMode::DeviceMap);
  ASSERT_TRUE(map.Add(" kvxuartNew", "COM23"));
  ASSERT_TRUE(map.Add(" unrelated", "COM22"));
  ASSERT_TRUE(map.Remove(" kvxuartOld"));
  auto count = [&] {
    std::lock_guard<std::mutex> guard(lock);
    return seen.size();
  };
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
       count() < 2 && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  hotPlug.Stop();
  // The one already there at the start counts as present, not as come.
  // (The changes may fall into two readings: their order is not checked.)
  std::sort(seen.begin(), seen.end());
  const std::vector<std::pair<HotPlugEvent, std::string>> want{{HotPlugEvent::Arrived, "\\\\.\\COM23"},
                                                               {HotPlugEvent::Removed, "\\\\.\\COM24"}};
  EXPECT_EQ(seen, want);
}

}  // namespace
