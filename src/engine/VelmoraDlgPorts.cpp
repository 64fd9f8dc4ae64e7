// Binding handsets' ports to entries: Port Search, Auto Detect (arrival and
// removal) and the manual list.
#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include "ControlIds.h"
#include "ports/PortHint.h"
#include "ports/PortSearchOptions.h"
#include "ports/PortStoreSettings.h"
#include "VelmoraDlg.h"
#include "link/Trace.h"
#include "platform/PortMap.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kForgetPortsQuestion =
    "저장된 COM 번호를 모두 지우시겠습니까?\n연결된 포트는 USB 소켓 순서대로 새 번호를 받습니다.";

/// Text of manual list item `number`: "COM3", or "COM3  /dev/ttyACM2  <socket>"
/// when the number stands for a device (without the socket when unknown).
std::string ListItemText(int number) {
  std::string text = "COM" + std::to_string(number);
  const std::string device = PortLabelHint(number);
  // The system's own name of the port (Windows) tells nothing more.
  if (!device.empty() && OsComNumber(device) != number) text += "  " + device;
  return text;
}

/// Tells the host which device each entry's label and each list item
/// stands for; the labels themselves keep their "[COM%d]" texts. A failed
/// entry's label stands for the port it failed on.
void ShowPortDevices(IDialogHost& host, const DownloadEntry (&entries)[MAX_ENTRIES],
                     const int (&failedPorts)[MAX_ENTRIES]) {
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    const int port = entries[i].m_nComPort != 0 ? entries[i].m_nComPort : failedPorts[i];
    host.SetPortHint(i, port != 0 ? PortLabelHint(port) : std::string());
  }
  for (int n = 1; n <= MAX_COM_PORT; ++n) host.SetListItemText(IDC_PORT_LIST, n - 1, ListItemText(n));
}

/// Frees the numbers of devices that have left the searched device
/// directory, so that a device plugged in since takes the lowest free number
/// instead of the next unused one. Mappings elsewhere (pseudo terminals,
/// the command line's) are not Port Search's to judge.
void ForgetVanishedDevices(const std::string& devRoot) {
  const fs::path dir = (fs::path(devRoot) / "x").parent_path();
  CPortMap& map = CPortMap::Instance();
  for (const auto& [number, device] : map.Entries()) {
    const fs::path path(device);
    std::error_code ec;
    if (path.parent_path() == dir && !fs::exists(path, ec)) map.Remove(number);
  }
}

/// A notification's number must name a port the map can hold; anything else
/// (a name without digits gives 0) would be counted as a bound port that
/// is none, or open some other device.
bool ValidPort(int port, const char* what) {
  if (port >= 1 && port <= MAX_COM_PORT) return true;
  Trace(std::string(what) + ": port number " + std::to_string(port) + " ignored\n");
  return false;
}

}  // namespace

void CVelmoraDlg::OnPortSearch() {
  // Rebinding would take ports from running entries; the button is off then.
  if (m_bRunning) return;
  const PortDiscoveryOptions options = PortSearchOptions();
  ForgetVanishedDevices(options.devRoot);
  const std::vector<PortClaim> claims = PortClaimsFor(CPortDiscovery(options).Find());
  for (auto& e : m_entries) e.m_nComPort = 0;
  // The number comes whole from the map (COM12 stays 12): a port keeps the
  // number kept for its socket (or serial), a new one takes the lowest
  // free number. Ports are numbered in socket order, twenty at most; one
  // left without a number makes room for the next.
  std::vector<int> numbers;
  for (size_t next = 0; next < claims.size() && numbers.size() < MAX_ENTRIES;) {
    const size_t take = std::min(claims.size() - next, MAX_ENTRIES - numbers.size());
    const std::vector<PortClaim> chunk(claims.begin() + static_cast<std::ptrdiff_t>(next),
                                       claims.begin() + static_cast<std::ptrdiff_t>(next + take));
    const std::vector<int> got = CPortMap::Instance().AssignAll(chunk);
    for (size_t k = 0; k < take; ++k) {
      if (got[k] != 0)
        numbers.push_back(got[k]);
      else
        Trace("Port Search: no free COM number for " + chunk[k].device + "\n");
    }
    next += take;
  }
  // Entries in COM-number order: entry n is the n-th socket of a bench set
  // up in order, whatever order the ports were plugged in. Where the OS
  // numbers the ports, its numbers say nothing of sockets: the entries
  // follow the device map's order.
  if (!CPortDiscovery::kOsNumbersPorts) std::sort(numbers.begin(), numbers.end());
  int bound = 0;
  for (const int number : numbers) {
    m_entries[bound++].m_nComPort = number;
  }
  // A failed handset's port that the search no longer finds has left.
  for (int& failed : m_nFailedPort)
    if (std::find(numbers.begin(), numbers.end(), failed) == numbers.end()) failed = 0;
  RefreshPortLabels();
  ShowPortDevices(m_host, m_entries, m_nFailedPort);
  // Otherwise the search would look as if nothing had happened.
  if (numbers.empty()) m_host.ShowNotice("No handset port found.");
}

