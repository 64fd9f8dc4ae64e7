#include "VelmoraDlg.h"
#include "platform/Registry.h"

#include "ControlIds.h"
#include "platform/OsFile.h"

#ifdef _WIN32
const char kPathSeparator = '\\';
const char kPathSeparators[] = "\\/";
#else
const char kPathSeparator = '/';
const char kPathSeparators[] = "/";
#endif

std::string DefaultImageDirectory() {
#ifdef _WIN32
  std::string dir = OsEnvironment("USERPROFILE");
  if (dir.empty()) dir = "C:\\";
#else
  std::string dir = OsEnvironment("HOME");
  if (dir.empty()) dir = "/";
#endif
  if (!OsIsSeparator(dir.back())) dir += kPathSeparator;
  return dir;
}

CVelmoraDlg::CVelmoraDlg(IDialogHost& host) : m_host(host), m_dloadFile(&host) {}

CVelmoraDlg::~CVelmoraDlg() {
  // Links still being opened are the opener's until it is done with them.
  m_opener.Join();
  // Stop every receive thread before the links and queues they point at go.
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    DownloadEntry& e = m_entries[i];
    KillEntryTimer(i);
    e.m_comm.Release();
    e.m_pThread.reset();
  }
  m_zombieThreads.clear();
}

bool CVelmoraDlg::OnInitDialog() {
  UpdateData(false);
  ResetAllEntries();
  m_nDownloadType = 0;
  m_nSelEntry = 0;
  m_host.SetSliderRange(IDC_ENTRY_SLIDER, 0, 19);
  m_strEntryLabel = "Entry 1";
  UpdateData(false);
  m_bClosing = 0;
  m_choices.m_bInputAddress = 0;
  ShowDefaultAddresses();
  PortSelectionSetup();
  ResetProgress();
  m_bFlowMode = CRegistry::ReadNumber(kFlowModeSetting, 0, 1, 0);
  ShowDownLoadCaption();
  return true;
}

intptr_t CVelmoraDlg::WindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message >= WM_ENTRY_PACKET && message < WM_ENTRY_PACKET + MAX_ENTRIES)
    return OnEntryPacket(static_cast<int>(message - WM_ENTRY_PACKET));
  if (message >= WM_ENTRY_RXEND && message < WM_ENTRY_RXEND + MAX_ENTRIES)
    return OnEntryRxEnd(static_cast<int>(message - WM_ENTRY_RXEND));
  if (message >= WM_ENTRY_LOG && message < WM_ENTRY_LOG + MAX_ENTRIES)
    return OnEntryLog(static_cast<int>(message - WM_ENTRY_LOG));
  switch (message) {
    case WM_SLIDER_CHANGED:
      return OnSliderChanged();
    case WM_LINKS_OPENED:
      return OnLinksOpened(wParam);
    case WM_TIMER:
      if (wParam < static_cast<uintptr_t>(MAX_ENTRIES))
        OnEntryTimer(static_cast<int>(wParam));
      else if (wParam == static_cast<uintptr_t>(ELAPSED_TIMER_ID) && m_bRunning)
        ShowElapsedTime();
      else if (wParam == static_cast<uintptr_t>(FLOW_TIMER_ID) && m_bFlow)
        FlowTick();
      return 0;
    case WM_DEVICECHANGE: {
      if (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) return 0;
      const auto* port = reinterpret_cast<const DevBroadcastPort*>(lParam);
      if (!port || port->dbch_devicetype != DBT_DEVTYP_PORT || m_bAutoDetect != 1) return 0;
      int number = port->number;
      if (number == 0) {
        // Only a name: the number after its first three characters ("COM12"
        // gives 12).
        char name[sizeof port->dbcp_name + 1] = {};
        for (size_t k = 0; k < sizeof port->dbcp_name; ++k) name[k] = port->dbcp_name[k];
        number = (name[0] && name[1] && name[2]) ? std::atoi(name + 3) : 0;
      }
      if (m_bOpeningLinks) {
        // A removal would close links the opener is still opening; the
        // change is as good as if it came just after the DownLoad.
        m_heldPortEvents.push_back({wParam, number});
        return 1;
      }
      if (wParam == DBT_DEVICEARRIVAL)
        OnPortArrival(number);
      else
        OnPortRemoval(number);
      return 1;
    }
    case WM_COMMAND:
      break;
    default:
      return 0;
  }
  switch (static_cast<int>(wParam & 0xFFFF)) {
    case IDCANCEL:
      if (m_bClosing == 0) m_host.PostQuit();
      break;
    case IDC_DOWNLOAD: OnDownLoad(); break;
    case IDC_PHONE_CODE: OnPhoneCode(); break;
    case IDC_BOOTLOADER: OnBootLoader(); break;
    case IDC_RESOURCE: OnResource(); break;
    case IDC_QBFS: OnQbfs(); break;
    case IDC_EFS2: OnEfs2(); break;
    case IDC_CHANGE_DOWNLOADER: OnChangeDownloader(); break;
    case IDC_INPUT_ADDRESS: OnInputAddress(); break;
    case IDC_OPEN: OnOpen(); break;
    case IDC_PORT_SEARCH: OnPortSearch(); break;
    case IDM_FORGET_PORTS: OnForgetPorts(); break;
    case IDM_FLOW_MODE: SetFlowMode(!FlowMode()); break;
    case IDC_AUTO_DETECT: OnAutoDetect(); break;
    case IDC_CREATE_RESOURCE: OnCreateResourceBinary(); break;
    case IDC_ENTRY_COMBO: OnSelchangeEntryCombo(); break;
    case IDC_DOWNLOAD_TYPE: UpdateData(true); break;
    default: break;
  }
  return 0;
}
