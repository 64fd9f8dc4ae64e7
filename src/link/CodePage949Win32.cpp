#include "link/CodePage949.h"

#include <climits>

#include "platform/WinApi.h"

bool ToCodePage949(const std::string& utf8, std::string& out) {
  out.clear();
  if (utf8.find('\0') != std::string::npos || utf8.size() > INT_MAX / 2) return false;
  if (utf8.empty()) return true;
  const int inLength = static_cast<int>(utf8.size());
  // Strict both ways: invalid UTF-8 fails, and a character without a code
  // point of its own is refused instead of replaced by a look-alike or '?'.
  const int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, nullptr, 0);
  if (wideLength <= 0) return false;
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, wide.data(), wideLength);
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(949, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, nullptr, 0, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return false;
  std::string buffer(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(949, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, buffer.data(), n, nullptr, &usedDefault);
  if (usedDefault) return false;
  out = std::move(buffer);
  return true;
}
