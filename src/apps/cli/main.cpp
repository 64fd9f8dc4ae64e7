// velmora-cli: the dialog without a window, for automation. It goes through
// the dialog's own handlers exactly as an operator's clicks would.
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "CliHistory.h"
#include "CliOptions.h"
#include "ConsoleHost.h"
#include "ControlIds.h"
#include "ports/PortHint.h"
#include "ports/PortSearchOptions.h"
#include "ports/PortStoreSettings.h"
#include "PortWatcher.h"
#include "RunReport.h"
#include "StopSignal.h"
#include "VelmoraDlg.h"
#include "VelmoraVersion.h"
#include "link/Trace.h"
#include "platform/Registry.h"
#include "platform/PortMap.h"
#ifdef _WIN32
// Last: <windows.h> has macros named like some of the engine's constants.
#include "platform/WinApi.h"

#include <shellapi.h>
#endif

namespace {
constexpr uint32_t kSliceMs = 200;

/// One line per bound entry: "Entry 1 [COM1] /dev/ttyACM0 <socket>" (no
/// socket when the port hangs on none known).
void PrintBoundPorts(const CVelmoraDlg& dlg) {
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    const int port = dlg.Binding(i).m_nComPort;
    if (port == 0) continue;
    std::string line = "Entry " + std::to_string(i + 1) + " " + dlg.PortLabelText(i) + " " + PortDeviceHint(port);
    const std::string socket = PortSocketHint(port);
    if (!socket.empty()) line += " " + socket;
    std::printf("%s\n", line.c_str());
  }
  if (dlg.PortCount() == 0) std::printf("Message: no handset port found\n");
  std::fflush(stdout);
}

/// The --report file. A single run's report replaces the file whole, one
/// JSON document that is never seen half written, as a script that names a
/// file per run expects. A station adds each batch's report as a line at the
/// batch's end, on the disk before the next batch starts: a later station
/// with the same file adds to the shift's record instead of replacing it, a
/// crash loses at most the batch in flight, and nothing of it is kept here.
class CReportFile {
 public:
  CReportFile(std::optional<std::string> path, bool append) : m_path(std::move(path)), m_bAppend(append) {}
  void Add(const CVelmoraDlg& dlg) {
    if (dlg.LastRun()) Add(*dlg.LastRun());
  }
  void Add(const CDownloadRun& run) {
    if (!m_path) return;
    const std::string line = BuildRunReport(run, "velmora-cli") + "\n";
    std::string error;
    const bool written =
        m_bAppend ? AppendFileDurably(*m_path, line, error) : WriteFileAtomically(*m_path, line, error);
    if (!written) std::fprintf(stderr, "velmora-cli: report not written: %s\n", error.c_str());
  }

 private:
  std::optional<std::string> m_path;
  bool m_bAppend;
};

/// Entry i's result line: "Entry n [COMn]: completed" or "... failed (reason)".
void PrintResult(int i, int port, const RunEntry& e) {
  if (e.m_nResult == RESULT_COMPLETED)
    std::printf("Entry %d [COM%d]: completed\n", i + 1, port);
  else
    std::printf("Entry %d [COM%d]: failed (%s)\n", i + 1, port, e.m_strReason.c_str());
}

struct RunResult {
  bool started = false;
  bool timedOut = false;  ///< --timeout ended it
  int completed = 0, failed = 0;
  /// Devices of the run's entries, as bound when it started.
  std::vector<std::string> devices;
};

