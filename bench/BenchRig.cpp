#include "BenchRig.h"

#include <algorithm>
#include <cstdio>

#include "ControlIds.h"
#include "platform/PortMap.h"

void CDispatchStats::OnDispatched(uint32_t msg, uintptr_t wParam, uint64_t startNs, uint64_t endNs) {
  const uint64_t ns = endNs - startNs;
  busyNs += ns;
  ++count;
  if (ns > longestNs) {
    longestNs = ns;
    longestMsg = msg;
    longestParam = wParam;
  }
}

std::string DescribeMessage(uint32_t msg, uintptr_t wParam) {
  auto indexed = [](const char* name, uint32_t offset) { return std::string(name) + "+" + std::to_string(offset); };
  if (msg == WM_TIMER) return "WM_TIMER(" + std::to_string(wParam) + ")";
  if (msg == WM_COMMAND) return "WM_COMMAND(" + std::to_string(wParam) + ")";
  if (msg == WM_LINKS_OPENED) return "WM_LINKS_OPENED";
  if (msg >= WM_ENTRY_PACKET && msg < WM_ENTRY_PACKET + MAX_ENTRIES)
    return indexed("WM_ENTRY_PACKET", msg - WM_ENTRY_PACKET);
  if (msg >= WM_ENTRY_RXEND && msg < WM_ENTRY_RXEND + MAX_ENTRIES)
    return indexed("WM_ENTRY_RXEND", msg - WM_ENTRY_RXEND);
  if (msg >= WM_ENTRY_LOG && msg < WM_ENTRY_LOG + MAX_ENTRIES) return indexed("WM_ENTRY_LOG", msg - WM_ENTRY_LOG);
  char text[32];
  std::snprintf(text, sizeof text, "message 0x%X", msg);
  return text;
}

CBenchRig::~CBenchRig() {
  m_host.SetDispatchObserver(nullptr);
  StopRig();
}

bool CBenchRig::Start(int handsets, const std::string& image, std::string& error) {
  m_nCount = handsets;
  if (!StartHandsets(handsets, SimHandsetConfig{}, &error)) return false;
  m_host.m_nYesNoAnswer = IDYES;
  OpenDialog(handsets);
  Choose(IDC_PHONE_CODE, image);
  m_host.DispatchPending();
  if (m_dlg->Choices().m_bPhoneCode != 1) {
    error = "the phone code image was refused: " + image;
    return false;
  }
  m_baseThreads = ThreadIds();
  return true;
}

void CBenchRig::SetPace(uint32_t bytesPerSecond) {
  for (int k = 0; k < m_sims.Count(); ++k) m_sims.Handset(k).SetPace(bytesPerSecond);
}

void CBenchRig::SetProgramUs(uint32_t us) {
  for (int k = 0; k < m_sims.Count(); ++k) m_sims.Handset(k).SetProgramUs(us);
}

RunResult CBenchRig::Run(uint32_t limitMs, const std::vector<int>& mayFail) {
  RunResult r;
  std::vector<size_t> seen(static_cast<size_t>(m_nCount));
  std::vector<size_t> violationsBefore(static_cast<size_t>(m_nCount));
  for (int k = 0; k < m_nCount; ++k)
    m_sims.Handset(k).Inspect([&](const SimRecord& rec) {
      seen[static_cast<size_t>(k)] = rec.blockTurnaroundUs.size();
      violationsBefore[static_cast<size_t>(k)] = rec.violations.size();
    });

  CDispatchStats stats;
  m_host.SetDispatchObserver(&stats);
  const uint64_t cpu0 = ProcessCpuUs();
  const uint64_t t0 = SteadyNowNs();
  m_host.Click(IDC_DOWNLOAD);
  r.downloadPressMs = static_cast<double>(SteadyNowNs() - t0) / 1e6;
  // Links to open are opened side by side while the loop goes on; the
  // first requests go out when the last is open.
  m_host.RunUntil([&] { return !m_dlg->LinksOpening(); }, limitMs);
  r.openMs = static_cast<double>(SteadyNowNs() - t0) / 1e6;
  r.opening = stats;
  const bool ended = m_host.RunUntil([&] { return !m_dlg->Running(); }, limitMs);
  const uint64_t t1 = SteadyNowNs();
  r.cpuUs = ProcessCpuUs() - cpu0;
  m_host.SetDispatchObserver(nullptr);

  r.seconds = static_cast<double>(t1 - t0) / 1e9;
  r.dialog = stats;
  // The run keeps its geometry after its end.
  const CDownloadRun* run = m_dlg->LastRun();
  r.imageBytes = run ? run->m_nEraseLength : 0;
  r.blocks = run ? run->m_nTotalBlocks : 0;
  r.ok = ended;
  if (!ended) r.failure = "the run did not end in time";
  for (int k = 0; k < m_nCount; ++k) {
    bool allowed = false;
    for (int m : mayFail) allowed = allowed || m == k;
    if (!allowed && m_dlg->Outcome(k).m_nResult != RESULT_COMPLETED && r.ok) {
      r.ok = false;
      r.failure = "entry " + std::to_string(k + 1) + " did not complete";
      // Its last log lines say why.
      const auto& logs = m_host.m_logs[k];
      for (size_t at = logs.size() > 3 ? logs.size() - 3 : 0; at < logs.size(); ++at)
        r.failure += " / " + logs[at].text;
    }
    m_sims.Handset(k).Inspect([&](const SimRecord& rec) {
      const size_t from = seen[static_cast<size_t>(k)];
      r.turnaroundUs.insert(r.turnaroundUs.end(), rec.blockTurnaroundUs.begin() + static_cast<long>(from),
                            rec.blockTurnaroundUs.end());
      if (!allowed && rec.violations.size() > violationsBefore[static_cast<size_t>(k)] && r.ok) {
        r.ok = false;
        r.failure = "handset " + std::to_string(k + 1) + ": " + rec.violations.back();
      }
    });
  }
  return r;
}

double CBenchRig::DisconnectEachMs() {
  double longest = 0;
  for (int i = 0; i < m_nCount; ++i) {
    if (m_dlg->Binding(i).m_bConnected != 1) continue;
    const uint64_t t0 = SteadyNowNs();
    m_dlg->Disconnect(i);
    const double ms = static_cast<double>(SteadyNowNs() - t0) / 1e6;
    if (ms > longest) longest = ms;
  }
  m_host.DispatchPending();
  return longest;
}

void CBenchRig::Idle(uint32_t ms) {
  m_host.RunUntil([] { return false; }, ms);
}

ThreadUsage CBenchRig::ReceiveThreads() const {
  ThreadUsage sum;
  for (int tid : ThreadIds()) {
    if (std::find(m_baseThreads.begin(), m_baseThreads.end(), tid) != m_baseThreads.end()) continue;
    const ThreadUsage u = ThreadUsageOf(tid);
    sum.cpuNs += u.cpuNs;
    sum.switches += u.switches;
  }
  return sum;
}
