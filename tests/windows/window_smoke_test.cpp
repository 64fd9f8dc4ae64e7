// velmora.exe as the operator meets it, driven from another process under
// the same (Wine) desktop: its window by the exact caption, what the dialog
// logic writes into its controls, the system's port notifications binding
// and unbinding entries, Enter and Escape that never close it, and the close
// box that ends the process.
//   window_smoke_test.exe VELMORA.EXE
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "window_probe.h"

namespace {

std::string g_program;

using namespace std::chrono_literals;
using window_probe::ControlText;
using window_probe::WaitForText;

constexpr int kEntry1Check = 1016;
constexpr int kEntry1Label = 1031;
constexpr int kEntry2Label = 1046;

struct Windows {
  DWORD processId;
  HWND main;
  int others;
};

BOOL CALLBACK CountOthers(HWND hwnd, LPARAM lParam) {
  auto* w = reinterpret_cast<Windows*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner == w->processId && hwnd != w->main && IsWindowVisible(hwnd)) ++w->others;
  return TRUE;
}

// Sends a port-like notification with any name (LPT1, COM7 ...).
bool SendNamedPort(HWND dialog, const std::wstring& name, bool arrived) {
  struct {
    DEV_BROADCAST_PORT_W header;
    wchar_t room[16];
  } note = {};
  note.header.dbcp_size = sizeof(DEV_BROADCAST_PORT_W) + static_cast<DWORD>(name.size() * sizeof(wchar_t));
  note.header.dbcp_devicetype = DBT_DEVTYP_PORT;
  name.copy(note.header.dbcp_name, name.size());
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(dialog, WM_DEVICECHANGE, arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                             reinterpret_cast<LPARAM>(&note), SMTO_ABORTIFHUNG, 10000, &result) != 0;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
  const auto until = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    Sleep(50);
  }
  return true;
}

TEST(WindowSmoke, TheWindowTheDialogAndThePortsThenCloseEndsTheProcess) {
  window_probe::Program program;
  ASSERT_TRUE(program.Start(g_program)) << g_program;
  HWND dialog = window_probe::WaitForWindow(program, 30s);
  ASSERT_NE(dialog, nullptr) << "no visible window captioned exactly as the program's";
  EXPECT_EQ(FindWindowW(nullptr, window_probe::kCaption), dialog);

  // What the dialog logic wrote at start-up, read back from the controls.
  EXPECT_EQ(ControlText(dialog, 1075), L"Entry 1");
  EXPECT_EQ(ControlText(dialog, 1093), L"20000");
  EXPECT_EQ(ControlText(dialog, 1096), L"740000");
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, 1089))) << "Auto Detect is on: the manual list is hidden";
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kEntry1Check)));

  // The system's arrival of a parallel port binds nothing (its name's digits
  // are no COM number); COM7 then binds entry 1, COM12 entry 2.
  ASSERT_TRUE(SendNamedPort(dialog, L"LPT1", true));
  ASSERT_TRUE(SendNamedPort(dialog, L"COM7", true));
  ASSERT_TRUE(SendNamedPort(dialog, L"\\\\.\\COM12", true));
  EXPECT_EQ(WaitForText(dialog, kEntry1Label, L"[COM7]", 10s), L"[COM7]");
  EXPECT_EQ(WaitForText(dialog, kEntry2Label, L"[COM12]", 10s), L"[COM12]");
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kEntry1Check)));
  ASSERT_TRUE(SendNamedPort(dialog, L"COM7", false));
  EXPECT_EQ(WaitForText(dialog, kEntry1Label, L"", 10s), L"");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kEntry1Check)));

  // Enter on the default button and Escape reach no control: no box opens
  // (DownLoad without an image would ask for one) and the window stays. The
  // minimise posted after them shows they have been handled.
  HWND download = GetDlgItem(dialog, 1032);
  PostMessageW(download, WM_KEYDOWN, VK_RETURN, 0);
  PostMessageW(download, WM_KEYDOWN, VK_ESCAPE, 0);
  PostMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(WaitFor([&] { return IsIconic(dialog) || !IsWindow(dialog); }, 30s));
  EXPECT_TRUE(IsWindow(dialog)) << "Enter or Escape closed the window";
  Windows others = {program.process.dwProcessId, dialog, 0};
  EnumWindows(CountOthers, reinterpret_cast<LPARAM>(&others));
  EXPECT_EQ(others.others, 0) << "a box opened";

  // The close box ends the dialog and the process, with no window left.
  PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(program.Exited(30000)) << "the process is still running after its window was closed";
  DWORD code = 1;
  GetExitCodeProcess(program.process.hProcess, &code);
  EXPECT_EQ(code, 0u);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s VELMORA.EXE\n", argv[0]);
    return 2;
  }
  g_program = argv[1];
  return RUN_ALL_TESTS();
}
