// The Win32 user-interface API for the window's files: the system headers
// first, then "platform/WinApi.h" drops the macros named like the engine's
// vocabulary (the control ids' IDC_SIZE among them).
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>
#include <richedit.h>
#include <shlobj.h>

#include "platform/WinApi.h"