/// Presses DownLoad (or, given a plan, asks the engine for a run of it) and
/// follows the run until it ends; a stop signal or the timeout interrupts
/// it. Prints one result line per entry of the run. `pump` runs on every
/// turn of the loop (port changes are handed over).
RunResult RunOnce(CConsoleHost& host, CVelmoraDlg& dlg, int timeoutSeconds, CStopSignal& stop,
                  const std::function<void()>& pump, const RunPlan* plan = nullptr) {
  RunResult result;
  if (plan)
    dlg.StartRun(*plan);
  else
    host.Click(IDC_DOWNLOAD);
  // The links open side by side; who takes part is known once they have.
  host.RunUntil([&] { return !dlg.LinksOpening() || stop.Received() != 0; }, kSliceMs * 100);
  if (dlg.LinksOpening()) dlg.InterruptRun();
  host.DispatchPending();
  std::vector<std::pair<int, int>> bound;  // entry, COM number
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    if (dlg.Outcome(i).m_nResult == RESULT_NONE) continue;
    // The run has been going since its first requests, and an entry that
    // has already left it (a refused boot version, a pulled cable) holds no
    // port any more: its line must still name the one it ran on, and its
    // handset must still be waited for before the next batch.
    const int port = dlg.Outcome(i).m_nRunPort;
    bound.emplace_back(i, port);
    result.devices.push_back(CPortMap::Instance().Device(port).value_or(""));
  }
  if (bound.empty()) return result;
  result.started = true;

  std::vector<int> table;
  for (const auto& b : bound) table.push_back(b.first);
  host.SetTableEntries(table);
  const uint32_t deadline = host.Now() + static_cast<uint32_t>(timeoutSeconds) * 1000u;
  while (dlg.Running() && stop.Received() == 0 && static_cast<int32_t>(deadline - host.Now()) > 0) {
    const uint32_t left = deadline - host.Now();
    host.RunUntil(
        [&] {
          pump();
          return !dlg.Running() || stop.Received() != 0;
        },
        std::min(left, kSliceMs));
    host.DrawTable();
  }
  host.DispatchPending();
  host.EraseTable();
  if (dlg.Running()) {
    result.timedOut = stop.Received() == 0;
    if (result.timedOut) std::printf("Message: the run did not end within %d s\n", timeoutSeconds);
    // Nothing more goes to the handsets, and their ports are free at once.
    dlg.InterruptRun();
    host.DispatchPending();
  }

  for (const auto& [i, port] : bound) {
    const RunEntry& e = dlg.Outcome(i);
    ++(e.m_nResult == RESULT_COMPLETED ? result.completed : result.failed);
    PrintResult(i, port, e);
  }
  std::fflush(stdout);
  return result;
}

/// What the station watches for quiet: the numbered devices and the ports
/// the entries hold.
using PortSnapshot = std::pair<std::vector<std::pair<int, std::string>>, std::vector<int>>;

PortSnapshot TakeSnapshot(const CVelmoraDlg& dlg) {
  PortSnapshot s{CPortMap::Instance().Entries(), {}};
  for (int i = 0; i < MAX_ENTRIES; ++i) s.second.push_back(dlg.Binding(i).m_nComPort);
  return s;
}

/// The flow line until a stop signal: every socket on its own, a line as
/// each handset ends; returns the exit status.
int RunFlow(CConsoleHost& host, CVelmoraDlg& dlg, const std::function<void()>& pump, uint32_t settleMs,
            CStopSignal& stop, CReportFile& report) {
  if (!dlg.StartFlow(dlg.PlanFromChoices(), settleMs)) {
    std::fprintf(stderr, "velmora-cli: the line could not start\n");
    return CLI_NOTHING;
  }
  // The serial of each entry's run told last: a handset is told once, when
  // its run has ended.
  uint64_t told[MAX_ENTRIES] = {};
  int handsets = 0, completed = 0, failed = 0;
  auto tell = [&] {
    for (int i = 0; i < MAX_ENTRIES; ++i) {
      const CDownloadRun* run = dlg.RunOf(i);
      if (!run || run->Serial() == told[i] || !run->Includes(i)) continue;
      const RunEntry& e = run->Entry(i);
      if (e.m_nResult != RESULT_COMPLETED && e.m_nResult != RESULT_FAILED) continue;
      told[i] = run->Serial();
      ++handsets;
      ++(e.m_nResult == RESULT_COMPLETED ? completed : failed);
      PrintResult(i, e.m_nRunPort, e);
      std::fflush(stdout);
      report.Add(*run);
    }
  };
  while (stop.Received() == 0)
    host.RunUntil(
        [&] {
          pump();
          tell();
          return stop.Received() != 0;
        },
        kSliceMs);
  // The handsets still running fail as in a stopped batch, and are told.
  dlg.StopFlow();
  host.DispatchPending();
  tell();
  std::printf("Total: %d handsets, %d completed, %d failed\n", handsets, completed, failed);
  std::fflush(stdout);
  return 128 + stop.Received();
}

