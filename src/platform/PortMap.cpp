#include "platform/PortMap.h"

int OsComNumber(const std::string& device) {
  static const std::string prefix = "\\\\.\\COM";
  if (device.size() <= prefix.size() || device.size() > prefix.size() + 2 || device.compare(0, prefix.size(), prefix) != 0)
    return 0;
  int n = 0;
  for (size_t i = prefix.size(); i < device.size(); ++i) {
    if (device[i] < '0' || device[i] > '9') return 0;
    n = n * 10 + (device[i] - '0');
  }
  return device[prefix.size()] != '0' && n <= MAX_COM_PORT ? n : 0;
}

CPortMap& CPortMap::Instance() {
  static CPortMap map;
  return map;
}

void CPortMap::SetStoreHooks(PortStoreHooks hooks) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_store.SetHooks(std::move(hooks));
}

bool CPortMap::Set(int number, const std::string& device) {
  if (number < 1 || number > MAX_COM_PORT) return false;
  std::lock_guard<std::mutex> guard(m_lock);
  m_slots[number] = PortClaim{device, {}, {}};
  return true;
}

int CPortMap::Assign(const std::string& device) { return Assign(PortClaim{device, {}, {}}); }

int CPortMap::Assign(const PortClaim& claim) { return AssignAll({claim}).front(); }

std::vector<int> CPortMap::AssignAll(const std::vector<PortClaim>& claims) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_store.Refresh();
  std::set<std::string> present;
  for (int n = 1; n <= MAX_COM_PORT; ++n)
    if (!m_slots[n].identity.empty()) present.insert(m_slots[n].identity);
  for (const auto& c : claims)
    if (!c.identity.empty()) present.insert(c.identity);
  std::vector<int> numbers;
  for (const auto& c : claims) numbers.push_back(c.device.empty() ? 0 : AssignLocked(c, present));
  m_store.Save();
  return numbers;
}

void CPortMap::TakeLocked(int number, const PortClaim& claim) {
  m_slots[number] = claim;
  if (!claim.identity.empty()) m_store.Keep(claim.identity, number);
}

int CPortMap::AssignLocked(const PortClaim& claim, const std::set<std::string>& present) {
  if (const int os = OsComNumber(claim.device)) {
    m_slots[os] = claim;
    return os;
  }
  const std::string& id = claim.identity;
  for (int n = 1; n <= MAX_COM_PORT; ++n) {
    PortClaim& slot = m_slots[n];
    if (slot.device != claim.device) continue;
    if (slot.identity == id) {
      slot.socket = claim.socket;
      // Still this run's number, even if the store lost it meanwhile (it was
      // forgotten or taken elsewhere): what the entries hold stays true.
      if (!id.empty() && m_store.NumberOf(id) != n) m_store.Keep(id, n);
      return n;
    }
    // The name now stands for another port: the old one has gone.
    if (!slot.identity.empty()) m_store.Touch(slot.identity);
    slot = PortClaim{};
  }
  if (!id.empty()) {
    // The same port under a new name (it was replugged before its removal
    // was seen).
    for (int n = 1; n <= MAX_COM_PORT; ++n) {
      if (m_slots[n].identity != id) continue;
      m_slots[n].device = claim.device;
      m_slots[n].socket = claim.socket;
      m_store.Touch(id);
      return n;
    }
    const int kept = m_store.NumberOf(id);
    if (kept != 0 && m_slots[kept].device.empty()) {
      TakeLocked(kept, claim);
      return kept;
    }
  }
  for (int n = 1; n <= MAX_COM_PORT; ++n) {
    if (m_slots[n].device.empty() && !m_store.HeldByOther(n, id)) {
      TakeLocked(n, claim);
      return n;
    }
  }
  // Every number is mapped or kept: the identity seen longest ago that is
  // not here gives its number up.
  for (int n; (n = m_store.Evict(present)) != 0;) {
    if (m_slots[n].device.empty()) {
      TakeLocked(n, claim);
      return n;
    }
  }
  return 0;
}

void CPortMap::Remove(int number) {
  if (number < 1 || number > MAX_COM_PORT) return;
  std::lock_guard<std::mutex> guard(m_lock);
  const std::string id = m_slots[number].identity;
  m_slots[number] = PortClaim{};
  if (id.empty()) return;
  m_store.Refresh();
  m_store.Touch(id);
  m_store.Save();
}

void CPortMap::Clear() {
  std::lock_guard<std::mutex> guard(m_lock);
  for (auto& slot : m_slots) slot = PortClaim{};
}

int CPortMap::ForgetStored() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_store.Refresh();
  const int n = m_store.Clear();
  const bool saved = m_store.Save();
  for (auto& slot : m_slots)
    if (!slot.identity.empty()) slot = PortClaim{};
  return saved ? n : -1;
}

int CPortMap::StoredCount() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_store.Refresh();
  return static_cast<int>(m_store.Records().size());
}

std::optional<std::string> CPortMap::Device(int number) const {
  if (number < 1 || number > MAX_COM_PORT) return std::nullopt;
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_slots[number].device.empty()) return m_slots[number].device;
#ifdef _WIN32
  // The system numbers its ports: a number nothing was bound to is its own
  // port of that number (the window binds what WM_DEVICECHANGE names, the
  // manual list what the operator picks).
  return "\\\\.\\COM" + std::to_string(number);
#else
  return std::nullopt;
#endif
}

std::string CPortMap::Socket(int number) const {
  if (number < 1 || number > MAX_COM_PORT) return std::string();
  std::lock_guard<std::mutex> guard(m_lock);
  return m_slots[number].socket;
}

int CPortMap::Number(const std::string& device) const {
  if (device.empty()) return 0;
  std::lock_guard<std::mutex> guard(m_lock);
  for (int n = 1; n <= MAX_COM_PORT; ++n)
    if (m_slots[n].device == device) return n;
  return 0;
}

std::vector<std::pair<int, std::string>> CPortMap::Entries() const {
  std::lock_guard<std::mutex> guard(m_lock);
  std::vector<std::pair<int, std::string>> out;
  for (int n = 1; n <= MAX_COM_PORT; ++n)
    if (!m_slots[n].device.empty()) out.emplace_back(n, m_slots[n].device);
  return out;
}
