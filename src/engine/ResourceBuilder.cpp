#include "ResourceBuilder.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/AtomicWrite.h"
#include "DloadFile.h"
#include "platform/OsFile.h"

const char CResourceBuilder::kImageName[] = "K470_rsc.bin";

namespace {

const char kNotCreated[] = "\n Resource Binary(K470_rsc.bin) was not created.";

// ".bin" keeps earlier outputs (and the temporary file) out of the image;
// "cvs"/"CVS" keeps version-control folders out.
bool Excluded(const std::string& name) {
  return name == "." || name == ".." || name.find(".bin") != std::string::npos ||
         name.find("cvs") != std::string::npos || name.find("CVS") != std::string::npos;
}

// The folder's entries in byte order; empty when it cannot be listed (a
// dot-less file taken for a folder lands here too).
std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  OsListFolder(path, names);
  names.erase(std::remove_if(names.begin(), names.end(), Excluded), names.end());
  std::sort(names.begin(), names.end());
  return names;
}

void PutLittleEndian32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace

CResourceBuilder::CResourceBuilder(CDloadFile& measurer) : m_measurer(measurer) {}

void CResourceBuilder::SetRoot(const std::string& folder) {
  Clear();
  m_strRoot = folder;
  if (m_strRoot.empty() || !OsIsSeparator(m_strRoot.back())) m_strRoot += '/';
  m_strCanonicalRoot = OsCanonicalPath(folder);
}

void CResourceBuilder::Clear() {
  m_entries.clear();
  m_activeFolders.clear();
  m_result = ResourceResult();
}

bool CResourceBuilder::Fail(ResourceStatus status, const std::string& text) {
  m_result.status = status;
  m_result.message = text + kNotCreated;
  return false;
}

// A link is followed only when what it finally names lies inside the chosen
// folder; a dangling or looping link names nothing and is left out.
bool CResourceBuilder::FollowLink(const std::string& fullPath) const {
  if (m_strCanonicalRoot.empty()) return false;
  const std::string target = OsCanonicalPath(fullPath);
  if (target.empty()) return false;
  const std::string& root = m_strCanonicalRoot;
  // A root that ends in a separator ("/", "C:\\") holds everything below it.
  if (OsIsSeparator(root.back())) return target.size() > root.size() && target.compare(0, root.size(), root) == 0;
  return target.size() > root.size() && target.compare(0, root.size(), root) == 0 &&
         OsIsSeparator(target[root.size()]);
}

bool CResourceBuilder::CollectResourceFiles(const std::string& relative) {
  const std::string folder = m_strRoot + relative;
  OsFolderId id;
  if (!OsFolderIdOf(folder, id)) return true;
  // A folder already on the walk's chain (reached again through a link or
  // a bind mount) would repeat forever; it adds nothing a second time.
  if (std::find(m_activeFolders.begin(), m_activeFolders.end(), id) != m_activeFolders.end()) {
    return true;
  }

  const std::vector<std::string> names = ListFolder(folder);
  if (names.size() > static_cast<size_t>(MAX_FOLDER_ENTRIES)) {
    return Fail(RESOURCE_FOLDER_TOO_LARGE,
                " More than 500 entries in the folder " + folder);
  }

  m_activeFolders.push_back(id);
  bool ok = true;
  for (const std::string& name : names) {
    const std::string path = relative.empty() ? name : relative + "/" + name;
    const std::string full = m_strRoot + path;
    if (OsIsLink(full) && !FollowLink(full)) continue;
    if (path.size() > MAX_PATH_LENGTH) {
      ok = Fail(RESOURCE_PATH_TOO_LONG, " Path longer than 111 characters: " + path);
      break;
    }
    if (name.find('.') == std::string::npos) {
      if (!(ok = CollectResourceFiles(path))) break;
      continue;
    }
    if (m_entries.size() >= static_cast<size_t>(MAX_FILES)) {
      ok = Fail(RESOURCE_TOO_MANY_FILES, " More than 500 files to pack, at " + full);
      break;
    }
    ResourceEntry entry;
    entry.hostPath = path;
    entry.imagePath = path;
    entry.size = m_measurer.Load(full, IMAGE_QBFS_FILE) ? m_measurer.GetSize() : 0;
    m_entries.push_back(std::move(entry));
  }
  m_activeFolders.pop_back();
  return ok;
}

