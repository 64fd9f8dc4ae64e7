// What the engine needs of the file system, with UTF-8 paths: each OS's own
// calls live in OsFilePosix.cpp and OsFileWin32.cpp (which converts every
// path to UTF-16 at the call).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

/// Which file a path names and the stamp of its last change (contents,
/// permissions, a file put in its place): two equal stamps mean opening the
/// path again would give the same file in the same state.
struct OsFileStamp {
  uint64_t volume = 0;
  uint64_t index = 0;
  int64_t changed = 0;
  bool operator==(const OsFileStamp&) const = default;
};

/// The stamp of what `path` names now; false when it names nothing.
bool OsFileStampOf(const std::string& path, OsFileStamp& stamp);

/// One regular file open for reading, closed with the object.
class COsFile {
 public:
  COsFile() = default;
  ~COsFile();
  COsFile(const COsFile&) = delete;
  COsFile& operator=(const COsFile&) = delete;

  /// Opens `path` for reading. Anything but a regular file (a folder, a
  /// FIFO, a device) is refused, and opening never waits on one.
  bool Open(const std::string& path);
  /// Size and last modification of the open file.
  bool Status(uint64_t& size, std::time_t& modified) const;

  /// The stamp of the open file (see OsFileStamp).
  bool Stamp(OsFileStamp& stamp) const;

  /// True while a file is open.
  bool IsOpen() const { return m_handle != -1; }

  /// Closes the file; the object may open another.
  void Close();
  /// Reads up to `count` bytes at `offset`: the number read (fewer at the
  /// end of the file), -1 on error.
  int64_t ReadAt(void* buffer, size_t count, uint64_t offset) const;
  /// Reads up to `count` bytes where the last read ended: 0 at the end of
  /// the file, -1 on error.
  int64_t Read(void* buffer, size_t count);

 private:
  intptr_t m_handle = -1;  // a descriptor, or a HANDLE on Windows
  uint64_t m_position = 0;
};

/// What a path names, links followed.
enum class OsPathKind { Missing, File, Folder, Other };
OsPathKind OsKindOf(const std::string& path);

/// True when `path` itself is a symbolic link (or, on Windows, another
/// reparse point such as a junction).
bool OsIsLink(const std::string& path);

/// The names in folder `path`, "." and ".." left out, in no set order;
/// false when it cannot be listed.
bool OsListFolder(const std::string& path, std::vector<std::string>& names);

/// Identifies a folder across the names it is reached by (links, bind
/// mounts, junctions). False when `path` is no folder.
struct OsFolderId {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const OsFolderId&) const = default;
};
bool OsFolderIdOf(const std::string& path, OsFolderId& id);

/// The absolute path with every link resolved; empty when it cannot be
/// resolved (missing, a dangling or looping link).
std::string OsCanonicalPath(const std::string& path);

/// True for the OS's path separators ('/', and '\\' on Windows).
bool OsIsSeparator(char c);

/// Local calendar time of `t`; false when it has none.
bool OsLocalTime(std::time_t t, std::tm& out);

/// The environment variable's value in UTF-8; empty when unset.
std::string OsEnvironment(const char* name);

/// This machine's name; empty when unknown.
std::string OsHostName();

/// The text of the last failed call's error (errno, or GetLastError on
/// Windows), for messages.
std::string OsLastErrorText();
