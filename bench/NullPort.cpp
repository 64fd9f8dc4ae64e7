#include "NullPort.h"

#include <memory>

#include "platform/PortMap.h"

bool CNullPort::Open(const std::string& device) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_bOpen) {
    m_strError = "already open: " + device;
    return false;
  }
  m_bOpen = true;
  m_mask = 0;
  return true;
}

bool CNullPort::IsOpen() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_bOpen;
}

bool CNullPort::SetEventMask(uint32_t mask) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_bOpen) return false;
    m_mask = mask;
  }
  m_cv.notify_all();
  return true;
}

PortWait CNullPort::WaitEvent() {
  std::unique_lock<std::mutex> lock(m_lock);
  m_cv.wait(lock, [this] { return !m_bOpen || m_mask == 0; });
  return PortWait::MaskCleared;
}

bool CNullPort::Write(const uint8_t* data, uint32_t count) {
  (void)data;
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_bOpen) return false;
  m_nWritten += count;
  return true;
}

bool CNullPort::Close() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_bOpen) return false;
    m_bOpen = false;
  }
  m_cv.notify_all();
  return true;
}

CNullPorts::CNullPorts(int count) : m_nCount(count) {
  m_previous = SetSerialPortFactory([] { return std::make_unique<CNullPort>(); });
  for (int k = 1; k <= count; ++k) CPortMap::Instance().Set(k, "null:COM" + std::to_string(k));
}

CNullPorts::~CNullPorts() {
  for (int k = 1; k <= m_nCount; ++k) CPortMap::Instance().Remove(k);
  SetSerialPortFactory(m_previous);
}
