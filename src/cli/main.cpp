// velmora-cli: the dialog without a window, for automation. It goes through
// the dialog's own handlers exactly as an operator's clicks would.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "CliOptions.h"
#include "ConsoleHost.h"
#include "ControlIds.h"
#include "PortHint.h"
#include "PortSearchOptions.h"
#include "VelmoraDlg.h"
#include "platform/PortMap.h"

namespace {
constexpr uint32_t kSliceMs = 200;

/// Presses an image button and answers its file (or folder) dialog.
bool Choose(CConsoleHost& host, int id, const std::string& answer, bool folder, const int& chosenFlag) {
  if (folder)
    host.m_folderAnswers.push_back(answer);
  else
    host.m_fileAnswers.push_back(answer);
  host.Click(id, 1);
  host.DispatchPending();
  return chosenFlag == 1;
}

/// One line per bound entry: "Entry 1 [COM1] /dev/ttyACM0".
void PrintBoundPorts(const CVelmoraDlg& dlg) {
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    const int port = dlg.m_entries[i].m_nComPort;
    if (port == 0) continue;
    std::printf("Entry %d %s %s\n", i + 1, dlg.m_strPortLabel[i].c_str(), PortDeviceHint(port).c_str());
  }
  if (dlg.m_nPortCount == 0) std::printf("Message: no handset port found\n");
  std::fflush(stdout);
}

int CreateResource(CConsoleHost& host, const std::string& dir) {
  host.m_folderAnswers.push_back(dir);
  const size_t before = host.m_boxes.size();
  host.Click(IDC_CREATE_RESOURCE);
  host.DispatchPending();
  for (size_t k = before; k < host.m_boxes.size(); ++k)
    if (host.m_boxes[k].text.rfind("Resource Binary(", 0) == 0) return 0;
  return 1;
}
}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = ParseCliOptions(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "velmora-cli: %s\n%s", error.c_str(), CliUsage());
    return 2;
  }
  const CliOptions& o = *options;
  if (o.help) {
    std::fputs(CliUsage(), stdout);
    return 0;
  }
  if (o.search && (o.sysfsRoot || o.devRoot)) SetPortSearchRoots(o.sysfsRoot.value_or(""), o.devRoot.value_or(""));

  CConsoleHost host(isatty(STDOUT_FILENO) == 1);
  host.m_nYesNoAnswer = o.yes ? IDYES : IDNO;
  CVelmoraDlg dlg(host);
  host.SetDialog(&dlg);
  dlg.OnInitDialog();

  if (o.createResource) return CreateResource(host, *o.createResource);

  if (!o.ports.empty()) {
    host.Click(IDC_AUTO_DETECT, 0);
    for (const auto& [number, device] : o.ports) {
      CPortMap::Instance().Set(number, device);
      host.SelectListItem(IDC_PORT_LIST, number - 1, true);
    }
  } else if (o.search) {
    host.Click(IDC_PORT_SEARCH);
  }
  host.DispatchPending();
  if (o.search) {
    PrintBoundPorts(dlg);
    if (!o.HasImage()) return dlg.m_nPortCount > 0 ? 0 : 1;
  }

  bool chosen = true;
  if (o.boot) chosen &= Choose(host, IDC_BOOTLOADER, *o.boot, false, dlg.m_bBootLoader);
  if (o.resource) chosen &= Choose(host, IDC_RESOURCE, *o.resource, false, dlg.m_bResource);
  if (o.qbfs) chosen &= Choose(host, IDC_QBFS, *o.qbfs, false, dlg.m_bQbfs);
  if (o.efs2) chosen &= Choose(host, IDC_EFS2, *o.efs2, true, dlg.m_bEfs2);
  if (o.phone) chosen &= Choose(host, IDC_PHONE_CODE, *o.phone, false, dlg.m_bPhoneCode);
  if (o.changeDownloader) {
    host.Click(IDC_CHANGE_DOWNLOADER, 1);
    chosen &= dlg.m_bChangeDownloader == 1;
  }
  if (o.inputAddress) host.Click(IDC_INPUT_ADDRESS);
  if (!chosen) {
    std::fprintf(stderr, "velmora-cli: an image choice was refused; nothing downloaded\n");
    return 1;
  }

  host.Click(IDC_DOWNLOAD);
  host.DispatchPending();
  std::vector<std::pair<int, int>> bound;  // entry, COM number
  for (int i = 0; i < MAX_ENTRIES; ++i)
    if (dlg.m_entries[i].m_nResult != RESULT_NONE) bound.emplace_back(i, dlg.m_entries[i].m_nComPort);
  if (bound.empty()) {
    std::fprintf(stderr, "velmora-cli: the run could not start\n");
    return 1;
  }

  std::vector<int> table;
  for (const auto& b : bound) table.push_back(b.first);
  host.SetTableEntries(table);
  const uint32_t deadline = host.Now() + static_cast<uint32_t>(o.timeoutSeconds) * 1000u;
  bool ended = false;
  while (!ended && static_cast<int32_t>(deadline - host.Now()) > 0) {
    const uint32_t left = deadline - host.Now();
    ended = host.RunUntil([&] { return dlg.m_bRunning == 0; }, std::min(left, kSliceMs));
    host.DrawTable();
  }
  host.DispatchPending();
  host.EraseTable();
  if (!ended) std::printf("Message: the run did not end within %d s\n", o.timeoutSeconds);

  bool allCompleted = !bound.empty();
  for (const auto& [i, port] : bound) {
    const bool completed = dlg.m_entries[i].m_nResult == RESULT_COMPLETED;
    allCompleted &= completed;
    std::printf("Entry %d [COM%d]: %s\n", i + 1, port, completed ? "completed" : "failed");
  }
  std::fflush(stdout);
  return allCompleted ? 0 : 1;
}
