// velmora.exe: the operator's window on Windows. The same dialog logic as on
// Linux runs behind a native Win32 dialog; the system itself tells the
// window of ports that come and go, so no watcher thread runs beside it.
#include <string>

#include "RunReport.h"
#include "VelmoraDlg.h"
#include "Win32DialogHost.h"

int main() {
  CWin32DialogHost host;
  std::string error;
  if (!host.Create(error)) {
    host.MessageBox("Velmora: " + error, MB_OK | MB_ICONHAND);
    return 1;
  }
  {
    CVelmoraDlg dialog(host);
    // Every run leaves its report there, so that a shift's work can be
    // traced handset by handset.
    dialog.SetRunReportDir(DefaultRunReportDir());
    host.SetWindowProc([&dialog](uint32_t message, uintptr_t wParam, intptr_t lParam) {
      return dialog.WindowProc(message, wParam, lParam);
    });
    host.SetOnClose([&dialog] { dialog.OnClose(); });
    host.SetCloseQuery([&dialog] { return dialog.QueryClose(); });
    dialog.OnInitDialog();
    host.Run();
    // Messages still queued or posted while the threads stop find no
    // dialog any more.
    host.SetWindowProc(nullptr);
    host.SetOnClose(nullptr);
    host.SetCloseQuery(nullptr);
  }
  return 0;
}
