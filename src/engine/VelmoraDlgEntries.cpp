// Entries and their ports: connecting, disconnecting, timers, and the start
// of a run.
#include <chrono>
#include <cstdio>

#include "ControlIds.h"
#include "EngineTimers.h"
#include "ports/PortHint.h"
#include "platform/Registry.h"
#include "VelmoraDlg.h"
#include "link/Trace.h"
#include "platform/DeviceIdentity.h"
#include "platform/PortMap.h"

namespace {
// How long Disconnect waits for a receive thread to leave its wait.
constexpr int kThreadJoinMs = 1000;
// How long a thread-end message waits for the entry's current thread.
constexpr int kStaleEndWaitMs = 50;
}  // namespace

void CVelmoraDlg::ArmTimer(int i, int type, int ms) {
  RunEntry& r = Run(i);
  r.m_nTimerType = type;
  r.m_nTimerMs = ms;
  r.m_bTimerArmed = 1;
  m_host.SetTimer(i, static_cast<uint32_t>(ms));
}

void CVelmoraDlg::KillEntryTimer(int i) {
  if (m_entryRun[i] && m_entryRun[i]->Includes(i)) Run(i).m_bTimerArmed = 0;
  m_host.KillTimer(i);
}

void CVelmoraDlg::SendFirstRequest(int i) {
  const CDownloadRun& run = RunOfEntry(i);
  CBssComm& link = m_entries[i].m_comm;
  switch (run.m_nStep) {
    case IMAGE_BOOTLOADER: IgnoreSendResult(link.RequestBootDownload()); break;
    case IMAGE_EFS_FILE:
      // A name the request cannot carry was left out when the folder was
      // listed; one that still fails goes unanswered like a lost request.
      IgnoreSendResult(link.RequestEfsFileInfo(run.EfsFileName(), run.EfsFolderName()));
      break;
    case IMAGE_QBFS_FILE: IgnoreSendResult(link.RequestFormat()); break;
    case IMAGE_RESOURCE: IgnoreSendResult(link.RequestRscDownload()); break;
    default: IgnoreSendResult(link.RequestPhoneDownload()); break;
  }
}

void CVelmoraDlg::ResetAllEntries() {
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    DownloadEntry& e = m_entries[i];
    e.m_bConnected = 0;
    e.m_bRxThreadRunning = 0;
    e.m_nComPort = 0;
    // A thread still recorded is kept until it has ended; forgetting it here
    // would leave it running against the entry's link.
    if (e.m_pThread) m_zombieThreads.push_back(std::move(e.m_pThread));
  }
}

int CVelmoraDlg::PortCount() const {
  int count = 0;
  for (const auto& e : m_entries)
    if (e.m_nComPort != 0) ++count;
  return count;
}

const RunEntry& CVelmoraDlg::Outcome(int i) const {
  static const RunEntry kNone;
  return m_entryRun[i] ? Run(i) : kNone;
}

void CVelmoraDlg::BindPort(int i, int port) {
  if (i < 0 || i >= MAX_ENTRIES) return;
  m_entries[i].m_nComPort = port;
  RefreshPortLabels();
}

void CVelmoraDlg::Choose(const ImageChoices& choices) {
  m_choices = choices;
  UpdateData(false);
}

bool CVelmoraDlg::LinkReusable(int i) const {
  const DownloadEntry& e = m_entries[i];
  return e.m_comm.IsOpen() && e.m_comm.PortNumber() == static_cast<uint8_t>(e.m_nComPort & 0xFF) &&
         CPortMap::Instance().Device(e.m_nComPort) == e.m_comm.OpenDevice();
}

bool CVelmoraDlg::Connect(int i) {
  if (LinkReusable(i)) {
    // An entry given up in an earlier run keeps its open link but lost its
    // connected flag; without it the entry would run outside the plan.
    m_entries[i].m_bConnected = 1;
    return true;
  }
  PrepareOpen(i);
  return FinishOpen(i, m_entries[i].m_comm.Open());
}

bool CVelmoraDlg::OpenEntry(int i) {
  DownloadEntry& e = m_entries[i];
  e.m_comm.SetPortNumber(static_cast<uint8_t>(e.m_nComPort & 0xFF));
  e.m_comm.m_nEntry = i;
  e.m_comm.Release();
  e.m_comm.Init(&m_host, &e.m_textQ);
  return FinishOpen(i, e.m_comm.Open());
}

