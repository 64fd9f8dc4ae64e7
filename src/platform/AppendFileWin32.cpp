#include "platform/AppendFile.h"

#include <algorithm>

#include "platform/WinApi.h"

bool AppendSynced(const std::string& path, const std::string& content) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end,
  // whatever reading the last byte did to the file pointer.
  HANDLE h = ::CreateFileW(WideFromUtf8(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                           FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  char last = '\n';
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(h, &size) && size.QuadPart > 0) {
    OVERLAPPED at{};
    const ULONGLONG end = static_cast<ULONGLONG>(size.QuadPart) - 1;
    at.Offset = static_cast<DWORD>(end & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(end >> 32);
    DWORD got = 0;
    if (!::ReadFile(h, &last, 1, &got, &at) || got != 1) last = '\n';
  }
  const std::string text = last == '\n' ? content : "\n" + content;
  bool ok = true;
  for (size_t done = 0; ok && done < text.size();) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 30));
    ok = ::WriteFile(h, text.data() + done, chunk, &written, nullptr) && written > 0;
    done += written;
  }
  ok = ok && ::FlushFileBuffers(h);
  const DWORD err = ::GetLastError();
  ::CloseHandle(h);
  if (!ok) ::SetLastError(err);
  return ok;
}
