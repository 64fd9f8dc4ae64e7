// The Win32 user-interface API for the window's files: the system headers
// first, then "platform/WinApi.h" drops the macros named like the engine's
// vocabulary, and this drops the one the control ids add (IDC_SIZE, a
// cursor of the system's, is the id of the image size edit here).
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>
#include <richedit.h>
#include <shlobj.h>

#include "platform/WinApi.h"

#undef IDC_SIZE