void CVelmoraDlg::PrepareOpen(int i) {
  DownloadEntry& e = m_entries[i];
  // A link still open on another port (the entry was given up, then bound
  // anew) would download into the old handset: open the bound one instead.
  if (e.m_comm.IsOpen()) {
    e.m_bConnected = 0;
    CloseLink(i);
  }
  Disconnect(i);
  e.m_comm.SetPortNumber(static_cast<uint8_t>(e.m_nComPort & 0xFF));
  e.m_comm.m_nEntry = i;
  e.m_comm.Release();
  e.m_comm.Init(&m_host, &e.m_textQ);
}

bool CVelmoraDlg::FinishOpen(int i, bool opened) {
  DownloadEntry& e = m_entries[i];
  if (!opened) {
    PutLog(i, LOG_INFO, "USB 연결 상태를 확인하세요.");
    const std::string& device = e.m_comm.TriedDevice();
    int holder = 0;  // an entry of ours that has the device open, under whichever name
    for (int k = 0; k < MAX_ENTRIES && !device.empty(); ++k)
      if (k != i && m_entries[k].m_comm.IsOpen() && SameDevice(m_entries[k].m_comm.OpenDevice(), device))
        holder = k + 1;
    const std::string reason = PortFailureLine(e.m_nComPort, device, e.m_comm.OpenFailure(), holder);
    PutLog(i, LOG_ERROR, reason);
    // Before its run starts: the entry's outcome says why, though it never
    // ran.
    if (m_entryRun[i] && m_entryRun[i]->Includes(i)) {
      Run(i).m_cause = EntryCause::PortFailed;
      Run(i).m_strReason = reason;
    }
    Disconnect(i);
    return false;
  }
  e.m_bConnected = 1;
  if (e.m_pThread) {
    Disconnect(i);
    return false;
  }
  e.m_pThread = std::make_unique<CThreadRX>();
  if (e.m_pThread->Failed()) {
    Trace("Fail to create the receive thread\n");
    e.m_pThread.reset();
    PutLog(i, LOG_INFO, "USB 연결 상태를 확인하세요.");
    Disconnect(i);
    return false;
  }
  e.m_pThread->Init(&m_host, &e.m_comm, &e.m_textQ, i);
  e.m_bRxThreadRunning = 1;
  return true;
}

void CVelmoraDlg::Disconnect(int i) { DisconnectWith(i, EntryCause::PortFailed, PortGoneText(i)); }

void CVelmoraDlg::DisconnectWith(int i, EntryCause cause, const std::string& text) {
  DownloadEntry& e = m_entries[i];
  KillEntryTimer(i);
  RunEntry* r = m_entryRun[i] && m_entryRun[i]->Includes(i) ? &Run(i) : nullptr;
  const bool wasInRun = m_bRunning && r && r->m_nResult == RESULT_RUNNING;
  const int state = StateOf(i);
  if (state != STATE_IDLE && state != STATE_COMPLETE && e.m_nComPort != 0) {
    ShowEntryError(i);
    e.m_nComPort = 0;
  }
  if (r) {
    r->m_pRxPacket = nullptr;
    r->m_nState = STATE_IDLE;
  }
  // Whatever was logged for the entry up to here reaches its view: the
  // reasons for a disconnection are exactly these lines.
  DrainLog(i, true);
  if (e.m_bConnected == 1) {
    e.m_bConnected = 0;
    e.m_nComPort = 0;
    if (r) {
      r->m_nBlock = 0;
      r->m_bMarkerSent = 0;
    }
    CloseLink(i);
  }
  RefreshPortLabels();
  UpdateData(false);
  if (wasInRun) LeaveRun(i, cause, text);
}

std::string CVelmoraDlg::PortGoneText(int i) const {
  const CThreadRX* thread = m_entries[i].m_pThread.get();
  const std::string line = thread ? thread->FailureLine() : std::string();
  return line.empty() ? "USB 연결 상태를 확인하세요." : line;
}

