#include "ConsoleHost.h"

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
  m_strLastBox = text;
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
