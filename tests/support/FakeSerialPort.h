// In-process serial ports for engine tests: each named device records what
// the tool writes; replies are fed straight into the entry's link by the
// test's handset model, so no receive thread ever has to read.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SerialPort.h"

struct FakeDevice {
  std::mutex lock;
  std::condition_variable cv;
  std::vector<uint8_t> written;
  size_t consumed = 0;  // bytes the handset model has taken
  bool held = false;
  bool present = true;
  bool hungUp = false;
  uint32_t mask = 0;
  int opens = 0;
};

class CFakePorts {
 public:
  CFakePorts();
  ~CFakePorts();
  /// Creates (or returns) device `name`.
  std::shared_ptr<FakeDevice> Add(const std::string& name);
  std::shared_ptr<FakeDevice> Get(const std::string& name);
  /// The device fails: a waiting receive thread ends as on a hang-up.
  void HangUp(const std::string& name);

 private:
  std::map<std::string, std::shared_ptr<FakeDevice>> m_devices;
  std::mutex m_lock;
  SerialPortFactory m_previous;
};

class CFakeSerialPort : public ISerialPort {
 public:
  explicit CFakeSerialPort(CFakePorts& ports) : m_ports(ports) {}
  bool Open(const std::string& device) override {
    auto d = m_ports.Get(device);
    if (!d) return Fail("no such device");
    std::lock_guard<std::mutex> g(d->lock);
    if (!d->present || d->held) return Fail("busy");
    d->held = true;
    d->hungUp = false;
    ++d->opens;
    std::lock_guard<std::mutex> self(m_selfLock);
    m_dev = d;
    return true;
  }
  bool IsOpen() const override { return Device() != nullptr; }
  bool SetEventMask(uint32_t mask) override {
    const std::shared_ptr<FakeDevice> d = Device();
    if (!d) return false;
    std::lock_guard<std::mutex> g(d->lock);
    d->mask = mask;
    d->cv.notify_all();
    return true;
  }
  bool SetupQueues(uint32_t, uint32_t) override { return IsOpen(); }
  bool Purge() override { return IsOpen(); }
  bool SetTimeouts(uint32_t, uint32_t) override { return IsOpen(); }
  bool ApplyLineSettings(const SerialLineSettings&) override { return IsOpen(); }
  PortWait WaitEvent() override {
    const std::shared_ptr<FakeDevice> d = Device();
    if (!d) return PortWait::MaskCleared;
    std::unique_lock<std::mutex> g(d->lock);
    d->cv.wait(g, [&] { return d->mask == 0 || d->hungUp || !d->held; });
    return d->hungUp ? PortWait::Failed : PortWait::MaskCleared;
  }
  int QueuedInput() override { return 0; }
  int Read(uint8_t*, uint32_t) override { return 0; }
  bool Write(const uint8_t* data, uint32_t count) override {
    const std::shared_ptr<FakeDevice> d = Device();
    if (!d) return false;
    std::lock_guard<std::mutex> g(d->lock);
    d->written.insert(d->written.end(), data, data + count);
    return true;
  }
  bool ClearDtrRts() override { return IsOpen(); }
  bool Close() override {
    std::shared_ptr<FakeDevice> d;
    {
      std::lock_guard<std::mutex> self(m_selfLock);
      d = std::move(m_dev);
      m_dev.reset();
    }
    if (!d) return false;
    std::lock_guard<std::mutex> g(d->lock);
    d->held = false;
    d->mask = 0;
    d->cv.notify_all();
    return true;
  }
  const std::string& LastError() const override { return m_error; }

 private:
  // The receive thread reaches the device too, while the dialog's thread
  // may be closing the port.
  std::shared_ptr<FakeDevice> Device() const {
    std::lock_guard<std::mutex> self(m_selfLock);
    return m_dev;
  }
  bool Fail(const char* why) {
    m_error = why;
    return false;
  }
  CFakePorts& m_ports;
  mutable std::mutex m_selfLock;  // guards m_dev
  std::shared_ptr<FakeDevice> m_dev;
  std::string m_error;
};

inline CFakePorts::CFakePorts() {
  m_previous = SetSerialPortFactory([this] { return std::make_unique<CFakeSerialPort>(*this); });
}
inline CFakePorts::~CFakePorts() { SetSerialPortFactory(m_previous); }
inline std::shared_ptr<FakeDevice> CFakePorts::Add(const std::string& name) {
  std::lock_guard<std::mutex> g(m_lock);
  auto& d = m_devices[name];
  if (!d) d = std::make_shared<FakeDevice>();
  return d;
}
inline std::shared_ptr<FakeDevice> CFakePorts::Get(const std::string& name) {
  std::lock_guard<std::mutex> g(m_lock);
  auto it = m_devices.find(name);
  return it == m_devices.end() ? nullptr : it->second;
}
inline void CFakePorts::HangUp(const std::string& name) {
  auto d = Get(name);
  if (!d) return;
  std::lock_guard<std::mutex> g(d->lock);
  d->hungUp = true;
  d->present = false;
  d->cv.notify_all();
}