void CVelmoraDlg::CloseLink(int i) {
  DownloadEntry& e = m_entries[i];
  e.m_comm.Release();
  // Releasing the link ends the thread's wait at once; join it instead of
  // sleeping a fixed second, and keep it aside should it not end in time.
  if (e.m_pThread && !e.m_pThread->Join(kThreadJoinMs)) m_zombieThreads.push_back(std::move(e.m_pThread));
  e.m_pThread.reset();
}

void CVelmoraDlg::RefreshPortLabels() {
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    const int port = m_entries[i].m_nComPort;
    // Bound to another port, the entry no longer stands for the failed one.
    if (port != 0 && m_nFailedPort[i] != port) m_nFailedPort[i] = 0;
    if (port != 0) {
      m_host.EnableControl(kEntryCheckIds[i], m_bControlsEnabled == 1);
      if (m_nTickedPort[i] != port) {
        m_host.SetCheck(kEntryCheckIds[i], 1);
        m_nTickedPort[i] = port;
      }
    } else {
      m_host.EnableControl(kEntryCheckIds[i], false);
      if (m_nTickedPort[i] != 0) {
        m_host.SetCheck(kEntryCheckIds[i], 0);
        m_nTickedPort[i] = 0;
      }
    }
    m_strPortLabel[i] = PortLabel(i);
    const int shown = port != 0 ? port : m_nFailedPort[i];
    m_host.SetPortHint(i, shown != 0 ? CPortMap::Instance().Device(shown).value_or("") : std::string());
    m_host.MarkEntryFailed(i, m_nFailedPort[i] != 0);
  }
  // During a run the controls come back only when the run has ended.
  if (PortCount() == 0 && !m_bRunning) EnableControls(1);
  UpdateData(false);
}

void CVelmoraDlg::CloseStaleLinks() {
  const CPortMap& map = CPortMap::Instance();
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    DownloadEntry& e = m_entries[i];
    if (!e.m_comm.IsOpen()) continue;
    const std::string& held = e.m_comm.OpenDevice();
    bool stale = e.m_nComPort == 0 || e.m_comm.PortNumber() != static_cast<uint8_t>(e.m_nComPort & 0xFF) ||
                 map.Device(e.m_nComPort) != held || !e.m_pThread || e.m_pThread->HasEnded();
    for (int j = 0; j < MAX_ENTRIES && !stale; ++j)
      stale = j != i && m_entries[j].m_nComPort != 0 &&
              SameDevice(map.Device(m_entries[j].m_nComPort).value_or(""), held);
    if (!stale) continue;
    e.m_bConnected = 0;
    CloseLink(i);
  }
}

intptr_t CVelmoraDlg::OnEntryRxEnd(int i) {
  if (i < 0 || i >= MAX_ENTRIES) return 1;
  DownloadEntry& e = m_entries[i];
  // While its link is being opened the entry has no thread of its own yet:
  // an end arriving now is an earlier thread's, and the link is the
  // opener's to touch.
  if (m_bOpeningLinks && m_bOpenPending[i]) return 1;
  // The end of an earlier thread, arriving after the entry was connected
  // again, must not take the new connection down. The thread posts its end
  // just before it finishes, so the current one is joined within moments.
  if (e.m_pThread && !e.m_pThread->Join(kStaleEndWaitMs)) return 1;
  e.m_bRxThreadRunning = 0;
  // On the flow line a socket's next handset may be bound before the last
  // one's thread tells that its device has gone: that link goes, the new
  // binding stays.
  if (m_bFlow && !m_bServed[i]) {
    e.m_bConnected = 0;
    DrainLog(i, true);
    CloseLink(i);
    return 1;
  }
  Disconnect(i);
  return 1;
}

