#include "Velmora.h"

#include <QWidget>
#include <cstdio>

#include "AppIcon.h"
#include "ControlIds.h"
#include "HostBinding.h"
#include "PortWatcher.h"
#include "QtDialogHost.h"
#include "RunReport.h"
#include "VelmoraDlg.h"
#include "VelmoraWindow.h"
#include "WindowArgs.h"

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
  CVelmoraWindow window;
  CQtDialogHost host(window);
  {
    CVelmoraDlg dialog(host);
    // Every run leaves its report there, so that a shift's work can be
    // traced handset by handset.
    dialog.m_strRunReportDir = DefaultRunReportDir();
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
  CVelmoraApp app(argc, argv);
  return app.InitInstance();
}
