#include "HostBinding.h"

#include "PortWatcher.h"
#include "QtDialogHost.h"
#include "VelmoraDlg.h"
#include "VelmoraWindow.h"

void BindDialog(CQtDialogHost& host, CVelmoraDlg& dialog, CPortWatcher* watcher) {
  host.SetWindowProc([&dialog, watcher](uint32_t message, uintptr_t wParam, intptr_t lParam) -> intptr_t {
    if (watcher != nullptr && CPortWatcher::IsWakeUp(message, wParam, lParam)) {
      watcher->Dispatch(dialog);
      return 1;
    }
    return dialog.WindowProc(message, wParam, lParam);
  });
  host.SetOnClose([&dialog] { dialog.OnClose(); });
  host.SetCloseQuery([&dialog] { return dialog.QueryClose(); });
  host.Window().SetModeQuery([&dialog] {
    return CVelmoraWindow::ModeState{dialog.FlowMode(), !dialog.Running()};
  });
}

void UnbindDialog(CQtDialogHost& host) {
  host.SetWindowProc(nullptr);
  host.SetOnClose(nullptr);
  host.SetCloseQuery(nullptr);
  host.Window().SetModeQuery(nullptr);
}
