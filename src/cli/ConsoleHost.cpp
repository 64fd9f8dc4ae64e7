#include "ConsoleHost.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

CConsoleHost::CConsoleHost(bool liveTable)
    : m_bLive(liveTable), m_nWakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CConsoleHost::~CConsoleHost() {
  if (m_nWakeFd >= 0) close(m_nWakeFd);
}

bool CConsoleHost::PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  const bool posted = CHeadlessHost::PostMessage(msg, wParam, lParam);
  // After the message is queued: a wait that starts later returns at once.
  const uint64_t one = 1;
  if (posted && m_nWakeFd >= 0) (void)!write(m_nWakeFd, &one, sizeof one);
  return posted;
}

void CConsoleHost::WaitForWork(uint32_t maxMs) {
  if (m_nWakeFd < 0) {
    CHeadlessHost::WaitForWork(maxMs);
    return;
  }
  pollfd fds[2] = {{m_nWakeFd, POLLIN, 0}, {m_nStopFd, POLLIN, 0}};
  if (poll(fds, m_nStopFd >= 0 ? 2 : 1, static_cast<int>(maxMs)) > 0 && (fds[0].revents & POLLIN)) {
    uint64_t count = 0;
    (void)!read(m_nWakeFd, &count, sizeof count);
  }
}

void CConsoleHost::SetTableEntries(std::vector<int> entries) { m_tableEntries = std::move(entries); }

void CConsoleHost::EraseTable() {
  if (!m_bLive || m_nTableLines == 0) return;
  std::printf("\x1b[%dA\x1b[J", m_nTableLines);
  m_nTableLines = 0;
}

void CConsoleHost::DrawTable() {
  if (!m_bLive || m_tableEntries.empty()) return;
  EraseTable();
  for (int i : m_tableEntries) {
    const CProgressModel& bar = m_bars[i];
    const int filled = bar.m_nMax > bar.m_nMin ? (bar.m_nPos - bar.m_nMin) * 20 / (bar.m_nMax - bar.m_nMin) : 0;
    std::string gauge(static_cast<size_t>(filled < 0 ? 0 : filled > 20 ? 20 : filled), '#');
    gauge.resize(20, '.');
    std::printf("  Entry %-2d [%s] %s\n", i + 1, gauge.c_str(), bar.m_strText.c_str());
    ++m_nTableLines;
  }
  std::fflush(stdout);
}

void CConsoleHost::Print(const std::string& line) {
  EraseTable();
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void CConsoleHost::OnMessageBox(const std::string& text, uint32_t type) {
  // A question answered No only because --yes was not given says so, or
  // the operator would not know how to go on.
  const bool refused = (type & MB_BUTTONMASK) == MB_YESNO && m_nYesNoAnswer != IDYES;
  // Lines after the first stand indented under it: a box that lists failed
  // entries must not read like the run's own result lines.
  std::string shown = "Message: ";
  for (char c : text) shown += c == '\n' ? std::string("\n         ") : std::string(1, c);
  Print(shown + (refused ? " (pass --yes to accept)" : ""));
}

void CConsoleHost::OnLogLine(int entry, Rgb colour, const std::string& text) {
  (void)colour;
  Print("Entry " + std::to_string(entry + 1) + ": " + text);
}
