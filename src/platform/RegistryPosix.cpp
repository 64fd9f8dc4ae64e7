#include "platform/Registry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <vector>

#include "platform/AtomicWrite.h"

namespace {

const char kSection[] = "[VELMORA]";

std::mutex g_pathLock;
std::string g_storePath;  // empty: the default location

std::string DefaultStorePath() {
  if (const char* explicitPath = std::getenv("VELMORA_SETTINGS"); explicitPath && *explicitPath) {
    return explicitPath;
  }
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
    return std::string(config) + "/velmora/settings.ini";
  }
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.config/velmora/settings.ini";
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// A name that would not read back as the same name=value line is refused.
bool ValidName(const std::string& name) {
  return !name.empty() && !HasLineBreak(name) && name.find('=') == std::string::npos &&
         name.front() != '[';
}

bool IsSectionLine(const std::string& line) {
  return !line.empty() && line.front() == '[';
}

std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  std::istringstream in(content);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The whole store; false when it exists but cannot be read.
bool ReadStore(const std::string& path, std::string& content, bool& exists) {
  content.clear();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    exists = false;
    return errno == ENOENT;
  }
  exists = true;
  if (!S_ISREG(st.st_mode)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  if (in.bad()) return false;
  content = all.str();
  return true;
}

// Creates every missing folder above `path`.
bool MakeParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Replaces the store in one step: readers see the old file or the new one,
// never a half-written one.
bool ReplaceStore(const std::string& path, const std::string& content) {
  if (!MakeParents(path)) return false;
  // The new file keeps the old one's permissions: one readable by its owner
  // only (it may name a database with its password) must stay so.
  struct stat st {};
  const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644;
  CAtomicFile file(path);
  if (!file.Create(mode)) return false;
  bool ok = WriteFully(file.Fd(), content.data(), content.size()) && file.Sync();
  ok = file.Close() && ok;
  return ok && file.Replace();
}

}  // namespace

void CRegistry::SetStorePath(const std::string& path) {
  std::lock_guard<std::mutex> guard(g_pathLock);
  g_storePath = path;
}

std::string CRegistry::StorePath() {
  std::lock_guard<std::mutex> guard(g_pathLock);
  return g_storePath.empty() ? DefaultStorePath() : g_storePath;
}

std::string CRegistry::ReadString(const std::string& valueName, size_t maxLength) {
  if (!ValidName(valueName)) return std::string();
  std::string content;
  bool exists = false;
  if (!ReadStore(StorePath(), content, exists) || !exists) return std::string();

  bool inSection = false;
  const std::string prefix = valueName + "=";
  for (const std::string& line : SplitLines(content)) {
    if (IsSectionLine(line)) {
      inSection = (line == kSection);
      continue;
    }
    if (inSection && line.compare(0, prefix.size(), prefix) == 0) {
      std::string value = line.substr(prefix.size());
      // A hand-edited value the dialog could never have stored is not used.
      if (value.size() > maxLength) return std::string();
      return value;
    }
  }
  return std::string();
}

bool CRegistry::WriteString(const std::string& valueName, const std::string& value) {
  if (!ValidName(valueName) || HasLineBreak(value) || value.size() > MAX_VALUE_LENGTH) return false;
  const std::string path = StorePath();
  std::string content;
  bool exists = false;
  if (!ReadStore(path, content, exists)) return false;

  std::vector<std::string> lines = SplitLines(content);
  const std::string prefix = valueName + "=";
  const std::string entry = prefix + value;
  bool inSection = false, done = false;
  size_t sectionEnd = lines.size();  // where a new value of the section goes
  bool sectionFound = false;
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    if (IsSectionLine(lines[i])) {
      if (inSection) {
        sectionEnd = i;
        break;
      }
      inSection = (lines[i] == kSection);
      sectionFound = sectionFound || inSection;
      continue;
    }
    if (inSection && lines[i].compare(0, prefix.size(), prefix) == 0) {
      lines[i] = entry;
      done = true;
    }
  }
  if (!done) {
    if (sectionFound) {
      // Keep blank lines that close the section after the new value.
      size_t at = sectionEnd;
      while (at > 0 && lines[at - 1].empty()) --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    } else {
      lines.push_back(kSection);
      lines.push_back(entry);
    }
  }

  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return ReplaceStore(path, out);
}

bool CRegistry::ReadSection(const std::string& name, std::vector<std::string>& lines) {
  lines.clear();
  std::string content;
  bool exists = false;
  if (!ReadStore(StorePath(), content, exists)) return false;
  const std::string header = "[" + name + "]";
  bool inSection = false;
  for (const std::string& line : SplitLines(content)) {
    if (IsSectionLine(line))
      inSection = (line == header);
    else if (inSection && !line.empty())
      lines.push_back(line);
  }
  return true;
}

bool CRegistry::WriteSection(const std::string& name, const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    if (HasLineBreak(line) || IsSectionLine(line)) return false;
  const std::string path = StorePath();
  std::string content;
  bool exists = false;
  if (!ReadStore(path, content, exists)) return false;
  const std::string header = "[" + name + "]";
  std::vector<std::string> out;
  bool inSection = false;
  for (const std::string& line : SplitLines(content)) {
    if (IsSectionLine(line)) inSection = (line == header);
    if (!inSection) out.push_back(line);
  }
  if (!lines.empty()) {
    if (!out.empty() && !out.back().empty()) out.push_back("");
    out.push_back(header);
    out.insert(out.end(), lines.begin(), lines.end());
  }
  std::string text;
  for (const std::string& line : out) text += line + "\n";
  return ReplaceStore(path, text);
}
