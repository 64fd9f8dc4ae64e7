#include "headless/HeadlessHost.h"

#include <chrono>

#include "VelmoraDlg.h"

namespace {
uint64_t SteadyNs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}
}  // namespace

CHeadlessHost::CHeadlessHost() : m_startNs(SteadyNs()) {}

CHeadlessHost::CHeadlessHost(bool keepRecords) : m_bKeepRecords(keepRecords), m_startNs(SteadyNs()) {}

CHeadlessHost::~CHeadlessHost() = default;

uint32_t CHeadlessHost::Now() { return static_cast<uint32_t>((SteadyNs() - m_startNs) / 1000000); }

bool CHeadlessHost::PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard<std::mutex> guard(m_queueLock);
    m_queue.push_back({msg, wParam, lParam});
  }
  m_queueCv.notify_one();
  return true;
}

int CHeadlessHost::MessageBox(const std::string& text, uint32_t type) {
  if (m_bKeepRecords) m_boxes.push_back({text, type});
  OnMessageBox(text, type);
  if ((type & MB_BUTTONMASK) == MB_YESNO) return m_nYesNoAnswer;
  return IDOK;
}

void CHeadlessHost::SetTimer(int id, uint32_t ms) { m_timers[id] = Timer{ms, Now() + ms}; }

void CHeadlessHost::KillTimer(int id) { m_timers.erase(id); }

std::optional<std::string> CHeadlessHost::OpenFileDialog(const std::string& filter, const std::string& initialName,
                                                         const std::string& defaultExt) {
  if (m_bKeepRecords) m_fileDialogs.push_back({filter, initialName, defaultExt});
  if (m_fileAnswers.empty()) return std::nullopt;
  auto answer = m_fileAnswers.front();
  m_fileAnswers.pop_front();
  return answer;
}

std::optional<std::string> CHeadlessHost::BrowseFolder() {
  if (m_folderAnswers.empty()) return std::nullopt;
  auto answer = m_folderAnswers.front();
  m_folderAnswers.pop_front();
  return answer;
}

void CHeadlessHost::SetSliderRange(int id, int minimum, int maximum) {
  m_controls[id].sliderMin = minimum;
  m_controls[id].sliderMax = maximum;
}

IProgressBar& CHeadlessHost::ProgressBar(int entry) { return m_bars[entry]; }

void CHeadlessHost::AppendLogLine(int entry, Rgb colour, const std::string& text) {
  if (entry < 0 || entry >= MAX_ENTRIES) return;
  if (m_bKeepRecords) m_logs[entry].push_back({colour, text});
  OnLogLine(entry, colour, text);
}

void CHeadlessHost::SetPortHint(int entry, const std::string& hint) {
  if (entry >= 0 && entry < MAX_ENTRIES) m_portHints[entry] = hint;
}

void CHeadlessHost::Click(int id, std::optional<int> check) {
  ControlState& c = m_controls[id];
  c.check = check ? *check : !c.check;
  Deliver(WM_COMMAND, static_cast<uintptr_t>(id), 0);
}

void CHeadlessHost::SetListItemText(int id, int index, const std::string& text) {
  std::vector<std::string>& items = m_controls[id].items;
  if (index >= 0 && static_cast<size_t>(index) < items.size()) items[static_cast<size_t>(index)] = text;
}

void CHeadlessHost::SelectListItem(int id, int index, bool selected) {
  if (selected)
    m_controls[id].selected.insert(index);
  else
    m_controls[id].selected.erase(index);
}

void CHeadlessHost::Deliver(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (m_pDialog == nullptr) return;
  if (m_pObserver == nullptr) {
    m_pDialog->WindowProc(msg, wParam, lParam);
    return;
  }
  const uint64_t start = SteadyNs();
  m_pDialog->WindowProc(msg, wParam, lParam);
  m_pObserver->OnDispatched(msg, wParam, start, SteadyNs());
}

int CHeadlessHost::DispatchPending() {
  int count = 0;
  for (;;) {
    Posted p;
    {
      std::lock_guard<std::mutex> guard(m_queueLock);
      if (m_queue.empty()) break;
      p = m_queue.front();
      m_queue.pop_front();
    }
    ++count;
    Deliver(p.msg, p.wParam, p.lParam);
  }
  return count;
}

int CHeadlessHost::FireDueTimers() {
  int fired = 0;
  // A timer handler may kill or arm any timer, so pick one due timer at a
  // time, earliest first (ties by id, as the twenty entries are numbered).
  for (;;) {
    uint32_t now = Now();
    int bestId = -1;
    uint32_t bestDue = 0;
    for (const auto& [id, t] : m_timers) {
      if (static_cast<int32_t>(t.due - now) <= 0 && (bestId < 0 || static_cast<int32_t>(t.due - bestDue) < 0)) {
        bestId = id;
        bestDue = t.due;
      }
    }
    if (bestId < 0) break;
    Timer& t = m_timers[bestId];
    t.due += t.interval ? t.interval : 1;  // window timers repeat until killed
    ++fired;
    Deliver(WM_TIMER, static_cast<uintptr_t>(bestId), 0);
    DispatchPending();
  }
  return fired;
}

void CHeadlessHost::WaitForWork(uint32_t maxMs) {
  std::unique_lock<std::mutex> lock(m_queueLock);
  m_queueCv.wait_for(lock, std::chrono::milliseconds(maxMs), [this] { return !m_queue.empty(); });
}

bool CHeadlessHost::RunUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  const uint32_t start = Now();
  for (;;) {
    DispatchPending();
    FireDueTimers();
    if (done()) return true;
    if (m_bQuit) return false;
    uint32_t now = Now();
    uint32_t elapsed = now - start;
    if (elapsed >= timeoutMs) return done();
    uint32_t wait = timeoutMs - elapsed;
    for (const auto& [id, t] : m_timers) {
      (void)id;
      int32_t until = static_cast<int32_t>(t.due - now);
      if (until < 0) until = 0;
      if (static_cast<uint32_t>(until) < wait) wait = static_cast<uint32_t>(until);
    }
    if (wait > 50) wait = 50;
    WaitForWork(wait);
  }
}
