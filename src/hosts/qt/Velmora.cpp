#include "Velmora.h"

#include <QWidget>
#include <cstdio>

#include "AppIcon.h"
#include "BenchRecord.h"
#include "ControlIds.h"
#include "HostBinding.h"
#include "PortWatcher.h"
#include "QtDialogHost.h"
#include "RunReport.h"
#include "VelmoraDlg.h"
#include "VelmoraVersion.h"
#include "VelmoraWindow.h"
#include "WindowArgs.h"
#include "link/Trace.h"

namespace {

int AnswerInfoOption(const WindowArgs& options) {
  if (options.help)
    std::fputs(WindowUsage(), stdout);
  else
    std::printf("velmora %s\n", VELMORA_VERSION);
  return 0;
}

}  // namespace

CVelmoraApp::CVelmoraApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Velmora"));
  setWindowIcon(VelmoraIcon());
}

int CVelmoraApp::InitInstance() {
  QStringList args = arguments();
  args.removeFirst();
  std::string error;
  const std::optional<WindowArgs> options = ParseWindowArgs(args, error);
  if (!options) {
    std::fprintf(stderr, "velmora: %s\n%s", error.c_str(), WindowUsage());
    return 2;
  }
  if (options->help || options->version) return AnswerInfoOption(*options);
  if (options->trace) SetTraceEnabled(true);
  CVelmoraWindow window;
  CQtDialogHost host(window);
  {
    CVelmoraDlg dialog(host);
    // Every run leaves its report there, so that a shift's work can be
    // traced handset by handset.
    dialog.SetRunReportDir(DefaultRunReportDir());
    // And every handset's result goes into the history the moment it is
    // known, and into the shift's counts.
    CBenchRecord record(window, host, dialog);
    // Handsets plugged in or pulled out while the window is open.
    CPortWatcher watcher(host);
    BindDialog(host, dialog, &watcher);
    dialog.OnInitDialog();
    PlugInPorts(host, options->ports);
    watcher.Start();
    if (QWidget* download = window.Control(IDC_DOWNLOAD)) download->setFocus();
    window.exec();
    watcher.Stop();
    // Messages still queued or posted while the threads stop find no
    // dialog any more.
    UnbindDialog(host);
  }
  return 0;
}

int main(int argc, char** argv) {
  // --help and --version need no display: they are answered before Qt
  // looks for one (an install without a desktop asks them too). With Qt's
  // own options among the arguments they are answered after it.
  QStringList args;
  for (int k = 1; k < argc; ++k) args << QString::fromLocal8Bit(argv[k]);
  std::string error;
  if (const std::optional<WindowArgs> early = ParseWindowArgs(args, error); early && (early->help || early->version))
    return AnswerInfoOption(*early);
  CVelmoraApp app(argc, argv);
  return app.InitInstance();
}
