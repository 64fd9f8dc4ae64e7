// In-process serial ports. Each named device records what the tool did with
// it (set-up calls, writes), holds what it is to read (in chunks, at most one
// chunk a Read), and can be told to fail any step. Its state outlives the
// port objects the links own. Engine tests feed replies straight into the
// entry's link instead, so their receive threads only ever wait.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SerialPort.h"

using Bytes = std::vector<uint8_t>;

struct FakeDevice {
  std::mutex lock;
  std::condition_variable cv;
  // ---- what the tool did ----
  std::vector<std::string> calls;  // "Open <device>", "Mask 1", ..., "Close"
  std::vector<Bytes> writes;       // one per Write
  std::vector<uint8_t> written;    // every Write run together
  size_t consumed = 0;             // bytes of `written` a handset model has taken
  SerialLineSettings settings;
  int opens = 0;
  int waits = 0;  // WaitEvent entries, for tests that follow the bursts
  int waitFors = 0;  // WaitEventFor entries (waits inside a burst)
  int reads = 0;     // Read and QueuedInput calls
  std::chrono::steady_clock::time_point fedAt;  // the last Feed
  /// While set, a WaitEventFor never runs out of time: the line is never
  /// quiet for long enough, however slowly the test goes on. Cleared, the
  /// waits it holds run out at once.
  bool holdQuiet = false;
  // ---- its state ----
  std::deque<Bytes> input;
  bool open = false;
  bool present = true;
  bool hungUp = false;
  uint32_t mask = 0;
  bool failOpen = false, failApply = false, failWrite = false, failRead = false, failMask = false,
       failClose = false;
  /// Runs at the start of every Open, on the opening thread, outside the lock.
  std::function<void()> onOpen;

  void Feed(std::vector<Bytes> chunks) {
    std::lock_guard<std::mutex> g(lock);
    for (auto& c : chunks) input.push_back(std::move(c));
    fedAt = std::chrono::steady_clock::now();
    cv.notify_all();
  }
  void HoldQuiet(bool hold) {
    std::lock_guard<std::mutex> g(lock);
    holdQuiet = hold;
    cv.notify_all();
  }
  /// Waits (bounded) until a burst's wait for more has begun `n` times and
  /// everything fed was read.
  bool WaitForWaitFors(int n, int ms = 10000) {
    std::unique_lock<std::mutex> g(lock);
    return cv.wait_for(g, std::chrono::milliseconds(ms), [&] { return waitFors >= n && input.empty(); });
  }
  /// All calls of the receive side so far: a thread that spins moves it.
  int PortCalls() {
    std::lock_guard<std::mutex> g(lock);
    return waits + waitFors + reads;
  }
  /// Waits (bounded) until the receive thread entered WaitEvent `n` times
  /// and has read everything fed.
  bool WaitForWaits(int n, int ms = 10000) {
    std::unique_lock<std::mutex> g(lock);
    return cv.wait_for(g, std::chrono::milliseconds(ms), [&] { return waits >= n && input.empty(); });
  }
  int QueuedInputForTest() {
    std::lock_guard<std::mutex> g(lock);
    return QueuedLocked();
  }
  int QueuedLocked() const {
    int n = 0;
    for (const auto& c : input) n += static_cast<int>(c.size());
    return n;
  }
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> g(lock);
    return calls;
  }
  std::vector<Bytes> Writes() {
    std::lock_guard<std::mutex> g(lock);
    return writes;
  }
  /// The line fails: a waiting receive thread ends as on a hang-up.
  void HangUp() {
    std::lock_guard<std::mutex> g(lock);
    hungUp = true;
    cv.notify_all();
  }
};

