#include "platform/PortStore.h"

#include <algorithm>
#include <cstdlib>

#include "platform/PortMap.h"

namespace {

/// Reads the decimal digits of `text` from `at`; false when there are none
/// or too many to be one of ours.
bool ReadNumber(const std::string& text, size_t& at, uint64_t& out, size_t maxDigits) {
  const size_t start = at;
  out = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < maxDigits)
    out = out * 10 + static_cast<uint64_t>(text[at++] - '0');
  return at > start && !(at < text.size() && text[at] >= '0' && text[at] <= '9');
}

}  // namespace

std::string PortIdentityKey(const PortIdentity& identity, PortIdentityKind kind) {
  if (kind == PortIdentityKind::Serial) return identity.byId.empty() ? std::string() : "serial:" + identity.byId.front();
  return identity.byPath.empty() ? std::string() : "path:" + identity.byPath.front();
}

std::string PortSocketName(const PortIdentity& identity) {
  return identity.byPath.empty() ? std::string() : identity.byPath.front();
}

void CPortStore::SetHooks(PortStoreHooks hooks) {
  m_hooks = std::move(hooks);
  m_reportedUnreadable = m_reportedUnwritable = false;
}

void CPortStore::TraceOnce(bool& reported, const std::string& line) {
  if (reported) return;
  reported = true;
  if (m_hooks.trace) m_hooks.trace(line);
}

void CPortStore::Refresh() {
  if (!m_hooks.load) return;
  std::vector<std::string> lines;
  if (m_hooks.load(lines) != PortStoreLoad::Loaded) {
    TraceOnce(m_reportedUnreadable, "Port numbers: the store cannot be read; numbers are kept for this run only\n");
    return;
  }
  m_reportedUnreadable = false;
  std::vector<PortRecord> records;
  const bool clean = Parse(lines, records);
  m_records = std::move(records);
  m_dirty = false;
  if (!clean) {
    // Said once: the rebuilt store parses cleanly next time.
    if (m_hooks.trace) m_hooks.trace("Port numbers: the store was damaged; rebuilt from its readable lines\n");
    m_dirty = true;
    Save();
  }
}

int CPortStore::NumberOf(const std::string& identity) const {
  for (const auto& r : m_records)
    if (r.identity == identity) return r.number;
  return 0;
}

bool CPortStore::HeldByOther(int number, const std::string& identity) const {
  return std::any_of(m_records.begin(), m_records.end(),
                     [&](const PortRecord& r) { return r.number == number && r.identity != identity; });
}

uint64_t CPortStore::NextStamp() const {
  uint64_t top = 0;
  for (const auto& r : m_records) top = std::max(top, r.seen);
  return top + 1;
}

void CPortStore::Keep(const std::string& identity, int number) {
  if (identity.empty() || number < 1 || number > MAX_COM_PORT) return;
  const uint64_t stamp = NextStamp();
  m_records.erase(std::remove_if(m_records.begin(), m_records.end(),
                                 [&](const PortRecord& r) { return r.number == number || r.identity == identity; }),
                  m_records.end());
  m_records.push_back({number, stamp, identity});
  m_dirty = true;
}

void CPortStore::Touch(const std::string& identity) {
  const uint64_t stamp = NextStamp();
  for (auto& r : m_records) {
    if (r.identity != identity) continue;
    r.seen = stamp;
    m_dirty = true;
  }
}

int CPortStore::Evict(const std::set<std::string>& present) {
  auto oldest = m_records.end();
  for (auto it = m_records.begin(); it != m_records.end(); ++it)
    if (!present.count(it->identity) && (oldest == m_records.end() || it->seen < oldest->seen)) oldest = it;
  if (oldest == m_records.end()) return 0;
  const int number = oldest->number;
  m_records.erase(oldest);
  m_dirty = true;
  return number;
}

int CPortStore::Clear() {
  const int n = static_cast<int>(m_records.size());
  m_records.clear();
  m_dirty = true;
  return n;
}

bool CPortStore::Save() {
  if (!m_dirty || !m_hooks.save) return true;
  if (m_hooks.save(Format(m_records))) {
    m_dirty = false;
    m_reportedUnwritable = false;
    return true;
  }
  TraceOnce(m_reportedUnwritable, "Port numbers: the store cannot be written; numbers are kept for this run only\n");
  return false;
}

std::vector<std::string> CPortStore::Format(const std::vector<PortRecord>& records) {
  std::vector<PortRecord> sorted = records;
  std::sort(sorted.begin(), sorted.end(), [](const PortRecord& a, const PortRecord& b) { return a.number < b.number; });
  std::vector<std::string> lines;
  for (const auto& r : sorted)
    lines.push_back("COM" + std::to_string(r.number) + "=" + std::to_string(r.seen) + " " + r.identity);
  return lines;
}

bool CPortStore::Parse(const std::vector<std::string>& lines, std::vector<PortRecord>& records) {
  records.clear();
  bool clean = true;
  for (const std::string& line : lines) {
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    // COM<number>=<seen> <identity>
    size_t at = 3;
    uint64_t number = 0, seen = 0;
    const bool ok = line.compare(0, 3, "COM") == 0 && ReadNumber(line, at, number, 2) && number >= 1 &&
                    number <= MAX_COM_PORT && at < line.size() && line[at++] == '=' &&
                    ReadNumber(line, at, seen, 18) && at < line.size() && line[at++] == ' ' && at < line.size() &&
                    line.size() - at <= MAX_PORT_NAME_LENGTH + 8;
    const std::string identity = ok ? line.substr(at) : std::string();
    const bool repeated = ok && std::any_of(records.begin(), records.end(), [&](const PortRecord& r) {
      return r.number == static_cast<int>(number) || r.identity == identity;
    });
    if (!ok || repeated) {
      clean = false;
      continue;
    }
    records.push_back({static_cast<int>(number), seen, identity});
  }
  return clean;
}
