#include "platform/Registry.h"

#include <mutex>

#include "platform/WinApi.h"

namespace {

const char kDefaultKey[] = "SOFTWARE\\NORVANE\\VELMORA";

std::mutex g_keyLock;
std::string g_key;  // empty: the default key

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// The same names as the settings file takes, so a value means the same on
// every platform; "[...]" names are the sections'.
bool ValidName(const std::string& name) {
  return !name.empty() && !HasLineBreak(name) && name.find('=') == std::string::npos && name.front() != '[';
}

std::wstring SectionValueName(const std::string& name) { return WideFromUtf8("[" + name + "]"); }

// Where values are looked for, in order: the user's own, then the
// machine's as a 64-bit and as a 32-bit program sees it (an older 32-bit
// installation wrote below WOW6432Node).
struct Source {
  HKEY root;
  REGSAM view;
};
const Source kSources[] = {{HKEY_CURRENT_USER, 0},
                               {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY},
                               {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY}};

enum class Lookup { Found, Missing, Failed };

// One value of `type` from the first source that has it.
Lookup ReadValue(const std::wstring& valueName, DWORD wantedType, std::wstring& out) {
  const std::wstring key = WideFromUtf8(CRegistry::StorePath());
  for (const Source& source : kSources) {
    HKEY handle = nullptr;
    const LSTATUS opened = RegOpenKeyExW(source.root, key.c_str(), 0, KEY_QUERY_VALUE | source.view, &handle);
    if (opened == ERROR_FILE_NOT_FOUND) continue;
    if (opened != ERROR_SUCCESS) return Lookup::Failed;
    DWORD type = 0, bytes = 0;
    LSTATUS status = RegQueryValueExW(handle, valueName.c_str(), nullptr, &type, nullptr, &bytes);
    std::wstring data;
    if (status == ERROR_SUCCESS) {
      data.assign(bytes / sizeof(wchar_t) + 1, L'\0');
      bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
      status = RegQueryValueExW(handle, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes);
    }
    RegCloseKey(handle);
    if (status == ERROR_FILE_NOT_FOUND) continue;
    if (status != ERROR_SUCCESS || type != wantedType) return Lookup::Failed;
    data.resize(bytes / sizeof(wchar_t));
    // The stored terminator (or terminators) are not part of the text.
    if (wantedType == REG_SZ)
      while (!data.empty() && data.back() == L'\0') data.pop_back();
    out = std::move(data);
    return Lookup::Found;
  }
  return Lookup::Missing;
}

// Sets (or with `remove`, deletes) one value of the user's key.
bool WriteValue(const std::wstring& valueName, DWORD type, const std::wstring& data, bool remove) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, WideFromUtf8(CRegistry::StorePath()).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &handle, nullptr) != ERROR_SUCCESS)
    return false;
  LSTATUS status;
  if (remove) {
    status = RegDeleteValueW(handle, valueName.c_str());
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
  } else {
    status = RegSetValueExW(handle, valueName.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(handle);
  return status == ERROR_SUCCESS;
}

}  // namespace

void CRegistry::SetStorePath(const std::string& path) {
  std::lock_guard<std::mutex> guard(g_keyLock);
  g_key = path;
}

std::string CRegistry::StorePath() {
  std::lock_guard<std::mutex> guard(g_keyLock);
  return g_key.empty() ? kDefaultKey : g_key;
}

std::string CRegistry::ReadString(const std::string& valueName, size_t maxLength) {
  if (!ValidName(valueName)) return std::string();
  std::wstring data;
  if (ReadValue(WideFromUtf8(valueName), REG_SZ, data) != Lookup::Found) return std::string();
  std::string value = Utf8FromWide(data);
  // A hand-edited value the dialog could never have stored is not used.
  if (value.size() > maxLength || HasLineBreak(value)) return std::string();
  return value;
}

bool CRegistry::WriteString(const std::string& valueName, const std::string& value) {
  if (!ValidName(valueName) || HasLineBreak(value) || value.size() > MAX_VALUE_LENGTH) return false;
  return WriteValue(WideFromUtf8(valueName), REG_SZ, WideFromUtf8(value), false);
}

// A section is one REG_MULTI_SZ value: written by one call, so a reader
// sees the old lines or the new ones, as with the settings file.
bool CRegistry::ReadSection(const std::string& name, std::vector<std::string>& lines) {
  lines.clear();
  std::wstring data;
  const Lookup found = ReadValue(SectionValueName(name), REG_MULTI_SZ, data);
  if (found == Lookup::Failed) return false;
  if (found == Lookup::Missing) return true;
  for (size_t at = 0; at < data.size();) {
    const size_t end = data.find(L'\0', at);
    const size_t stop = end == std::wstring::npos ? data.size() : end;
    if (stop > at) lines.push_back(Utf8FromWide(data.data() + at, stop - at));
    at = stop + 1;
  }
  return true;
}

bool CRegistry::WriteSection(const std::string& name, const std::vector<std::string>& lines) {
  std::wstring data;
  for (const std::string& line : lines) {
    if (HasLineBreak(line) || (!line.empty() && line.front() == '[')) return false;
    // An empty string would end the multi-string early; the file skips
    // blank lines of a section too.
    if (line.empty()) continue;
    data += WideFromUtf8(line);
    data += L'\0';
  }
  // The data ends with two NULs: the last string's and the list's (the
  // second one is the terminator WriteValue adds).
  return WriteValue(SectionValueName(name), REG_MULTI_SZ, data, data.empty());
}
