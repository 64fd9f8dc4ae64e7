// The dialog on the headless host with the real clock, its links on real
// pseudo-terminals, and simulated handsets behind them: the set-up the
// integration, line-timing and hostile tests and the benchmarks share.
#pragma once

#include <memory>
#include <string>

#include "ControlIds.h"
#include "DialogOnHost.h"
#include "VelmoraDlg.h"
#include "headless/HeadlessHost.h"
#include "platform/PortMap.h"
#include "sim/SimBench.h"

/// Opens the dialog on `host` and chooses COM1..ports in the manual port
/// list, as the operator does.
inline std::unique_ptr<CVelmoraDlg> OpenDialog(CHeadlessHost& host, int ports) {
  auto dlg = NewDialog(host);
  host.Click(IDC_AUTO_DETECT, 0);
  for (int k = 0; k < ports; ++k) host.SelectListItem(IDC_PORT_LIST, k, true);
  return dlg;
}

/// Chooses `path` with image button `id` (the file dialog answers it).
inline void ChooseImage(CHeadlessHost& host, int id, const std::string& path) {
  host.m_fileAnswers.push_back(path);
  host.Click(id, 1);
}

template <class Host>
class CSimRigWith {
 public:
  CSimRigWith() = default;
  CSimRigWith(const CSimRigWith&) = delete;
  CSimRigWith& operator=(const CSimRigWith&) = delete;
  ~CSimRigWith() { StopRig(); }

  /// Starts `count` simulated handsets on COM1..count. False (with `error`
  /// when asked for) when they could not be started or mapped.
  bool StartHandsets(int count, const SimHandsetConfig& config = {}, std::string* error = nullptr) {
    CPortMap::Instance().Clear();
    if (!m_sims.Start(count, config, error)) return false;
    if (m_sims.MapPorts(1)) return true;
    if (error) *error = "cannot map the handsets' ports";
    return false;
  }

  void OpenDialog(int ports) { m_dlg = ::OpenDialog(m_host, ports); }
  void Choose(int id, const std::string& path) { ChooseImage(m_host, id, path); }

  /// Presses DownLoad and runs the dialog's loop until the run ends or
  /// `limitMs` pass; whether it ended.
  bool RunToEnd(uint32_t limitMs) {
    m_host.Click(IDC_DOWNLOAD);
    return m_host.RunUntil([&] { return !m_dlg->Running(); }, limitMs);
  }

  /// The dialog first (its links close), then the handsets.
  void StopRig() {
    m_dlg.reset();
    m_sims.Stop();
    CPortMap::Instance().Clear();
  }

  Host m_host;
  CSimBench m_sims;
  std::unique_ptr<CVelmoraDlg> m_dlg;
};

using CSimRig = CSimRigWith<CHeadlessHost>;
