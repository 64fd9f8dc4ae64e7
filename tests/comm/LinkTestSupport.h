// Test doubles for the serial link: a window that records what is posted to
// it, a trace capture, and a scripted serial port whose state outlives the
// port object the link owns.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Window.h"
#include "comm/Trace.h"
#include "platform/SerialPort.h"

using Bytes = std::vector<uint8_t>;

/// Records posted messages and message boxes; safe to post from any thread.
class TestWindow : public IWindow {
 public:
  bool PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard<std::mutex> g(m_lock);
    m_posted.push_back({msg, wParam, lParam});
    m_cv.notify_all();
    return true;
  }
  int MessageBox(const std::string& text, uint32_t type) override {
    std::lock_guard<std::mutex> g(m_lock);
    m_boxes.emplace_back(text, type);
    return IDOK;
  }
  int Count(uint32_t msg) const {
    std::lock_guard<std::mutex> g(m_lock);
    int n = 0;
    for (const auto& p : m_posted) n += p.msg == msg;
    return n;
  }
  /// Waits (bounded) until `msg` was posted at least `n` times.
  bool WaitCount(uint32_t msg, int n, int ms = 2000) {
    std::unique_lock<std::mutex> g(m_lock);
    return m_cv.wait_for(g, std::chrono::milliseconds(ms), [&] {
      int k = 0;
      for (const auto& p : m_posted) k += p.msg == msg;
      return k >= n;
    });
  }
  bool AllParametersZero() const {
    std::lock_guard<std::mutex> g(m_lock);
    for (const auto& p : m_posted)
      if (p.w != 0 || p.l != 0) return false;
    return true;
  }
  std::vector<std::pair<std::string, uint32_t>> Boxes() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_boxes;
  }

 private:
  struct Posted {
    uint32_t msg;
    uintptr_t w;
    intptr_t l;
  };
  mutable std::mutex m_lock;
  std::condition_variable m_cv;
  std::vector<Posted> m_posted;
  std::vector<std::pair<std::string, uint32_t>> m_boxes;
};

/// Captures every trace text while alive.
class TraceCapture {
 public:
  TraceCapture() {
    m_previous = SetTraceSink([this](std::string_view t) {
      std::lock_guard<std::mutex> g(m_lock);
      m_text.append(t);
    });
  }
  ~TraceCapture() { SetTraceSink(m_previous); }
  std::string Text() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_text;
  }
  bool Contains(const std::string& s) const { return Text().find(s) != std::string::npos; }

 private:
  mutable std::mutex m_lock;
  std::string m_text;
  TraceSink m_previous;
};

/// The device behind a scripted port: what was called and written, what is
/// queued for reading (in chunks, one chunk at most per Read), and which
/// operations fail.
struct FakeLine {
  std::mutex lock;
  std::condition_variable cv;
  std::vector<std::string> calls;
  std::vector<Bytes> writes;
  std::deque<Bytes> input;
  SerialLineSettings settings;
  bool open = false;
  bool hungUp = false;
  uint32_t mask = 0;
  int waits = 0;  // WaitEvent entries, for tests that follow the bursts
  bool failOpen = false, failApply = false, failWrite = false, failRead = false, failMask = false,
       failClose = false;

