// The Win32 API for the files that call it. <windows.h> defines macros named
// like the engine's window vocabulary (PostMessage, MessageBox, WM_USER,
// MB_OK, IDOK, EV_RXCHAR ...): included through here, those macros are
// dropped again, so one file may use both the engine's headers and the API.
// Win32 code then calls the wide functions by their own names (PostMessageW,
// MessageBoxW); the constants keep the values the engine's headers give them.
#pragma once

#ifndef _WIN32
#error "WinApi.h is for the Windows build only"
#endif

#include <windows.h>

#include <string>

#undef PostMessage
#undef SendMessage
#undef MessageBox
#undef GetMessage
#undef CreateWindow
#undef DrawText
#undef LoadString
#undef GetObject
#undef SetPort
#undef ERROR
#undef WM_USER
#undef WM_COMMAND
#undef WM_TIMER
#undef WM_DEVICECHANGE
#undef DBT_DEVICEARRIVAL
#undef DBT_DEVICEREMOVECOMPLETE
#undef DBT_DEVTYP_PORT
#undef MB_OK
#undef MB_YESNO
#undef MB_ICONHAND
#undef MB_ICONQUESTION
#undef MB_ICONEXCLAMATION
#undef MB_ICONINFORMATION
#undef MB_DEFBUTTON2
#undef MB_SYSTEMMODAL
#undef MB_ICONMASK
#undef IDOK
#undef IDCANCEL
#undef IDYES
#undef IDNO
#undef IDC_SIZE  // a cursor of the system's; the id of the image size edit here
#undef EV_RXCHAR

/// UTF-16 of UTF-8 `text` for a W function (invalid bytes become U+FFFD).
std::wstring WideFromUtf8(const std::string& text);

/// UTF-8 of a W function's text.
std::string Utf8FromWide(const std::wstring& text);
std::string Utf8FromWide(const wchar_t* text, size_t length);

/// The system's text for error `code` (GetLastError), in UTF-8 and without
/// the trailing line break; "error <code>" when the system has none.
std::string Win32ErrorText(unsigned long code);
