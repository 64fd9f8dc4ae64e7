// The log pipeline: lines from any thread travel through the entry's queue
// into its view; and which entry's view is shown.
#include <cstdio>

#include "ControlIds.h"
#include "VelmoraDlg.h"

namespace {
constexpr int kPostAttempts = 6;
// Copies of one line shown after it before the rest are only counted.
constexpr int kShownRepeats = 3;
constexpr Rgb kBlue = MakeRgb(0, 0, 255);
constexpr Rgb kRed = MakeRgb(255, 0, 0);
constexpr Rgb kBlack = MakeRgb(0, 0, 0);

Rgb KindColour(int kind) {
  if (kind == LOG_ERROR) return kRed;
  if (kind == LOG_STATUS) return kBlack;
  return kBlue;
}
}  // namespace

void CVelmoraDlg::PutLog(int i, int kind, const std::string& text) {
  if (i < 0 || i >= MAX_ENTRIES) return;
  CQTextQ& queue = m_entries[i].m_textQ;
  if (!queue.Put(kind, text)) {
    // Only this thread empties the queue, so retrying cannot help: show
    // what is queued first, then the line has room.
    DrainLog(i, false);
    if (!queue.Put(kind, text)) return;
  }
  for (int attempt = 0; attempt < kPostAttempts; ++attempt)
    if (m_host.PostMessage(WM_ENTRY_LOG + static_cast<uint32_t>(i), 0, 0)) break;
}

void CVelmoraDlg::DrainLog(int i, bool force) {
  CTextQItem item;
  while (m_entries[i].m_textQ.Get(item)) TakeLogLine(i, item, force);
}

void CVelmoraDlg::TakeLogLine(int i, const CTextQItem& item, bool force) {
  DownloadEntry& e = m_entries[i];
  // A handset that chatters or sends garbage makes the same line again and
  // again, for as long as it is plugged in: the view, the run's report and
  // the memory behind them would grow without end.
  if (item.kind == e.m_lastLine.kind && item.text == e.m_lastLine.text) {
    if (++e.m_nLineRepeats > kShownRepeats) return;
  } else {
    FlushLineRepeats(i, force);
    e.m_lastLine = item;
  }
  KeepRunLine(i, item);
  if (force)
    AppendLine(i, KindColour(item.kind), item.text);
  else
    AppendLog(i, item);
}

void CVelmoraDlg::KeepRunLine(int i, const CTextQItem& item) {
  // Kept whether or not the view shows it: the run's report tells the
  // whole story of the entry.
  if (m_entryRun[i]) Run(i).m_runLog.push_back(item);
}

void CVelmoraDlg::FlushLineRepeats(int i, bool force) {
  DownloadEntry& e = m_entries[i];
  const int unshown = e.m_nLineRepeats - kShownRepeats;
  e.m_nLineRepeats = 0;
  if (unshown <= 0) return;
  // An information line, whatever the kind repeated: the entry's reason for
  // failing stays the error line itself.
  const CTextQItem count(LOG_INFO, "(the line above came " + std::to_string(unshown) + " more times)");
  KeepRunLine(i, count);
  if (force)
    AppendLine(i, KindColour(count.kind), count.text);
  else
    AppendLog(i, count);
}

intptr_t CVelmoraDlg::OnEntryLog(int i) {
  if (i >= 0 && i < MAX_ENTRIES) DrainLog(i, false);
  return 1;
}

void CVelmoraDlg::AppendLog(int i, const CTextQItem& item) {
  if (m_entries[i].m_bConnected == 0) return;
  AppendLine(i, KindColour(item.kind), item.text);
}

void CVelmoraDlg::AppendLine(int i, Rgb colour, const std::string& text) {
  m_host.AppendLogLine(i, colour, text);
  UpdateData(false);
}

void CVelmoraDlg::ShowEntryView(int i) {
  for (int id : kLogViewIds) m_host.ShowControl(id, false);
  for (int id : kStatusIds) m_host.ShowControl(id, false);
  if (i < 0 || i >= MAX_ENTRIES) return;
  m_host.ShowControl(kLogViewIds[i], true);
  m_host.ShowControl(kStatusIds[i], true);
}

intptr_t CVelmoraDlg::OnSliderChanged() {
  m_nSelEntry = m_host.GetSliderPos(IDC_ENTRY_SLIDER);
  m_strEntryLabel = "Entry " + std::to_string(m_nSelEntry + 1);
  ShowEntryView(m_nSelEntry);
  UpdateData(false);
  return 1;
}

void CVelmoraDlg::OnSelchangeEntryCombo() {
  UpdateData(true);
  ShowEntryView(m_nSelEntry);
}
