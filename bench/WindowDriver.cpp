// velmora-window-bench: one host of the dialog on handsets that are already
// running (their ports given as --port), driven as an operator drives it:
// the ports arrive as hot-plug notifications, PHONE Code is clicked and the
// file dialog answered with the image, then DownLoad is clicked for a
// warm-up run and for each measured run. velmora-bench starts it once with
// the Qt window and once with the headless host on the same handsets, so
// that the two cost figures differ by the host alone.
//
//   velmora-window-bench --host window|headless --phone IMAGE [--runs N]
//                        [--click-ms MS] --port N=DEVICE ...
//
// One line per run on standard output:
//   run=K warm=0|1 probe=0|1 ok=0|1 seconds=S cpu_ms=C paints=P clicks=N
//   click_max_ms=M click_median_ms=D failed=F
// seconds and cpu_ms run from the DownLoad click to the run's end; cpu_ms is
// this process's CPU (the tool's threads and, for the window, Qt's), never the
// handsets'. The measured runs leave the slider alone, as an operator who
// only watches does. With --click-ms (window only) one more run follows, the
// probe, in which a key press is posted to the entry slider every MS
// milliseconds, one at a time; its latency runs from the post to the first
// paint of the entry label after the slider moved.
#include <sys/resource.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QSlider>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ControlIds.h"
#include "HostBinding.h"
#include "MySliderCtrl.h"
#include "QtDialogHost.h"
#include "VelmoraDlg.h"
#include "VelmoraWindow.h"
#include "WindowArgs.h"
#include "headless/HeadlessHost.h"
#include "platform/PortMap.h"
#include "platform/PortSpec.h"

namespace {

constexpr uint32_t kRunLimitMs = 600000;
// Between runs, so that the paints and log lines of one run's end are not
// charged to the next.
constexpr int kSettleMs = 300;

uint64_t CpuUs() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  auto us = [](const timeval& t) {
    return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_usec);
  };
  return us(ru.ru_utime) + us(ru.ru_stime);
}

struct RunFigures {
  bool ok = false;
  double seconds = 0;
  double cpuMs = 0;
  long paints = 0;
  double paintMs = 0;  ///< the loop's time painting (update requests, paint events)
  double busyMs = 0;   ///< the loop's time in any event
  std::vector<double> clickMs;
  int failed = 0;
};

void PrintRun(int k, bool warm, bool probe, const RunFigures& r) {
  std::vector<double> clicks = r.clickMs;
  std::sort(clicks.begin(), clicks.end());
  const double max = clicks.empty() ? 0 : clicks.back();
  const double median = clicks.empty() ? 0 : clicks[clicks.size() / 2];
  std::printf("run=%d warm=%d probe=%d ok=%d seconds=%.4f cpu_ms=%.1f paints=%ld paint_ms=%.1f busy_ms=%.1f "
              "clicks=%zu click_max_ms=%.2f click_median_ms=%.2f failed=%d\n",
              k, warm ? 1 : 0, probe ? 1 : 0, r.ok ? 1 : 0, r.seconds, r.cpuMs, r.paints, r.paintMs, r.busyMs,
              clicks.size(), max, median, r.failed);
  std::fflush(stdout);
}

int CountFailed(const CVelmoraDlg& dlg, const std::vector<std::pair<int, std::string>>& ports, bool& ok) {
  int failed = 0;
  ok = true;
  for (size_t k = 0; k < ports.size() && k < MAX_ENTRIES; ++k) {
    if (dlg.Outcome(k).m_nResult == RESULT_COMPLETED) continue;
    ok = false;
    ++failed;
  }
  return failed;
}

// ---- the Qt window ----

// Times the events the loop hands out at its own level (not those sent
// from inside another's handling), and the window's painting wherever it
// comes: its update requests (the paints of its widgets and the copy to the
// screen), or a widget's paint outside one.
class CTimedApp : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    // Paints come inside other events (a timer, a posted request): timed
    // wherever they come.
    const bool paint = (event->type() == QEvent::Paint || event->type() == QEvent::UpdateRequest) && m_nPaintDepth == 0;
    if (m_nDepth > 0 && !paint) return QApplication::notify(receiver, event);
    const bool top = m_nDepth == 0;
    ++m_nDepth;
    if (paint) ++m_nPaintDepth;
    const qint64 t0 = m_clock.nsecsElapsed();
    const bool result = QApplication::notify(receiver, event);
    const qint64 ns = m_clock.nsecsElapsed() - t0;
    if (top) busyNs += ns;
    if (paint) paintNs += ns, --m_nPaintDepth;
    --m_nDepth;
    return result;
  }
  void Start() { m_clock.start(); }
  qint64 busyNs = 0, paintNs = 0;

 private:
  QElapsedTimer m_clock;
  int m_nDepth = 0;
  int m_nPaintDepth = 0;
};

