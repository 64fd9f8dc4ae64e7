// Developer tool behind scripts/win-bench.sh: the window line of the
// benchmark, for velmora.exe under Wine. It drives the window as an operator
// does (COM1..COM<ports> announced, the phone code chosen in the open-file
// dialog, DownLoad pressed) for a warm-up run and the measured runs, then
// runs velmora-cli.exe on the same ports as many times; one line per run:
//   host=window|cli run=K warm=0|1 seconds=S cpu_ms=C
// For the window, seconds run from the DownLoad press to its end box and
// cpu_ms is velmora.exe's CPU over that span; the first run opens the
// links. For the command line, every run is a fresh process that opens its
// links: seconds run from its start to its exit and cpu_ms is all of its CPU.
//   window_bench.exe VELMORA.EXE VELMORA-CLI.EXE IMAGE [--ports N] [--runs N]
#include "window_probe.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

double CpuMs(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
  auto ms = [](const FILETIME& t) {
    return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
  };
  return ms(kernel) + ms(user);
}

double NowS() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

// The end box: the program's box whose text starts with "Download Completed.".
struct EndBox {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK TakeEndBox(HWND hwnd, LPARAM lParam) {
  auto* box = reinterpret_cast<EndBox*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  wchar_t cls[16] = {}, caption[64] = {};
  GetClassNameW(hwnd, cls, 16);
  GetWindowTextW(hwnd, caption, 64);
  if (owner != box->processId || !IsWindowVisible(hwnd) || lstrcmpW(cls, L"#32770") != 0 ||
      lstrcmpW(caption, L"Velmora") != 0)
    return TRUE;
  box->found = hwnd;
  return FALSE;
}

HWND WaitForEndBox(DWORD processId, DWORD ms) {
  const double until = NowS() + ms / 1000.0;
  while (NowS() < until) {
    EndBox box = {processId, nullptr};
    EnumWindows(TakeEndBox, reinterpret_cast<LPARAM>(&box));
    if (box.found != nullptr) return box.found;
    Sleep(1);
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s VELMORA.EXE VELMORA-CLI.EXE IMAGE [--ports N] [--runs N]\n", argv[0]);
    return 2;
  }
  int ports = 20, runs = 3;
  for (int k = 4; k + 1 < argc; k += 2) {
    if (std::strcmp(argv[k], "--ports") == 0) ports = std::atoi(argv[k + 1]);
    if (std::strcmp(argv[k], "--runs") == 0) runs = std::atoi(argv[k + 1]);
  }
  const std::string image = argv[3];

  {
    window_probe::Program program;
    if (!program.Start(argv[1])) {
      std::fprintf(stderr, "could not start %s\n", argv[1]);
      return 1;
    }
    HWND dialog = window_probe::WaitForWindow(program, std::chrono::seconds(60));
    if (dialog == nullptr) {
      std::fprintf(stderr, "no window captioned as the program's\n");
      return 1;
    }
    for (int port = 1; port <= ports; ++port) window_probe::SendPortChange(dialog, port, true);
    if (!window_probe::ChoosePhoneImage(program, dialog, image)) {
      std::fprintf(stderr, "the open-file dialog did not take %s\n", image.c_str());
      return 1;
    }
    HWND download = GetDlgItem(dialog, 1032);
    for (int k = 0; k <= runs; ++k) {
      const double cpu0 = CpuMs(program.process.hProcess), t0 = NowS();
      PostMessageW(download, BM_CLICK, 0, 0);
      HWND box = WaitForEndBox(program.process.dwProcessId, 600000);
      const double t1 = NowS(), cpu1 = CpuMs(program.process.hProcess);
      if (box == nullptr) {
        std::fprintf(stderr, "run %d: no end box\n", k);
        return 1;
      }
      std::printf("host=window run=%d warm=%d seconds=%.4f cpu_ms=%.1f\n", k, k == 0 ? 1 : 0, t1 - t0, cpu1 - cpu0);
      std::fflush(stdout);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      for (int waited = 0; waited < 30000 && !IsWindowEnabled(download); waited += 10) Sleep(10);
      Sleep(300);
    }
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (!program.Exited(10000)) TerminateProcess(program.process.hProcess, 0);
  }

  std::wstring command = L"\"" + window_probe::NativePath(argv[2]) + L"\" --phone \"" +
                         window_probe::NativePath(image) + L"\" --timeout 600";
  for (int port = 1; port <= ports; ++port) command += L" --port " + std::to_wstring(port);
  for (int k = 0; k < runs; ++k) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    std::wstring line = command;
    const double t0 = NowS();
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
      std::fprintf(stderr, "could not start %s\n", argv[2]);
      return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    const double t1 = NowS();
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    std::printf("host=cli run=%d warm=0 seconds=%.4f cpu_ms=%.1f status=%lu\n", k, t1 - t0,
                CpuMs(process.hProcess), static_cast<unsigned long>(status));
    std::fflush(stdout);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(nul);
  }
  return 0;
}
