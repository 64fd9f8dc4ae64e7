// Packs a folder tree of resource files into one resource image: a directory
// of 128-byte entries padded to a whole 1024-byte block, then every file's
// bytes padded with FF to 1024. Folders are walked depth-first, each
// folder's entries in byte order of their names.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/OsFile.h"

class CDloadFile;

/// One packed file.
struct ResourceEntry {
  std::string hostPath;   ///< relative to the root, "/" between components
  std::string imagePath;  ///< the path stored in the image ("/" separated)
  uint32_t size = 0;      ///< bytes packed; 0 when the file could not be measured
};

/// Why a build did not produce an image.
enum ResourceStatus {
  RESOURCE_OK = 0,
  RESOURCE_TOO_MANY_FILES,      ///< more than 500 files in the tree
  RESOURCE_FOLDER_TOO_LARGE,    ///< more than 500 entries in one folder
  RESOURCE_PATH_TOO_LONG,       ///< a relative path over 111 characters
  RESOURCE_CANNOT_CREATE,       ///< the output file could not be created
  RESOURCE_CANNOT_READ,         ///< a packed file could not be read while copying
  RESOURCE_CANNOT_WRITE,        ///< writing or finishing the output failed
};

/// The outcome of a build; `message` is ready to be shown to the operator.
struct ResourceResult {
  ResourceStatus status = RESOURCE_OK;
  std::string message;
  bool Ok() const { return status == RESOURCE_OK; }
};

class CResourceBuilder {
 public:
  static constexpr int MAX_FILES = 500;           ///< files in one image
  static constexpr int MAX_FOLDER_ENTRIES = 500;  ///< listed entries of one folder
  static constexpr size_t MAX_PATH_LENGTH = 111;  ///< bytes of a relative path
  static constexpr size_t ENTRY_SIZE = 128;       ///< one directory entry
  static constexpr size_t PATH_FIELD_SIZE = 112;  ///< its path field
  /// Name of the output file, written into the chosen folder.
  static const char kImageName[];

  /// `measurer` measures every file (kind IMAGE_QBFS_FILE) and shows the
  /// message for a file it cannot open; it must outlive the builder.
  explicit CResourceBuilder(CDloadFile& measurer);
  virtual ~CResourceBuilder() = default;

  /// Chooses the folder to pack and empties the table.
  void SetRoot(const std::string& folder);
  /// The chosen folder followed by "/".
  const std::string& GetRoot() const { return m_strRoot; }

  /// Appends the files under root + `relative` ("" for the root itself),
  /// depth-first. False when the build is refused (see LastResult()).
  bool CollectResourceFiles(const std::string& relative);

  /// Writes root + kImageName from the table, replacing an older image only
  /// once the new one is complete. False on failure (see LastResult()); no
  /// partial image is left behind.
  bool WriteResourceImage();

  /// A whole build of `folder`: table emptied, walk, write, table emptied.
  ResourceResult Build(const std::string& folder);

  /// Empties the table and forgets the last result.
  void Clear();

  /// The table as the walk has filled it so far (empty after Build).
  const std::vector<ResourceEntry>& Entries() const { return m_entries; }
  /// Why the last walk or write failed; Ok() while nothing has failed.
  const ResourceResult& LastResult() const { return m_result; }

 private:
  bool Fail(ResourceStatus status, const std::string& text);
  bool FollowLink(const std::string& fullPath) const;
  bool CopyFileData(int out, const ResourceEntry& entry, uint8_t* buffer);

  CDloadFile& m_measurer;
  std::string m_strRoot;
  std::string m_strCanonicalRoot;  ///< where links may point to
  std::vector<ResourceEntry> m_entries;
  std::vector<OsFolderId> m_activeFolders;  ///< the walk's current chain
  ResourceResult m_result;
};