// Answers what a person would: the file dialog with the image, every box
// with OK (or Yes), at once.
class CDrivenHost : public CQtDialogHost {
 public:
  using CQtDialogHost::CQtDialogHost;
  std::optional<std::string> OpenFileDialog(const std::string&, const std::string&, const std::string&) override {
    return m_answer;
  }
  int MessageBox(const std::string& text, uint32_t type) override {
    m_lastBox = text;
    return (type & MB_BUTTONMASK) == MB_YESNO ? IDYES : IDOK;
  }
  std::optional<std::string> m_answer;
  std::string m_lastBox;
};

// Counts every paint of the window's widgets, and times the posted clicks.
class CPaintCounter : public QObject {
 public:
  CPaintCounter(QWidget* label) : m_label(label) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      ++paints;
      if (watched == m_label && moved && posted) {
        clickMs.push_back(static_cast<double>(clock.nsecsElapsed() - postedAt) / 1e6);
        posted = moved = false;
      }
    }
    return false;
  }
  QWidget* m_label;
  long paints = 0;
  QElapsedTimer clock;
  qint64 postedAt = 0;
  bool posted = false;  // a click is on its way
  bool moved = false;   // and the slider has taken it
  std::vector<double> clickMs;
};

void Click(CVelmoraWindow& window, int id) {
  if (auto* button = qobject_cast<QAbstractButton*>(window.Control(id))) button->click();
}

// The loop LoopUntil runs and what ends it; looked at after every message
// the dialog handles, so that a run's end ends the loop at once without the
// driver waking the loop to look (it would cost the window CPU).
QEventLoop* g_loop = nullptr;
const std::function<bool()>* g_done = nullptr;

void LookAfterMessage() {
  if (g_loop != nullptr && (*g_done)()) g_loop->quit();
}

/// Runs the loop until `done` holds or `limitMs` pass, sleeping in between
/// as the program's own loop does. Conditions not changed by a message of
/// the dialog are looked at every 100 ms.
void LoopUntil(const std::function<bool()>& done, int limitMs) {
  QEventLoop loop;
  QElapsedTimer t;
  t.start();
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, &loop, [&] {
    if (done() || t.elapsed() >= limitMs) loop.quit();
  });
  look.start(std::min(limitMs, 100));
  g_loop = &loop;
  g_done = &done;
  if (!done()) loop.exec();
  g_loop = nullptr;
  g_done = nullptr;
}

void Settle(int ms) { LoopUntil([] { return false; }, ms); }

int RunWindow(int argc, char** argv, const std::string& image, int runs, int clickMs,
              const std::vector<std::pair<int, std::string>>& ports) {
  // Qt sees none of the bench's own options.
  int qtArgc = 1;
  CTimedApp app(qtArgc, argv);
  app.Start();
  (void)argc;
  CVelmoraWindow window;
  CDrivenHost host(window);
  CVelmoraDlg dialog(host);
  BindDialog(host, dialog);
  host.SetWindowProc([&dialog](uint32_t message, uintptr_t wParam, intptr_t lParam) -> intptr_t {
    const intptr_t result = dialog.WindowProc(message, wParam, lParam);
    LookAfterMessage();
    return result;
  });
  dialog.OnInitDialog();
  PlugInPorts(host, ports);
  window.show();
  LoopUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }, 10000);
  Settle(kSettleMs);

  host.m_answer = image;
  Click(window, IDC_PHONE_CODE);
  if (dialog.Choices().m_bPhoneCode != 1) {
    std::fprintf(stderr, "velmora-window-bench: the image was refused: %s\n", host.m_lastBox.c_str());
    return 1;
  }
  CPaintCounter counter(window.Control(IDC_ENTRY_LABEL));
  counter.clock.start();
  app.installEventFilter(&counter);
  QSlider* slider = window.Slider();
  QObject::connect(slider, &QSlider::valueChanged, &counter, [&counter] {
    if (counter.posted) counter.moved = true;
  });
  QTimer clicker;
  bool right = true;
  QObject::connect(&clicker, &QTimer::timeout, &counter, [&] {
    if (counter.posted || !dialog.Running()) return;
    counter.posted = true;
    counter.moved = false;
    counter.postedAt = counter.clock.nsecsElapsed();
    // Queued behind whatever the handsets' messages have queued, as the
    // operator's key press is.
    const int key = right ? Qt::Key_Right : Qt::Key_Left;
    right = !right;
    QCoreApplication::postEvent(slider, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
    QCoreApplication::postEvent(slider, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier));
  });

  const int probes = clickMs > 0 ? 1 : 0;
  for (int k = 0; k <= runs + probes; ++k) {
    const bool probe = k > runs;
    RunFigures r;
    counter.paints = 0;
    app.busyNs = app.paintNs = 0;
    counter.clickMs.clear();
    counter.posted = counter.moved = false;
    const uint64_t cpu0 = CpuUs();
    QElapsedTimer t;
    t.start();
    Click(window, IDC_DOWNLOAD);
    if (probe) clicker.start(clickMs);
    LoopUntil([&] { return !dialog.Running(); }, kRunLimitMs);
    r.seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
    r.cpuMs = static_cast<double>(CpuUs() - cpu0) / 1000.0;
    clicker.stop();
    r.paints = counter.paints;
    r.paintMs = static_cast<double>(app.paintNs) / 1e6;
    r.busyMs = static_cast<double>(app.busyNs) / 1e6;
    r.clickMs = counter.clickMs;
    // A click still on its way when the run ended took at least this long.
    if (counter.posted) r.clickMs.push_back(static_cast<double>(counter.clock.nsecsElapsed() - counter.postedAt) / 1e6);
    r.failed = CountFailed(dialog, ports, r.ok);
    r.ok = r.ok && !dialog.Running();
    PrintRun(k, k == 0, probe, r);
    Settle(kSettleMs);
  }
  app.removeEventFilter(&counter);
  UnbindDialog(host);
  return 0;
}