void CVelmoraDlg::OnAutoDetect() { ApplyAutoDetectVisibility(); }

void CVelmoraDlg::OnForgetPorts() {
  // Renumbering would take ports from running entries.
  if (m_bRunning) return;
  if (m_host.MessageBox(kForgetPortsQuestion, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) return;
  // A store that cannot be written has said so in the trace already.
  const int forgotten = CPortMap::Instance().ForgetStored();
  if (forgotten >= 0) Trace("Port numbers: " + std::to_string(forgotten) + " kept numbers forgotten\n");
  // The ports present are numbered afresh, in socket order.
  OnPortSearch();
}

void CVelmoraDlg::PortSelectionSetup() {
  AttachPortStore();
  m_bAutoDetect = 1;
  UpdateData(false);
  for (int n = 1; n <= MAX_COM_PORT; ++n) m_host.AddListItem(IDC_PORT_LIST, "COM" + std::to_string(n));
  ApplyAutoDetectVisibility();
}

void CVelmoraDlg::ApplyAutoDetectVisibility() {
  UpdateData(true);
  const bool autoDetect = m_bAutoDetect == 1;
  m_host.ShowControl(IDC_PORT_LIST, !autoDetect);
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    m_host.ShowControl(kEntryCheckIds[i], autoDetect);
    m_host.ShowControl(kPortLabelIds[i], autoDetect);
  }
  // The list may just have come into view: its items name today's devices.
  ShowPortDevices(m_host, m_entries, m_nFailedPort);
}

bool CVelmoraDlg::CollectManualPorts() {
  for (auto& e : m_entries) e.m_nComPort = 0;
  int bound = 0;
  for (int k = 0; k < MAX_COM_PORT; ++k) {
    if (!m_host.IsListItemSelected(IDC_PORT_LIST, k)) continue;
    if (bound == MAX_ENTRIES) {
      for (auto& e : m_entries) e.m_nComPort = 0;
      ShowPortDevices(m_host, m_entries, m_nFailedPort);
      m_host.MessageBox("선택 허용치를 초과하였습니다.", MB_OK);
      return false;
    }
    m_entries[bound++].m_nComPort = k + 1;
  }
  ShowPortDevices(m_host, m_entries, m_nFailedPort);
  return true;
}

void CVelmoraDlg::OnPortArrival(int port) {
  if (!ValidPort(port, "Port arrival")) return;
  if (PortCount() == MAX_ENTRIES) return;
  // The whole table is searched for the number first: after a removal left
  // a gap, stopping at the first free entry would bind the port twice.
  bool held = false;
  for (const auto& e : m_entries) held = held || e.m_nComPort == port;
  if (held) {
    m_host.MessageBox("이미 사용중인 COM Port로 연결을 시도하셨습니다.", MB_OK);
  } else {
    for (int i = 0; i < MAX_ENTRIES; ++i) {
      if (m_entries[i].m_nComPort != 0) continue;
      m_entries[i].m_nComPort = port;
      FlowPortChanged(i);
      break;
    }
  }
  RefreshPortLabels();
  ShowPortDevices(m_host, m_entries, m_nFailedPort);
}

void CVelmoraDlg::OnPortRemoval(int port) {
  if (!ValidPort(port, "Port removal")) return;
  if (PortCount() != 0) {
    for (int i = 0; i < MAX_ENTRIES; ++i) {
      DownloadEntry& e = m_entries[i];
      if (e.m_nComPort != port) continue;
      e.m_nComPort = 0;
      FlowPortChanged(i);
      const int state = StateOf(i);
      if (state != STATE_IDLE && state != STATE_COMPLETE) {
        ShowEntryError(i);
        Run(i).m_nState = STATE_IDLE;
        // The entry has left the run: a later expiry of its timer would
        // retry against a port that is gone, and the run must not wait for
        // it at the end of the step.
        KillEntryTimer(i);
        LeaveRun(i, EntryCause::PortFailed, PortGoneText(i));
      }
      break;
    }
  }
  // The handset that failed there is gone: its entry stops standing for it.
  for (int& failed : m_nFailedPort)
    if (failed == port) failed = 0;
  RefreshPortLabels();
  if (PortCount() == 0) {
    // The reset forgets every connection. A link still open then stays open
    // on a device that is gone, its receive thread's end no longer closes
    // it, and the next DownLoad would reuse it for whichever handset gets
    // the entry next (Connect keeps an open link). Close such links first.
    for (int i = 0; i < MAX_ENTRIES; ++i) {
      if (!m_entries[i].m_comm.IsOpen()) continue;
      m_entries[i].m_bConnected = 1;
      Disconnect(i);
    }
    ResetAllEntries();
  }
  ShowPortDevices(m_host, m_entries, m_nFailedPort);
}
