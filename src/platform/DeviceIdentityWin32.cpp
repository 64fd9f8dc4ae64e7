#include "platform/DeviceIdentity.h"

#include <cwctype>

#include "platform/WinApi.h"

namespace {
/// The name without the "\\.\" (or "\\?\") of the device namespace, in upper
/// case: COM3, \\.\COM3 and \\.\com3 are one port.
std::wstring Bare(const std::string& name) {
  std::wstring wide = WideFromUtf8(name);
  if (wide.size() > 4 && wide[0] == L'\\' && wide[1] == L'\\' && (wide[2] == L'.' || wide[2] == L'?') &&
      wide[3] == L'\\')
    wide.erase(0, 4);
  for (wchar_t& c : wide) c = static_cast<wchar_t>(std::towupper(c));
  return wide;
}

/// What the system's DOS device name stands for ("\Device\Serial0"); empty
/// when it is none.
std::wstring Target(const std::wstring& bare) {
  wchar_t target[1024] = {};
  if (::QueryDosDeviceW(bare.c_str(), target, static_cast<DWORD>(sizeof target / sizeof target[0])) == 0) return {};
  return target;  // the first of the list: the name in use
}
}  // namespace

bool SameDevice(const std::string& a, const std::string& b) {
  if (a == b) return true;
  const std::wstring ba = Bare(a), bb = Bare(b);
  if (ba == bb) return true;
  // Two DOS names may be aliases of one device (DefineDosDevice).
  const std::wstring ta = Target(ba), tb = Target(bb);
  return !ta.empty() && ta == tb;
}
