#include "link/CodePage949.h"

#include <iconv.h>

bool ToCodePage949(const std::string& utf8, std::string& out) {
  out.clear();
  if (utf8.find('\0') != std::string::npos) return false;
  if (utf8.empty()) return true;
  iconv_t cd = ::iconv_open("CP949", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  // No character takes more bytes in code page 949 than in UTF-8.
  std::string buffer(utf8.size() + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* outPtr = buffer.data();
  size_t outLeft = buffer.size();
  const bool ok = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) && inLeft == 0 &&
                  ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
  ::iconv_close(cd);
  if (!ok) return false;
  buffer.resize(buffer.size() - outLeft);
  out = std::move(buffer);
  return true;
}
