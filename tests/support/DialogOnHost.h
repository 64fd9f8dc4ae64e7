// The dialog as the window opens it, on a host of the test's.
#pragma once

#include <memory>

#include "VelmoraDlg.h"
#include "headless/HeadlessHost.h"

/// A dialog on `host`, told of each other and initialised; nothing bound.
inline std::unique_ptr<CVelmoraDlg> NewDialog(CHeadlessHost& host) {
  auto dlg = std::make_unique<CVelmoraDlg>(host);
  host.SetDialog(dlg.get());
  dlg->OnInitDialog();
  return dlg;
}