  void Feed(std::vector<Bytes> chunks) {
    std::lock_guard<std::mutex> g(lock);
    for (auto& c : chunks) input.push_back(std::move(c));
    cv.notify_all();
  }
  bool WaitForWaits(int n, int ms = 2000) {
    std::unique_lock<std::mutex> g(lock);
    return cv.wait_for(g, std::chrono::milliseconds(ms), [&] { return waits >= n && input.empty(); });
  }
  int QueuedInputForTest() {
    std::lock_guard<std::mutex> g(lock);
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
  void HangUp() {
    std::lock_guard<std::mutex> g(lock);
    hungUp = true;
    cv.notify_all();
  }
};

class ScriptedPort : public ISerialPort {
 public:
  explicit ScriptedPort(std::shared_ptr<FakeLine> line) : m_line(std::move(line)) {}
  bool Open(const std::string& device) override {
    std::lock_guard<std::mutex> g(m_line->lock);
    m_line->calls.push_back("Open " + device);
    if (m_line->failOpen || m_line->open) return false;
    m_line->open = true;
    m_line->hungUp = false;
    return true;
  }
  bool IsOpen() const override {
    std::lock_guard<std::mutex> g(m_line->lock);
    return m_line->open;
  }
  bool SetEventMask(uint32_t mask) override {
    std::lock_guard<std::mutex> g(m_line->lock);
    m_line->calls.push_back("Mask " + std::to_string(mask));
    if (!m_line->open || m_line->failMask) return false;
    m_line->mask = mask;
    m_line->cv.notify_all();
    return true;
  }
  bool SetupQueues(uint32_t in, uint32_t out) override {
    return Note("Queues " + std::to_string(in) + " " + std::to_string(out));
  }
  bool Purge() override { return Note("Purge"); }
  bool SetTimeouts(uint32_t r, uint32_t w) override {
    return Note("Timeouts " + std::to_string(r) + " " + std::to_string(w));
  }
  bool ApplyLineSettings(const SerialLineSettings& s) override {
    std::lock_guard<std::mutex> g(m_line->lock);
    m_line->calls.push_back("Apply");
    m_line->settings = s;
    return m_line->open && !m_line->failApply;
  }
  PortWait WaitEvent() override {
    std::unique_lock<std::mutex> g(m_line->lock);
    ++m_line->waits;
    m_line->cv.notify_all();
    m_line->cv.wait(g, [&] {
      return !m_line->open || m_line->mask == 0 || m_line->hungUp ||
             ((m_line->mask & EV_RXCHAR) && !m_line->input.empty());
    });
    if (m_line->hungUp) return PortWait::Failed;
    if (!m_line->open || m_line->mask == 0) return PortWait::MaskCleared;
    return PortWait::RxChar;
  }
  int QueuedInput() override {
    std::lock_guard<std::mutex> g(m_line->lock);
    int n = 0;
    for (const auto& c : m_line->input) n += static_cast<int>(c.size());
    return n;
  }
  int Read(uint8_t* buffer, uint32_t count) override {
    std::lock_guard<std::mutex> g(m_line->lock);
    if (m_line->failRead) return -1;
    if (m_line->input.empty()) return 0;
    Bytes& front = m_line->input.front();
    const uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(front.size()));
    std::copy(front.begin(), front.begin() + n, buffer);
    front.erase(front.begin(), front.begin() + n);
    if (front.empty()) m_line->input.pop_front();
    m_line->cv.notify_all();
    return static_cast<int>(n);
  }
  bool Write(const uint8_t* data, uint32_t count) override {
    std::lock_guard<std::mutex> g(m_line->lock);
    if (!m_line->open || m_line->failWrite) return false;
    m_line->writes.emplace_back(data, data + count);
    return true;
  }
  bool ClearDtrRts() override { return Note("DtrRts"); }
  bool Close() override {
    std::lock_guard<std::mutex> g(m_line->lock);
    m_line->calls.push_back("Close");
    const bool wasOpen = m_line->open;
    m_line->open = false;
    m_line->mask = 0;
    m_line->cv.notify_all();
    return wasOpen && !m_line->failClose;
  }
  const std::string& LastError() const override { return m_error; }

 private:
  bool Note(const std::string& call) {
    std::lock_guard<std::mutex> g(m_line->lock);
    m_line->calls.push_back(call);
    return m_line->open;
  }
  std::shared_ptr<FakeLine> m_line;
  std::string m_error;
};

/// Installs a factory of scripted ports on one shared line while alive.
class ScriptedPorts {
 public:
  ScriptedPorts() : line(std::make_shared<FakeLine>()) {
    m_previous = SetSerialPortFactory([l = line] { return std::make_unique<ScriptedPort>(l); });
  }
  ~ScriptedPorts() { SetSerialPortFactory(m_previous); }
  std::shared_ptr<FakeLine> line;

 private:
  SerialPortFactory m_previous;
};
