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
                             reinterpret_cast<LPARAM>(&note), SMTO_NORMAL, 10000, &result) != 0;
}

// A phone code image the image checks accept: data, then the 37-byte
// trailer (marker FF 1D 00, the s/w version and the start address 0x20000).
std::string WritePhoneImage() {
  wchar_t dir[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, dir);
  std::string path;
  for (const wchar_t* c = dir; *c; ++c) path.push_back(static_cast<char>(*c));
  path += "velmora_window_phone.bin";
  std::string bytes(0x20000 + 4 * 1024 - 37, '\x5A');
  const unsigned char trailer[37] = {0xFF, 0x1D, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                     7,    0,    0,    0, 0, 0, 2, 0};
  bytes.append(reinterpret_cast<const char*>(trailer), sizeof trailer);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return std::string();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
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

  // DownLoad opens the port the system named: a COM port that arrived is
  // the device \\.\COM<n> (here one that is not there, so the log says so).
  ShowWindow(dialog, SW_RESTORE);
  ASSERT_TRUE(SendNamedPort(dialog, L"COM29", true));
  EXPECT_EQ(WaitForText(dialog, kEntry1Label, L"[COM29]", 10s), L"[COM29]");
  const std::string image = WritePhoneImage();
  ASSERT_FALSE(image.empty());
  ASSERT_TRUE(window_probe::ChoosePhoneImage(program, dialog, image)) << "the open-file dialog did not take " << image;
  PostMessageW(download, BM_CLICK, 0, 0);
  std::wstring log;
  EXPECT_TRUE(WaitFor(
      [&] {
        log = ControlText(dialog, 1055);
        return log.find(L"COM29: ") != std::wstring::npos;
      },
      30s));
  EXPECT_NE(log.find(L"\\\\.\\COM29: "), std::wstring::npos) << "log: " << std::string(log.begin(), log.end());
  DeleteFileA(image.c_str());

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