bool CResourceBuilder::CopyFileData(int out, const ResourceEntry& entry, uint8_t* buffer) {
  const std::string source = m_strRoot + entry.hostPath;
  COsFile in;
  if (!in.Open(source)) return Fail(RESOURCE_CANNOT_READ, " Fail to read from " + source);
  uint32_t left = entry.size;
  bool ok = true;
  while (left > 0 && ok) {
    const size_t want = std::min<uint32_t>(left, static_cast<uint32_t>(BLOCK_SIZE));
    const int64_t n = in.Read(buffer, want);
    // A file that shrank since it was measured would leave the directory
    // describing bytes that are not there.
    if (n <= 0) {
      ok = Fail(RESOURCE_CANNOT_READ, " Fail to read from " + source);
      break;
    }
    if (!WriteFully(out, buffer, static_cast<size_t>(n))) {
      ok = Fail(RESOURCE_CANNOT_WRITE, " Fail to write " + m_strRoot + kImageName);
      break;
    }
    left -= static_cast<uint32_t>(n);
  }
  if (!ok) return false;
  const uint32_t tail = entry.size % BLOCK_SIZE;
  if (tail != 0) {
    std::memset(buffer, 0xFF, BLOCK_SIZE - tail);
    if (!WriteFully(out, buffer, BLOCK_SIZE - tail)) {
      return Fail(RESOURCE_CANNOT_WRITE, " Fail to write " + m_strRoot + kImageName);
    }
  }
  return true;
}

bool CResourceBuilder::WriteResourceImage() {
  const std::string output = m_strRoot + kImageName;
  CAtomicFile file(output);
  if (!file.Create(0666)) return Fail(RESOURCE_CANNOT_CREATE, " Fail to create " + output);
  const int out = file.Fd();

  uint8_t buffer[BLOCK_SIZE];
  bool ok = true;
  // Directory: whole blocks of eight entries, the slots after the last
  // entry all FF, so at least one all-FF entry always ends it.
  const size_t count = m_entries.size();
  const size_t slots = (count / 8 + 1) * 8;
  for (size_t first = 0; first < slots && ok; first += 8) {
    std::memset(buffer, 0xFF, sizeof buffer);
    for (size_t k = first; k < first + 8 && k < count; ++k) {
      uint8_t* slot = buffer + (k - first) * ENTRY_SIZE;
      const std::string& name = m_entries[k].imagePath;
      std::memset(slot, 0x00, PATH_FIELD_SIZE);
      std::memcpy(slot, name.data(), std::min(name.size(), MAX_PATH_LENGTH));
      PutLittleEndian32(slot + PATH_FIELD_SIZE, m_entries[k].size);
    }
    if (!WriteFully(out, buffer, sizeof buffer)) {
      ok = Fail(RESOURCE_CANNOT_WRITE, " Fail to write " + output);
    }
  }
  for (size_t k = 0; k < count && ok; ++k) {
    if (m_entries[k].size != 0) ok = CopyFileData(out, m_entries[k], buffer);
  }
  if (!file.Close() && ok) ok = Fail(RESOURCE_CANNOT_WRITE, " Fail to write " + output);
  if (ok && !file.Replace()) ok = Fail(RESOURCE_CANNOT_CREATE, " Fail to create " + output);
  return ok;
}

ResourceResult CResourceBuilder::Build(const std::string& folder) {
  SetRoot(folder);
  const bool ok = CollectResourceFiles("") && WriteResourceImage();
  ResourceResult result = m_result;
  if (ok) result = ResourceResult();
  m_entries.clear();
  m_activeFolders.clear();
  return result;
}