void CVelmoraDlg::OnDownLoad() {
  // While the line runs the button stops it.
  if (m_bFlow) {
    StopFlow();
    return;
  }
  // The button is disabled during a run; a host that delivers the press
  // anyway must not restart entries whose replies are still under way.
  if (m_bRunning) return;
  if (!ConfirmBootLoader()) return;
  if (m_bAutoDetect == 0 && !CollectManualPorts()) return;
  const ImageChoices& c = m_choices;
  if (!c.m_bPhoneCode && !c.m_bBootLoader && !c.m_bEfs2 && !c.m_bResource && !c.m_bQbfs) {
    m_host.MessageBox("No binaries has been selected.", MB_OK | MB_ICONINFORMATION);
    return;
  }
  if (m_bFlowMode) {
    const int settleS = CRegistry::ReadNumber(kFlowSettleSetting, 0, 3600, kDefaultFlowSettleS);
    StartFlow(PlanFromChoices(), static_cast<uint32_t>(settleS) * 1000u);
    return;
  }
  StartRun(PlanFromChoices());
}

bool CVelmoraDlg::ConfirmBootLoader() {
  if (m_choices.m_bBootLoader != 1) return true;
  const int answer = m_host.MessageBox(
      "주  의 :  [NORVANE UMTS Team]\n잘못된 BootLoader의 경우 폰 동작에 치명적인 문제를 유발합니다.\n"
      "정말 새로운 BootLoader를 다운로드하시겠습니까?",
      MB_YESNO | MB_ICONHAND);
  if (answer == IDYES) return true;
  m_choices.m_bBootLoader = 0;
  UpdateData(false);
  return false;
}

RunPlan CVelmoraDlg::PlanFromChoices() const {
  RunPlan plan;
  static_cast<ImageSelection&>(plan) = m_choices;
  plan.eraseLimitS = CRegistry::ReadSeconds(kEraseLimitSetting, kDefaultEraseLimitS);
  plan.rxSettleMs = CRegistry::ReadNumber(kRxSettleSetting, 0, CBssComm::RX_SETTLE_MAX_MS, 0);
  return plan;
}

bool CVelmoraDlg::CollectTakers(bool (&takesPart)[MAX_ENTRIES]) {
  // An entry whose box the operator unticked sits the run out; with Auto
  // Detect off the boxes are hidden and every bound entry takes part.
  int taking = 0;
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    takesPart[i] = m_entries[i].m_nComPort != 0 && (m_bAutoDetect == 0 || m_host.GetCheck(kEntryCheckIds[i]) == 1);
    taking += takesPart[i] ? 1 : 0;
    // A bar shows its entry's latest run only: what an earlier run left on
    // an entry that sits this one out would read as this run's result.
    if (!takesPart[i]) ClearEntryView(i);
  }
  UpdateData(false);
  if (taking > 0) return true;
  m_host.MessageBox("No Phone is connected.", MB_OK | MB_ICONINFORMATION);
  return false;
}

bool CVelmoraDlg::StartRun(const RunPlan& plan) {
  if (m_bRunning) return false;
  bool takesPart[MAX_ENTRIES] = {};
  if (!CollectTakers(takesPart)) return false;
  EnableControls(0);
  ResetProgress();
  // Every link takes it, also one still open from an earlier run: its
  // receive thread paces its next burst by it.
  for (DownloadEntry& e : m_entries) e.m_comm.SetRxSettleMs(plan.rxSettleMs);
  // What repeated before this run is told before it, in the log of the run
  // it came in.
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    FlushLineRepeats(i, false);
    m_entries[i].m_lastLine = CTextQItem();
  }
  std::vector<int> members;
  for (int i = 0; i < MAX_ENTRIES; ++i)
    if (takesPart[i]) members.push_back(i);
  auto run = std::make_shared<CDownloadRun>(plan, members, &m_host);
  m_startClock = m_host.ClockMs();
  run->m_runStart = std::chrono::system_clock::now();
  run->m_runEnd = run->m_runStart;
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    m_entryRun[i] = takesPart[i] ? run : nullptr;
    if (!takesPart[i]) continue;
    RunEntry& r = run->Entry(i);
    r.m_nRunPort = m_entries[i].m_nComPort;
    r.m_runStart = r.m_runEnd = run->m_runStart;
  }
  m_lastRun = run;
  // The failures of the last run are told by its report now; the labels
  // show this run's.
  for (int& port : m_nFailedPort) port = 0;
  RefreshPortLabels();
  // Links stay open between runs; one still holding a port that is now
  // another entry's would make that entry's open fail on the port's lock.
  CloseStaleLinks();
  if (!OpenLinks(takesPart)) {
    ContinueDownLoad();
    return true;
  }
  // From here the DownLoad is under way: another press, Port Search or a
  // close question find the run busy.
  m_bRunning = 1;
  return true;
}