/// Installs a factory of fake ports on its devices while alive.
class CFakePorts {
 public:
  CFakePorts();
  ~CFakePorts();
  /// Creates (or returns) device `name`.
  std::shared_ptr<FakeDevice> Add(const std::string& name);
  std::shared_ptr<FakeDevice> Get(const std::string& name);
  /// The device fails and is gone: it cannot be opened again.
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
    if (d->onOpen) d->onOpen();
    std::lock_guard<std::mutex> g(d->lock);
    d->calls.push_back("Open " + device);
    if (d->failOpen || !d->present || d->open) return Fail("busy");
    d->open = true;
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
    d->calls.push_back("Mask " + std::to_string(mask));
    if (d->failMask) return false;
    d->mask = mask;
    d->cv.notify_all();
    return true;
  }
  bool SetupQueues(uint32_t in, uint32_t out) override {
    return Note("Queues " + std::to_string(in) + " " + std::to_string(out));
  }
  /// Drops what arrived and was not read yet, as a real purge does.
  bool Purge() override {
    if (!Note("Purge")) return false;
    const std::shared_ptr<FakeDevice> d = Device();
    std::lock_guard<std::mutex> g(d->lock);
    d->input.clear();
    return true;
  }
  bool SetTimeouts(uint32_t r, uint32_t w) override {
    return Note("Timeouts " + std::to_string(r) + " " + std::to_string(w));
  }
  bool ApplyLineSettings(const SerialLineSettings& s) override {
    const std::shared_ptr<FakeDevice> d = Device();
    if (!d) return false;
    std::lock_guard<std::mutex> g(d->lock);
    d->calls.push_back("Apply");
    d->settings = s;
    return !d->failApply;
  }
  PortWait WaitEvent() override {
    const std::shared_ptr<FakeDevice> d = Device();
    if (!d) return PortWait::MaskCleared;
    std::unique_lock<std::mutex> g(d->lock);
    ++d->waits;
    d->cv.notify_all();
    d->cv.wait(g, [&] { return WaitEnds(*d); });
    return WaitResult(*d);
  }
  PortWait WaitEventFor(uint32_t timeoutMs) override {
    const std::shared_ptr<FakeDevice> d = Device();
    if (!d) return PortWait::MaskCleared;
    std::unique_lock<std::mutex> g(d->lock);
    ++d->waitFors;
    d->cv.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!WaitEnds(*d)) {
      if (d->holdQuiet) {
        d->cv.wait(g);
      } else if (d->cv.wait_until(g, deadline) == std::cv_status::timeout && !WaitEnds(*d)) {
        return PortWait::TimedOut;
      }
    }
    return WaitResult(*d);
  }
  int QueuedInput() override {
    const std::shared_ptr<FakeDevice> d = Device();
    if (!d) return 0;
    std::lock_guard<std::mutex> g(d->lock);
    ++d->reads;
    return d->QueuedLocked();
  }
  int Read(uint8_t* buffer, uint32_t count) override {
    const std::shared_ptr<FakeDevice> d = Device();
    if (!d) return -1;
    std::lock_guard<std::mutex> g(d->lock);
    ++d->reads;
    if (d->failRead) return -1;
    if (d->input.empty()) return 0;
    Bytes& front = d->input.front();
    const uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(front.size()));
    std::copy(front.begin(), front.begin() + n, buffer);
    front.erase(front.begin(), front.begin() + n);
    if (front.empty()) d->input.pop_front();
    d->cv.notify_all();
    return static_cast<int>(n);
  }
  bool Write(const uint8_t* data, uint32_t count) override {
    const std::shared_ptr<FakeDevice> d = Device();
    if (!d) return false;
    std::lock_guard<std::mutex> g(d->lock);
    if (d->failWrite) return false;
    d->writes.emplace_back(data, data + count);
    d->written.insert(d->written.end(), data, data + count);
    return true;
  }
  bool ClearDtrRts() override { return Note("DtrRts"); }
  bool Close() override {
    std::shared_ptr<FakeDevice> d;
    {
      std::lock_guard<std::mutex> self(m_selfLock);
      d = std::move(m_dev);
      m_dev.reset();
    }
    if (!d) return false;
    std::lock_guard<std::mutex> g(d->lock);
    d->calls.push_back("Close");
    d->open = false;
    d->mask = 0;
    d->cv.notify_all();
    return !d->failClose;
  }
  const std::string& LastError() const override { return m_error; }

 private:
  static bool WaitEnds(const FakeDevice& d) {
    return !d.open || d.mask == 0 || d.hungUp || ((d.mask & EV_RXCHAR) && !d.input.empty());
  }
  static PortWait WaitResult(const FakeDevice& d) {
    if (d.hungUp) return PortWait::Failed;
    if (!d.open || d.mask == 0) return PortWait::MaskCleared;
    return PortWait::RxChar;
  }
  // The receive thread reaches the device too, while the dialog's thread
  // may be closing the port.
  std::shared_ptr<FakeDevice> Device() const {
    std::lock_guard<std::mutex> self(m_selfLock);
    return m_dev;
  }
  bool Note(const std::string& call) {
    const std::shared_ptr<FakeDevice> d = Device();
    if (!d) return false;
    std::lock_guard<std::mutex> g(d->lock);
    d->calls.push_back(call);
    return true;
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
  d->HangUp();
  std::lock_guard<std::mutex> g(d->lock);
  d->present = false;
}
