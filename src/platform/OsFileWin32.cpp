#include "platform/OsFile.h"

#include <algorithm>

#include "platform/WinApi.h"

namespace {

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// A handle that only asks what a path names: no access rights, nothing
// denied to others, links followed, folders allowed.
HANDLE OpenForQuery(const std::string& path) {
  return CreateFileW(WideFromUtf8(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

struct HandleCloser {
  HANDLE h;
  ~HandleCloser() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

// FILETIME counts 100 ns from 1601; time_t seconds from 1970.
std::time_t TimeOf(const FILETIME& ft) {
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  constexpr uint64_t kEpochDelta = 116444736000000000ull;
  return ticks < kEpochDelta ? 0 : static_cast<std::time_t>((ticks - kEpochDelta) / 10000000ull);
}

// Windows keeps no status time that a permission change moves, so the
// stamp takes the later of the last write and the basic information's
// change time (which a rename over the file or an attribute change moves).
bool StampOfHandle(HANDLE h, OsFileStamp& stamp) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) return false;
  FILE_BASIC_INFO basic{};
  int64_t changed = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                         info.ftLastWriteTime.dwLowDateTime);
  if (GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
    changed = std::max<int64_t>(changed, basic.ChangeTime.QuadPart);
  stamp = {info.dwVolumeSerialNumber,
           (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, changed};
  return true;
}

}  // namespace

bool OsFileStampOf(const std::string& path, OsFileStamp& stamp) {
  HandleCloser query{OpenForQuery(path)};
  return query.h != INVALID_HANDLE_VALUE && StampOfHandle(query.h, stamp);
}

COsFile::~COsFile() { Close(); }

void COsFile::Close() {
  if (m_handle != -1) CloseHandle(AsHandle(m_handle));
  m_handle = -1;
}

bool COsFile::Stamp(OsFileStamp& stamp) const {
  return m_handle != -1 && StampOfHandle(AsHandle(m_handle), stamp);
}

// Only files on a disk: a device name (COM1, NUL) or a pipe is refused, as
// is a folder (which CreateFileW does not open without backup semantics).
bool COsFile::Open(const std::string& path) {
  if (path.empty()) return false;
  HANDLE h = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(h);
    return false;
  }
  m_handle = reinterpret_cast<intptr_t>(h);
  m_position = 0;
  return true;
}

bool COsFile::Status(uint64_t& size, std::time_t& modified) const {
  BY_HANDLE_FILE_INFORMATION info{};
  if (m_handle == -1 || !GetFileInformationByHandle(AsHandle(m_handle), &info)) return false;
  size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  modified = TimeOf(info.ftLastWriteTime);
  return true;
}

int64_t COsFile::ReadAt(void* buffer, size_t count, uint64_t offset) const {
  if (m_handle == -1) return -1;
  size_t done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (done < count) {
    OVERLAPPED at{};
    const uint64_t where = offset + done;
    at.Offset = static_cast<DWORD>(where);
    at.OffsetHigh = static_cast<DWORD>(where >> 32);
    const DWORD want = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(AsHandle(m_handle), out + done, want, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}

int64_t COsFile::Read(void* buffer, size_t count) {
  const int64_t n = ReadAt(buffer, count, m_position);
  if (n > 0) m_position += static_cast<uint64_t>(n);
  return n;
}

OsPathKind OsKindOf(const std::string& path) {
  if (path.empty()) return OsPathKind::Missing;
  HandleCloser h{OpenForQuery(path)};
  if (h.h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME
               ? OsPathKind::Missing
               : OsPathKind::Other;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h.h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h.h, &info)) return OsPathKind::Other;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? OsPathKind::Folder : OsPathKind::File;
}

bool OsIsLink(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool OsListFolder(const std::string& path, std::vector<std::string>& names) {
  names.clear();
  if (path.empty()) return false;
  std::wstring pattern = WideFromUtf8(path);
  if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found{};
  HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND && OsKindOf(path) == OsPathKind::Folder;
  do {
    const std::string name = Utf8FromWide(found.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return true;
}

bool OsFolderIdOf(const std::string& path, OsFolderId& id) {
  HandleCloser h{OpenForQuery(path)};
  BY_HANDLE_FILE_INFORMATION info{};
  if (h.h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h.h, &info) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  id = {info.dwVolumeSerialNumber, (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return true;
}

std::string OsCanonicalPath(const std::string& path) {
  HandleCloser h{OpenForQuery(path)};
  if (h.h == INVALID_HANDLE_VALUE) return {};
  std::wstring out(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFinalPathNameByHandleW(h.h, out.data(), static_cast<DWORD>(out.size()), FILE_NAME_NORMALIZED);
    if (n == 0) return {};
    if (n < out.size()) {
      out.resize(n);
      break;
    }
    out.resize(n + 1);
  }
  // The "\\?\" form names the same file; the drive form is what an
  // operator reads everywhere else.
  if (out.rfind(L"\\\\?\\UNC\\", 0) == 0)
    out = L"\\\\" + out.substr(8);
  else if (out.rfind(L"\\\\?\\", 0) == 0)
    out = out.substr(4);
  return Utf8FromWide(out);
}

bool OsIsSeparator(char c) { return c == '/' || c == '\\'; }

bool OsLocalTime(std::time_t t, std::tm& out) { return localtime_s(&out, &t) == 0; }

std::string OsEnvironment(const char* name) {
  const std::wstring wideName = WideFromUtf8(name);
  const DWORD n = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  const DWORD got = GetEnvironmentVariableW(wideName.c_str(), value.data(), n);
  if (got == 0 || got >= n) return {};
  value.resize(got);
  return Utf8FromWide(value);
}

std::string OsHostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return {};
  return Utf8FromWide(name, size);
}

std::string OsLastErrorText() { return Win32ErrorText(GetLastError()); }
