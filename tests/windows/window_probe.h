// Drives velmora.exe from outside, as an operator's desktop would: starts
// it, finds its window by the exact caption, reads its controls with
// messages the system carries between processes, and hands it the system's
// port notifications. Shared by the window's smoke test and the screenshot
// tool; Windows (or Wine) only.
#pragma once

#include <windows.h>
#include <dbt.h>

#include <chrono>
#include <string>
#include <thread>

namespace window_probe {

inline const wchar_t* kCaption = L"Velmora [ WZB-K470 ] V5.1  - NORVANE UMTS";

/// A path as given on a Linux command line ("/work/...") in the form a
/// Windows program opens under Wine (drive Z: is the Linux root).
inline std::wstring NativePath(const std::string& path) {
  std::wstring wide(path.begin(), path.end());
  if (!wide.empty() && wide.front() == L'/') {
    for (wchar_t& c : wide)
      if (c == L'/') c = L'\\';
    wide = L"Z:" + wide;
  }
  return wide;
}

struct Program {
  PROCESS_INFORMATION process = {};
  HWND window = nullptr;

  Program() = default;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program() {
    if (process.hProcess != nullptr) {
      if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 99);
      CloseHandle(process.hProcess);
      CloseHandle(process.hThread);
    }
  }

  bool Start(const std::string& exe) {
    std::wstring command = L"\"" + NativePath(exe) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    return CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process) != FALSE;
  }

  bool Exited(DWORD ms) const { return WaitForSingleObject(process.hProcess, ms) == WAIT_OBJECT_0; }
};

struct Search {
  DWORD processId;
  HWND found;
};

inline BOOL CALLBACK TakeIfCaption(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  wchar_t caption[128] = {};
  GetWindowTextW(hwnd, caption, 128);
  if (owner == search->processId && IsWindowVisible(hwnd) && lstrcmpW(caption, kCaption) == 0) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

/// The visible top-level window of `program` captioned exactly kCaption,
/// waited for up to `bound`; null when none came.
inline HWND WaitForWindow(Program& program, std::chrono::milliseconds bound) {
  const auto until = std::chrono::steady_clock::now() + bound;
  while (std::chrono::steady_clock::now() < until) {
    Search search = {program.process.dwProcessId, nullptr};
    EnumWindows(TakeIfCaption, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return program.window = search.found;
    if (program.Exited(0)) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return nullptr;
}

/// The text of control `id` (WM_GETTEXT, which the system copies between
/// processes); a bounded wait, so a hung window cannot hang the caller. Not
/// SMTO_ABORTIFHUNG: Wine takes a window whose thread has not yet asked for
/// a message for five seconds as hung, as a slow start-up under load does.
inline std::wstring ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  wchar_t text[512] = {};
  DWORD_PTR result = 0;
  if (control == nullptr ||
      !SendMessageTimeoutW(control, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 10000, &result))
    return L"<no answer>";
  return text;
}

/// Waits up to `bound` for control `id` to read `wanted`; returns the last
/// text read.
inline std::wstring WaitForText(HWND dialog, int id, const std::wstring& wanted, std::chrono::milliseconds bound) {
  const auto until = std::chrono::steady_clock::now() + bound;
  std::wstring text;
  do {
    text = ControlText(dialog, id);
    if (text == wanted) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < until);
  return text;
}

/// Sends the system's notification that COM `number` arrived (or, with
/// `arrived` false, was removed), as the system broadcasts it to top-level
/// windows. True when the window answered.
inline bool SendPortChange(HWND dialog, int number, bool arrived) {
  struct {
    DEV_BROADCAST_PORT_W header;
    wchar_t room[16];
  } note = {};
  const std::wstring name = L"COM" + std::to_wstring(number);
  note.header.dbcp_size = sizeof(DEV_BROADCAST_PORT_W) + static_cast<DWORD>(name.size() * sizeof(wchar_t));
  note.header.dbcp_devicetype = DBT_DEVTYP_PORT;
  name.copy(note.header.dbcp_name, name.size());
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(dialog, WM_DEVICECHANGE, arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                             reinterpret_cast<LPARAM>(&note), SMTO_NORMAL, 10000, &result) != 0;
}

struct Box {
  DWORD processId;
  const wchar_t* caption;
  HWND found;
};

inline BOOL CALLBACK TakeBox(HWND hwnd, LPARAM lParam) {
  auto* box = reinterpret_cast<Box*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  wchar_t caption[128] = {};
  GetWindowTextW(hwnd, caption, 128);
  if (owner == box->processId && IsWindowVisible(hwnd) && lstrcmpW(caption, box->caption) == 0) {
    box->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

inline HWND WaitForBox(DWORD processId, const wchar_t* caption, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 50) {
    Box box = {processId, caption, nullptr};
    EnumWindows(TakeBox, reinterpret_cast<LPARAM>(&box));
    if (box.found != nullptr) return box.found;
    Sleep(50);
  }
  return nullptr;
}

// Chooses the phone code image: the button opens the open-file dialog,
// whose file name box gets the image's path before OK is pressed.
inline bool ChoosePhoneImage(Program& program, HWND dialog, const std::string& image) {
  PostMessageW(GetDlgItem(dialog, 1077), BM_CLICK, 0, 0);
  HWND open = WaitForBox(program.process.dwProcessId, L"열기", 30000);
  if (open == nullptr) return false;
  const std::wstring path = NativePath(image);
  for (int id : {0x47C, 0x480}) {  // the file name combo box, or edit box
    if (HWND name = GetDlgItem(open, id)) {
      DWORD_PTR result = 0;
      SendMessageTimeoutW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL, 10000,
                          &result);
    }
  }
  PostMessageW(open, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(open, IDOK)));
  for (DWORD waited = 0; waited < 30000 && IsWindow(open); waited += 50) Sleep(50);
  return !IsWindow(open);
}

}  // namespace window_probe
