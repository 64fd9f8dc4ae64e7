#include "platform/PortMap.h"

CPortMap& CPortMap::Instance() {
  static CPortMap map;
  return map;
}

bool CPortMap::Set(int number, const std::string& device) {
  if (number < 1 || number > MAX_COM_PORT) return false;
  std::lock_guard<std::mutex> guard(m_lock);
  m_devices[number] = device;
  return true;
}

int CPortMap::Assign(const std::string& device) {
  std::lock_guard<std::mutex> guard(m_lock);
  for (int n = 1; n <= MAX_COM_PORT; ++n)
    if (m_devices[n] == device) return n;
  for (int n = 1; n <= MAX_COM_PORT; ++n) {
    if (m_devices[n].empty()) {
      m_devices[n] = device;
      return n;
    }
  }
  return 0;
}

void CPortMap::Remove(int number) {
  if (number < 1 || number > MAX_COM_PORT) return;
  std::lock_guard<std::mutex> guard(m_lock);
  m_devices[number].clear();
}

void CPortMap::Clear() {
  std::lock_guard<std::mutex> guard(m_lock);
  for (auto& device : m_devices) device.clear();
}

std::optional<std::string> CPortMap::Device(int number) const {
  if (number < 1 || number > MAX_COM_PORT) return std::nullopt;
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_devices[number].empty()) return std::nullopt;
  return m_devices[number];
}

int CPortMap::Number(const std::string& device) const {
  if (device.empty()) return 0;
  std::lock_guard<std::mutex> guard(m_lock);
  for (int n = 1; n <= MAX_COM_PORT; ++n)
    if (m_devices[n] == device) return n;
  return 0;
}

std::vector<std::pair<int, std::string>> CPortMap::Entries() const {
  std::lock_guard<std::mutex> guard(m_lock);
  std::vector<std::pair<int, std::string>> out;
  for (int n = 1; n <= MAX_COM_PORT; ++n)
    if (!m_devices[n].empty()) out.emplace_back(n, m_devices[n]);
  return out;
}