/// Batch after batch until a stop signal; returns the exit status.
int RunStation(CConsoleHost& host, CVelmoraDlg& dlg, const CliOptions& o, CStopSignal& stop,
               CReportFile& report) {
  HotPlugOptions watch = CPortWatcher::DefaultOptions();
  if (o.sysfsRoot || o.devRoot) {
    // A test tree: its device directory is watched, not the machine's.
    watch.watchDir = watch.devRoot;
    watch.allowUdev = false;
  }
  CPortWatcher watcher(host, watch);
  // Started before the search, so that no handset plugged in between is
  // missed.
  if (!watcher.Start()) {
    std::fprintf(stderr, "velmora-cli: cannot follow handsets coming and going\n");
    return 1;
  }
  host.Click(IDC_PORT_SEARCH);
  host.DispatchPending();

  const uint32_t settleMs = static_cast<uint32_t>(std::lround(o.settleSeconds * 1000.0));
  if (o.flow) {
    const int status = RunFlow(host, dlg, [&] { watcher.Dispatch(dlg); }, settleMs, stop, report);
    watcher.Stop();
    return status;
  }
  PortSnapshot last = TakeSnapshot(dlg);
  uint32_t lastChange = host.Now();
  std::set<std::string> previous;  // devices of the last batch not seen leaving yet
  // A handset pulled and another plugged into its socket while the loop was
  // held up reach it in one Dispatch: the map shows the socket's device as
  // if it had never left, and the batch would wait for it for ever.
  watcher.SetRemovalObserver([&previous](const std::string& device) { previous.erase(device); });
  bool waitForChange = false;      // the last start failed: wait for the ports to change
  int batches = 0, completed = 0, failed = 0;
  auto pump = [&] { watcher.Dispatch(dlg); };
  while (stop.Received() == 0) {
    bool ready = false;
    host.RunUntil(
        [&] {
          pump();
          PortSnapshot now = TakeSnapshot(dlg);
          if (now != last) {
            last = std::move(now);
            lastChange = host.Now();
            waitForChange = false;
          }
          // A device once gone counts as gone, even if it comes back: the
          // operator took it out of the batch.
          for (auto it = previous.begin(); it != previous.end();)
            it = CPortMap::Instance().Number(*it) != 0 ? std::next(it) : previous.erase(it);
          ready = !waitForChange && previous.empty() && dlg.PortCount() > 0 && !dlg.Running() &&
                  host.Now() - lastChange >= settleMs;
          return ready || stop.Received() != 0;
        },
        kSliceMs);
    if (!ready || stop.Received() != 0) continue;
    // Each batch is a run of the choices made at the start, its settings
    // read as it starts.
    const RunPlan plan = dlg.PlanFromChoices();
    RunResult r = RunOnce(host, dlg, o.timeoutSeconds, stop, pump, &plan);
    if (!r.started) {
      std::printf("Message: the batch could not start\n");
      std::fflush(stdout);
      waitForChange = true;
      continue;
    }
    report.Add(dlg);
    ++batches;
    completed += r.completed;
    failed += r.failed;
    std::printf("Batch %d: %d completed, %d failed\n", batches, r.completed, r.failed);
    std::fflush(stdout);
    previous = std::set<std::string>(r.devices.begin(), r.devices.end());
    previous.erase("");
    last = TakeSnapshot(dlg);
    lastChange = host.Now();
  }
  watcher.SetRemovalObserver(nullptr);
  watcher.Stop();
  std::printf("Total: %d batches, %d completed, %d failed\n", batches, completed, failed);
  std::fflush(stdout);
  return 128 + stop.Received();
}

/// --forget-ports: clears the kept numbers after asking on the terminal
/// (an answer other than y or yes, or none, keeps them).
int ForgetPorts(bool yes) {
  AttachPortStore();
  CPortMap& map = CPortMap::Instance();
  const int kept = map.StoredCount();
  if (!yes) {
    std::printf("Forget the %d kept COM numbers? [y/N] ", kept);
    std::fflush(stdout);
    char answer[16] = {};
    const bool read = std::fgets(answer, sizeof answer, stdin) != nullptr;
    const std::string a(answer);
    if (!read || (a != "y\n" && a != "yes\n" && a != "Y\n" && a != "y" && a != "yes")) {
      std::printf("Nothing forgotten\n");
      return 1;
    }
  }
  const int forgotten = map.ForgetStored();
  if (forgotten < 0) {
    std::fprintf(stderr, "velmora-cli: the kept COM numbers could not be forgotten (%s)\n",
                 CRegistry::StorePath().c_str());
    return 1;
  }
  std::printf("Forgot %d kept COM numbers\n", forgotten);
  return 0;
}

bool StdoutIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(STDOUT_FILENO) == 1;
#endif
}

