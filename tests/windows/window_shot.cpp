// Developer tool: starts velmora.exe, binds COM1..COM<ports> as the system's
// arrival notifications do, optionally chooses a phone code image (answering
// the open-file dialog) and presses DownLoad, or opens the About box, and
// saves what the screen shows of the window as a 24-bit BMP
// (scripts/win-screenshot.sh turns it into a PNG):
//   window_shot.exe VELMORA.EXE OUTPUT.bmp [--ports N] [--phone IMAGE]
//                   [--after MS] [--about]
#include "window_probe.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

bool SaveScreen(const RECT& rect, const std::wstring& path) {
  const int w = rect.right - rect.left;
  const int h = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;  // bottom-up, as a BMP file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const bool copied = BitBlt(memory, 0, 0, w, h, screen, rect.left, rect.top, SRCCOPY) != FALSE;
  GdiFlush();
  const DWORD rowBytes = ((static_cast<DWORD>(w) * 3 + 3) / 4) * 4;
  const DWORD imageBytes = rowBytes * static_cast<DWORD>(h);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + imageBytes;
  info.bmiHeader.biSizeImage = imageBytes;
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), imageBytes);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return copied && out.good();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s VELMORA.EXE OUTPUT.bmp [--ports N] [--phone IMAGE] [--after MS] [--about]\n",
                 argv[0]);
    return 2;
  }
  bool about = false;
  int ports = 3;
  int afterMs = 1500;
  std::string phone;
  for (int k = 3; k < argc; ++k) {
    if (std::strcmp(argv[k], "--about") == 0) about = true;
    else if (std::strcmp(argv[k], "--ports") == 0 && k + 1 < argc) ports = std::atoi(argv[++k]);
    else if (std::strcmp(argv[k], "--after") == 0 && k + 1 < argc) afterMs = std::atoi(argv[++k]);
    else if (std::strcmp(argv[k], "--phone") == 0 && k + 1 < argc) phone = argv[++k];
  }
  window_probe::Program program;
  if (!program.Start(argv[1])) {
    std::fprintf(stderr, "could not start %s\n", argv[1]);
    return 1;
  }
  HWND dialog = window_probe::WaitForWindow(program, std::chrono::seconds(30));
  if (dialog == nullptr) {
    std::fprintf(stderr, "no window captioned as the program's\n");
    return 1;
  }
  for (int port = 1; port <= ports; ++port)
    if (!window_probe::SendPortChange(dialog, port, true)) std::fprintf(stderr, "COM%d: the window did not answer\n", port);
  SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
  RECT rect;
  GetWindowRect(dialog, &rect);
  if (!phone.empty()) {
    if (!window_probe::ChoosePhoneImage(program, dialog, phone)) {
      std::fprintf(stderr, "the open-file dialog did not take %s\n", phone.c_str());
      return 1;
    }
    PostMessageW(GetDlgItem(dialog, 1032), BM_CLICK, 0, 0);
  }
  if (about) {
    PostMessageW(dialog, WM_SYSCOMMAND, 0x10, 0);
    // The box is centred over the window: the picture is the window's.
  }
  // A picture of the run so far: a fixed pause is right here, no test
  // waits on it.
  Sleep(static_cast<DWORD>(afterMs));
  const bool saved = SaveScreen(rect, window_probe::NativePath(argv[2]));
  PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  if (!program.Exited(5000)) TerminateProcess(program.process.hProcess, 0);
  if (!saved) std::fprintf(stderr, "could not save %s\n", argv[2]);
  return saved ? 0 : 1;
}