bool CVelmoraDlg::OpenLinks(const bool (&takesPart)[MAX_ENTRIES]) {
  // Links that must be opened are opened side by side, the entries that
  // would open one device in index order on one thread; the DownLoad goes on
  // when all are done, exactly as if they had been opened one by one.
  std::vector<std::vector<int>> groups;
  std::vector<std::string> groupDevices;
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    m_bOpenPending[i] = false;
    if (m_entries[i].m_nComPort == 0) continue;
    if (!takesPart[i]) {
      // Its link, if open, stays open but outside the plan.
      m_entries[i].m_bConnected = 0;
      continue;
    }
    if (LinkReusable(i)) continue;
    PrepareOpen(i);
    m_bOpenPending[i] = true;
    const std::string device =
        CPortMap::Instance().Device(m_entries[i].m_comm.PortNumber()).value_or("#" + std::to_string(i));
    size_t g = 0;
    while (g < groupDevices.size() && !SameDevice(groupDevices[g], device)) ++g;
    if (g == groupDevices.size()) {
      groupDevices.push_back(device);
      groups.emplace_back();
    }
    groups[g].push_back(i);
  }
  if (groups.empty()) return false;
  m_bOpeningLinks = 1;
  const uintptr_t generation = ++m_nOpenGeneration;
  m_opener.Start(
      groups, [this](int i) { return m_entries[i].m_comm.Open(); },
      [this, generation] { m_host.PostMessage(WM_LINKS_OPENED, generation, 0); });
  return true;
}

intptr_t CVelmoraDlg::OnLinksOpened(uintptr_t generation) {
  // A DownLoad given up meanwhile (the window closing) leaves its message.
  if (!m_bOpeningLinks || generation != m_nOpenGeneration) return 0;
  m_opener.Join();
  m_bOpeningLinks = 0;
  ContinueDownLoad();
  ReplayPortEvents();
  return 0;
}

void CVelmoraDlg::AbandonOpening() {
  if (!m_bOpeningLinks) return;
  m_opener.Join();
  m_bOpeningLinks = 0;
  // The links that did open are closed with the others by the caller.
  for (bool& pending : m_bOpenPending) pending = false;
  m_bRunning = 0;
}

void CVelmoraDlg::ReplayPortEvents() {
  std::vector<PortEvent> events;
  events.swap(m_heldPortEvents);
  for (const PortEvent& ev : events) {
    if (ev.kind == DBT_DEVICEARRIVAL)
      OnPortArrival(ev.number);
    else
      OnPortRemoval(ev.number);
  }
}

void CVelmoraDlg::ContinueDownLoad() {
  CDownloadRun& run = *m_lastRun;
  // Every entry's outcome is taken in index order, as if its link had been
  // opened in turn: a failure is logged for its entry, the entries that
  // connected stay connected, and no run starts.
  bool connected = true;
  for (int i : run.Members()) {
    const bool pending = m_bOpenPending[i];
    m_bOpenPending[i] = false;
    if (!(pending ? FinishOpen(i, m_opener.Opened(i)) : Connect(i))) connected = false;
  }
  if (!connected) {
    m_bRunning = 0;
    EnableControls(1);
    return;
  }
  run.m_nStep = IMAGE_BOOTLOADER;
  const bool prepared = run.Plan().m_bBootLoader == 1 ? PrepareStep(run) : AdvanceStep(run);
  if (!prepared) {
    // The first step's image could not be used: nothing has been sent.
    run.m_nStep = IMAGE_BOOTLOADER;
    m_bRunning = 0;
    EnableControls(1);
    return;
  }
  m_bRunning = 1;
  for (int i : run.Members()) {
    run.Entry(i).m_nResult = RESULT_RUNNING;
    SendFirstRequest(i);
    ArmTimer(i, TIMER_REQUEST, kRequestMs);
  }
  // The elapsed time counts on while the handsets are quiet, not only when
  // a block or an erase moves it.
  m_host.SetTimer(ELAPSED_TIMER_ID, 1000);
  m_host.SetFocus(IDC_ENTRY_SLIDER);
}
