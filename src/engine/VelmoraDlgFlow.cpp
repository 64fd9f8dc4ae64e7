// The flow line: each socket on its own. A handset starts when its port has
// been there, unchanged, for the settle time, runs the whole plan as a batch
// of one, and ends with its own result; its socket takes the next handset
// only after this one has left. Nothing of one entry's run is another's: the
// image reader, the EFS2 list, the counters and the boot version all live in
// the run.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "ControlIds.h"
#include "EngineTimers.h"
#include "VelmoraDlg.h"
#include "platform/PortDiscovery.h"
#include "platform/PortMap.h"
#include "platform/Registry.h"
#include "ports/PortSearchOptions.h"

namespace {
constexpr const char* kBatchCaption = "DownLoad";
constexpr const char* kFlowCaption = "DownLoad (flow)";
constexpr const char* kStopCaption = "Stop line";

/// The USB serial of the handset behind COM `port`, empty when unknown.
std::string UsbSerialOf(int port) {
  const std::optional<std::string> device = CPortMap::Instance().Device(port);
  PortIdentity identity;
  if (!device || !CPortDiscovery(PortSearchOptions()).IdentifyDevice(*device, identity)) return "";
  return identity.usbSerial;
}
}  // namespace

void CVelmoraDlg::SetFlowMode(bool on) {
  if (m_bRunning) return;
  m_bFlowMode = on ? 1 : 0;
  // A store that cannot be written keeps the mode for this session.
  CRegistry::WriteString(kFlowModeSetting, on ? "1" : "0");
  ShowDownLoadCaption();
}

void CVelmoraDlg::ShowDownLoadCaption() {
  m_host.SetControlText(IDC_DOWNLOAD, m_bFlow ? kStopCaption : m_bFlowMode ? kFlowCaption : kBatchCaption);
}

bool CVelmoraDlg::StartFlow(const RunPlan& plan, uint32_t settleMs) {
  if (m_bRunning || m_bFlow) return false;
  m_flowPlan = plan;
  m_flowPlan.flow = true;
  m_nFlowSettleMs = settleMs;
  m_servedSerial.clear();
  m_bFlow = 1;
  // The line counts as a run for everything that must wait for one: the
  // image choices, Port Search, the close question.
  m_bRunning = 1;
  EnableControls(0);
  // DownLoad stays the way to stop the line.
  m_host.EnableControl(IDC_DOWNLOAD, true);
  ShowDownLoadCaption();
  ResetProgress();
  const uint32_t now = m_host.ClockMs();
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    // A handset already in its socket settles from now: the operator may
    // have plugged it in a moment ago.
    m_nBoundSince[i] = now;
    m_bServed[i] = false;
    ClearEntryView(i);
    m_nFailedPort[i] = 0;
  }
  for (DownloadEntry& e : m_entries) e.m_comm.SetRxSettleMs(plan.rxSettleMs);
  RefreshPortLabels();
  m_startClock = now;
  m_host.SetTimer(ELAPSED_TIMER_ID, 1000);
  m_host.SetTimer(FLOW_TIMER_ID, kFlowTickMs);
  return true;
}

void CVelmoraDlg::StopFlow() {
  // Every run still going ends as a stopped batch does; so does the line.
  if (m_bFlow) InterruptRun();
}

void CVelmoraDlg::FlowPortChanged(int i) {
  m_nBoundSince[i] = m_host.ClockMs();
  m_bServed[i] = false;
}

void CVelmoraDlg::FlowTick() {
  const uint32_t now = m_host.ClockMs();
  for (int i = 0; i < MAX_ENTRIES && m_bFlow; ++i) {
    if (m_entries[i].m_nComPort == 0 || m_bServed[i]) continue;
    if (m_entryRun[i] && m_entryRun[i]->Includes(i) && Run(i).m_nResult == RESULT_RUNNING) continue;
    // An entry the operator unticked sits the line out, as it would a batch.
    if (m_bAutoDetect == 1 && m_host.GetCheck(kEntryCheckIds[i]) != 1) continue;
    if (now - m_nBoundSince[i] < m_nFlowSettleMs) continue;
    // A handset that comes back on its socket under the same USB serial
    // (one that restarts after its jump shows its port anew) has had its
    // run: only another handset starts the socket again.
    const std::string serial = UsbSerialOf(m_entries[i].m_nComPort);
    if (!serial.empty() && m_servedSerial[m_entries[i].m_nComPort] == serial) {
      m_bServed[i] = true;
      continue;
    }
    m_servedSerial[m_entries[i].m_nComPort] = serial;
    StartEntryRun(i);
  }
}

void CVelmoraDlg::StartEntryRun(int i) {
  DownloadEntry& e = m_entries[i];
  m_bServed[i] = true;
  FlushLineRepeats(i, false);
  e.m_lastLine = CTextQItem();
  auto run = std::make_shared<CDownloadRun>(m_flowPlan, std::vector<int>{i}, &m_host);
  run->m_runStart = run->m_runEnd = std::chrono::system_clock::now();
  RunEntry& r = run->Entry(i);
  r.m_nRunPort = e.m_nComPort;
  r.m_runStart = r.m_runEnd = run->m_runStart;
  m_entryRun[i] = run;
  m_lastRun = run;
  m_nFailedPort[i] = 0;
  ClearEntryView(i);
  // A new handset: whatever link the socket's last one left is no good for
  // it. Opening here holds the dialog's thread for the open's settling
  // (about a tenth of a second), which the other sockets' timers absorb.
  const int port = e.m_nComPort;
  PrepareOpen(i);
  e.m_nComPort = port;
  if (!FinishOpen(i, e.m_comm.Open())) {
    r.m_nResult = RESULT_RUNNING;
    LeaveRun(i, r.m_cause == EntryCause::None ? EntryCause::PortFailed : r.m_cause, r.m_strReason);
    return;
  }
  run->m_nStep = IMAGE_BOOTLOADER;
  const bool prepared = run->Plan().m_bBootLoader == 1 ? PrepareStep(*run) : AdvanceStep(*run);
  r.m_nResult = RESULT_RUNNING;
  if (!prepared) {
    // The image the line started with can no longer be read: this handset
    // has been sent nothing, and says so.
    run->m_nStep = IMAGE_BOOTLOADER;
    LeaveRun(i, EntryCause::Stopped, "Download stopped: the image could not be used.");
    return;
  }
  SendFirstRequest(i);
  ArmTimer(i, TIMER_REQUEST, kRequestMs);
  RefreshPortLabels();
}