// ---- the headless host ----

// Times every message the headless host hands the dialog.
class CBusy : public IDispatchObserver {
 public:
  void OnDispatched(uint32_t, uintptr_t, uint64_t startNs, uint64_t endNs) override { busyNs += endNs - startNs; }
  uint64_t busyNs = 0;
};

int RunHeadless(const std::string& image, int runs, const std::vector<std::pair<int, std::string>>& ports) {
  CHeadlessHost host;
  CBusy busy;
  host.SetDispatchObserver(&busy);
  host.m_nYesNoAnswer = IDYES;
  CVelmoraDlg dialog(host);
  host.SetDialog(&dialog);
  dialog.OnInitDialog();
  for (const auto& [number, device] : ports) {
    CPortMap::Instance().Set(number, device);
    DevBroadcastPort port;
    port.number = number;
    dialog.WindowProc(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<intptr_t>(&port));
  }
  host.DispatchPending();
  host.m_fileAnswers.push_back(image);
  host.Click(IDC_PHONE_CODE, 1);
  if (dialog.Choices().m_bPhoneCode != 1) {
    std::fprintf(stderr, "velmora-window-bench: the image was refused\n");
    return 1;
  }
  for (int k = 0; k <= runs; ++k) {
    RunFigures r;
    busy.busyNs = 0;
    const uint64_t cpu0 = CpuUs();
    QElapsedTimer t;
    t.start();
    host.Click(IDC_DOWNLOAD);
    host.RunUntil([&] { return !dialog.Running(); }, kRunLimitMs);
    r.seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
    r.cpuMs = static_cast<double>(CpuUs() - cpu0) / 1000.0;
    r.busyMs = static_cast<double>(busy.busyNs) / 1e6;
    r.failed = CountFailed(dialog, ports, r.ok);
    r.ok = r.ok && !dialog.Running();
    PrintRun(k, k == 0, false, r);
    host.RunUntil([] { return false; }, kSettleMs);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string hostKind, image;
  int runs = 3, clickMs = 0;
  std::vector<std::pair<int, std::string>> ports;
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (k + 1 >= argc) {
      std::fprintf(stderr, "velmora-window-bench: %s needs a value\n", a.c_str());
      return 2;
    }
    const std::string v = argv[++k];
    if (a == "--host") {
      hostKind = v;
    } else if (a == "--phone") {
      image = v;
    } else if (a == "--runs") {
      runs = std::max(1, std::atoi(v.c_str()));
    } else if (a == "--click-ms") {
      clickMs = std::max(0, std::atoi(v.c_str()));
    } else if (a == "--port") {
      std::string why;
      auto port = ParsePortSpec(v, &why);
      if (!port) {
        std::fprintf(stderr, "velmora-window-bench: --port %s\n", why.c_str());
        return 2;
      }
      ports.push_back(*port);
    } else {
      std::fprintf(stderr, "velmora-window-bench: unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  if ((hostKind != "window" && hostKind != "headless") || image.empty() || ports.empty()) {
    std::fprintf(stderr,
                 "usage: velmora-window-bench --host window|headless --phone IMAGE [--runs N] [--click-ms MS] "
                 "--port N=DEVICE ...\n");
    return 2;
  }
  if (hostKind == "window") return RunWindow(argc, argv, image, runs, clickMs, ports);
  return RunHeadless(image, runs, ports);
}
