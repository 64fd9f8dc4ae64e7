// What the operator sees of a run: bar captions and positions, status
// texts, the elapsed time, and which controls can be used.
#include <cstdio>

#include "ControlIds.h"
#include "VelmoraDlg.h"

namespace {
constexpr Rgb kWhite = MakeRgb(255, 255, 255);
constexpr Rgb kLightGrey = MakeRgb(192, 192, 192);
constexpr Rgb kNavy = MakeRgb(0, 0, 128);
constexpr Rgb kDarkRed = MakeRgb(128, 0, 0);
}  // namespace

std::string CVelmoraDlg::EntryStatusText(int i) const {
  char text[48];
  const CDownloadRun* run = m_entryRun[i].get();
  const uint32_t offset = run ? run->m_nBaseOffset + static_cast<uint32_t>(Run(i).m_nBlock) * BLOCK_SIZE : 0;
  std::snprintf(text, sizeof text, "0x%lx / 0x%lx", static_cast<unsigned long>(offset),
                static_cast<unsigned long>(m_nImageSize));
  return text;
}

void CVelmoraDlg::SetEntryBarText(int i, const std::string& text) {
  if (i < 0 || i >= MAX_ENTRIES) return;
  m_host.ProgressBar(i).SetText(text);
}

void CVelmoraDlg::ShowEntryProgress(int i) {
  if (m_entries[i].m_bConnected != 1 || !m_entryRun[i]) return;
  const RunEntry& e = Run(i);
  const int totalBlocks = RunOfEntry(i).m_nTotalBlocks;
  double p = 0;
  std::string caption;
  switch (e.m_nState) {
    case STATE_COMPLETE: p = 100; caption = "Download Completed."; break;
    case STATE_ERASING: p = 100; caption = "Erasing Flash..."; break;
    case STATE_STEP_WAIT: p = 100; caption = "Preparing..."; break;
    default: {
      // No blocks counted yet (before the first erase): 0, not a division
      // by zero.
      if (totalBlocks > 0) p = static_cast<double>(e.m_nBlock) / totalBlocks * 100.0;
      char text[32];
      std::snprintf(text, sizeof text, "Entry %d : %d%%", i + 1, static_cast<int>(p));
      caption = text;
    }
  }
  SetEntryBarText(i, caption);
  m_host.ProgressBar(i).SetPos(static_cast<int>(p));
  m_strStatus[i] = EntryStatusText(i);
  UpdateData(false);
}

void CVelmoraDlg::ShowStepWaiting(int i) {
  SetEntryBarText(i, "Preparing Next Step...");
  m_host.ProgressBar(i).SetPos(100);
  m_strStatus[i] = EntryStatusText(i);
  m_host.ProgressBar(i).Redraw();
  UpdateData(false);
}

void CVelmoraDlg::ShowEntryCompleted(int i) {
  SetEntryBarText(i, "Download Completed.");
  m_host.ProgressBar(i).SetPos(100);
  m_strStatus[i] = EntryStatusText(i);
  m_host.ProgressBar(i).Redraw();
  UpdateData(false);
}

void CVelmoraDlg::ShowEntryError(int i) {
  IProgressBar& bar = m_host.ProgressBar(i);
  SetEntryBarText(i, "Error!");
  bar.SetPos(0);
  bar.SetBgColour(kLightGrey);
  bar.SetTextOnBgColour(kDarkRed);
  bar.Redraw();
  // Which socket failed stays readable after the entry loses its port.
  if (i < 0 || i >= MAX_ENTRIES) return;
  const int port = m_entries[i].m_nComPort != 0 ? m_entries[i].m_nComPort : Outcome(i).m_nRunPort;
  if (port == 0 || m_nFailedPort[i] == port) return;
  m_nFailedPort[i] = port;
  m_strPortLabel[i] = PortLabel(i);
  m_host.SetControlText(kPortLabelIds[i], m_strPortLabel[i]);
  m_host.MarkEntryFailed(i, true);
}

std::string CVelmoraDlg::PortLabel(int i) const {
  const int port = m_entries[i].m_nComPort != 0 ? m_entries[i].m_nComPort : m_nFailedPort[i];
  if (port == 0) return {};
  char label[24];
  std::snprintf(label, sizeof label, m_nFailedPort[i] == port ? "[COM%d]\xC3\x97" : "[COM%d]", port);
  return label;
}

void CVelmoraDlg::ClearEntryView(int i) {
  SetEntryBarText(i, "");
  m_host.ProgressBar(i).SetPos(0);
  m_host.ProgressBar(i).Redraw();
  m_strStatus[i].clear();
}

void CVelmoraDlg::ShowElapsedTime() {
  const uint32_t s = (m_host.ClockMs() - m_startClock) / 1000;
  char text[64];
  std::snprintf(text, sizeof text, "Elapsed time : %d min %d sec", static_cast<int>(s / 60),
                static_cast<int>(s % 60));
  // The clock moves once a second, but this runs with every block of every
  // entry: only a new second is worth a refresh of the controls (the
  // block's own progress refreshes them right after). The log view is
  // repainted with it: the view seen, whichever entry it belongs to.
  if (m_strElapsed == text) return;
  if (m_nSelEntry >= 0 && m_nSelEntry < MAX_ENTRIES) m_host.Invalidate(kLogViewIds[m_nSelEntry]);
  m_strElapsed = text;
  UpdateData(false);
}

void CVelmoraDlg::ResetProgress() {
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    IProgressBar& bar = m_host.ProgressBar(i);
    bar.SetRange(0, 100);
    bar.SetPos(0);
    bar.SetTextOnBarColour(kWhite);
    bar.SetBgColour(kLightGrey);
    bar.SetBarColour(kNavy);
    bar.SetTextOnBgColour(kNavy);
  }
  UpdateData(false);
}

void CVelmoraDlg::EnableControls(int enable) {
  const bool on = enable == 1;
  for (int id : {IDC_DOWNLOAD, IDC_BOOTLOADER, IDC_RESOURCE, IDC_EFS2, IDC_QBFS, IDC_PHONE_CODE})
    m_host.EnableControl(id, on);
  m_host.EnableControl(IDC_CHANGE_DOWNLOADER, on && m_choices.m_bChangeDownloader == 1);
  m_host.EnableControl(IDC_PORT_LIST, on);
  // Rebinding ports or choosing entries under a running entry would take
  // its port away or change who takes part halfway.
  m_bControlsEnabled = on ? 1 : 0;
  m_host.EnableControl(IDC_PORT_SEARCH, on);
  for (int i = 0; i < MAX_ENTRIES; ++i) m_host.EnableControl(kEntryCheckIds[i], on && m_entries[i].m_nComPort != 0);
}