int CreateResource(CConsoleHost& host, const std::string& dir) {
  host.m_folderAnswers.push_back(dir);
  host.Click(IDC_CREATE_RESOURCE);
  host.DispatchPending();
  // The builder's last word is its box: the image's name, or why not.
  return host.LastBox().rfind("Resource Binary(", 0) == 0 ? 0 : 1;
}
}  // namespace

static int Main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "history") return RunHistoryCommand(argc - 1, argv + 1);
  std::string error;
  auto options = ParseCliOptions(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "velmora-cli: %s\n%s", error.c_str(), CliUsage());
    return CLI_USAGE;
  }
  const CliOptions& o = *options;
  if (o.help) {
    std::fputs(CliUsage(), stdout);
    return CLI_COMPLETED;
  }
  if (o.version) {
    std::printf("velmora-cli %s\n", VELMORA_VERSION);
    return CLI_COMPLETED;
  }
  if (o.trace) SetTraceEnabled(true);
  // Before any port is opened: a run must not stop half-way for a typo.
  if (auto problem = CliInputProblem(o)) {
    std::fprintf(stderr, "velmora-cli: %s; nothing downloaded\n", problem->c_str());
    return CLI_NOTHING;
  }
  if (o.forgetPorts) return ForgetPorts(o.yes);
  // Before any thread exists, so that every thread inherits the mask.
  CStopSignal stop;
  if ((o.search || o.station) && (o.sysfsRoot || o.devRoot))
    SetPortSearchRoots(o.sysfsRoot.value_or(""), o.devRoot.value_or(""));

  CConsoleHost host(StdoutIsTerminal());
  host.SetStopWaitable(stop.Waitable());
  host.m_nYesNoAnswer = o.yes ? IDYES : IDNO;
  CVelmoraDlg dlg(host);
  host.SetDialog(&dlg);
  dlg.OnInitDialog();

  if (o.createResource) {
    // No loop watches for the signals here: they end it the ordinary way.
    stop.Release();
    return CreateResource(host, *o.createResource);
  }

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
    if (!o.HasImage()) return dlg.PortCount() > 0 ? CLI_COMPLETED : CLI_NOTHING;
  }

  // The choices are the engine's, as an operator would make them, each
  // with its checks and caution questions; no file dialog is involved.
  bool chosen = true;
  if (o.boot) chosen &= dlg.ChooseImage(IMAGE_BOOTLOADER, *o.boot);
  if (o.resource) chosen &= dlg.ChooseImage(IMAGE_RESOURCE, *o.resource);
  if (o.qbfs) chosen &= dlg.ChooseImage(IMAGE_QBFS_FILE, *o.qbfs);
  if (o.efs2) chosen &= dlg.ChooseEfsFolder(*o.efs2);
  if (o.phone) chosen &= dlg.ChooseImage(IMAGE_PHONE_CODE, *o.phone);
  if (o.changeDownloader) chosen &= dlg.ChooseChangeDownloader();
  if (o.inputAddress) dlg.OnInputAddress();
  host.DispatchPending();
  if (!chosen) {
    std::fprintf(stderr, "velmora-cli: an image choice was refused; nothing downloaded\n");
    return CLI_NOTHING;
  }

  CReportFile report(o.report, o.station);
  const auto history = AttachCliHistory(o.history, host, dlg);
  if (o.station) return RunStation(host, dlg, o, stop, report);

  if (stop.Received() != 0) return 128 + stop.Received();
  const RunResult r = RunOnce(host, dlg, o.timeoutSeconds, stop, [] {});
  if (!r.started) {
    std::fprintf(stderr, "velmora-cli: the run could not start; nothing downloaded\n");
    return CLI_NOTHING;
  }
  report.Add(dlg);
  std::printf("Completed %d, failed %d\n", r.completed, r.failed);
  std::fflush(stdout);
  if (stop.Received() != 0) return 128 + stop.Received();
  if (r.timedOut) return CLI_TIMEOUT;
  return r.failed == 0 ? CLI_COMPLETED : CLI_FAILED;
}

#ifdef _WIN32
// The arguments as the system has them, in UTF-8 like every text of the
// engine: the narrow argv would hold them in the ANSI code page, where a
// path with Korean letters on a Western system is lost.
int main() {
  int argc = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!wide) return CLI_USAGE;
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return Main(argc, argv.data());
}
#else
int main(int argc, char** argv) { return Main(argc, argv); }
#endif
