// A window that records what is posted to it and the message boxes it is
// asked to show; safe to post to from any thread. A Yes/No box gets
// `m_nAnswer`, any other box IDOK.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Window.h"

class RecordingWindow : public IWindow {
 public:
  struct Box {
    std::string text;
    uint32_t type;
  };
  bool PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard<std::mutex> g(m_lock);
    m_posted.push_back({msg, wParam, lParam, std::chrono::steady_clock::now()});
    m_cv.notify_all();
    return true;
  }
  int MessageBox(const std::string& text, uint32_t type) override {
    std::lock_guard<std::mutex> g(m_lock);
    m_boxes.push_back({text, type});
    return (type & MB_BUTTONMASK) == MB_YESNO ? m_nAnswer : IDOK;
  }
  int Count(uint32_t msg) const {
    std::lock_guard<std::mutex> g(m_lock);
    return CountLocked(msg);
  }
  /// Waits (bounded) until `msg` was posted at least `n` times.
  bool WaitCount(uint32_t msg, int n, int ms = 10000) {
    std::unique_lock<std::mutex> g(m_lock);
    return m_cv.wait_for(g, std::chrono::milliseconds(ms), [&] { return CountLocked(msg) >= n; });
  }
  bool AllParametersZero() const {
    std::lock_guard<std::mutex> g(m_lock);
    for (const Posted& p : m_posted)
      if (p.w != 0 || p.l != 0) return false;
    return true;
  }
  /// When each `msg` was posted, in order.
  std::vector<std::chrono::steady_clock::time_point> Times(uint32_t msg) const {
    std::lock_guard<std::mutex> g(m_lock);
    std::vector<std::chrono::steady_clock::time_point> times;
    for (const Posted& p : m_posted)
      if (p.msg == msg) times.push_back(p.at);
    return times;
  }
  std::vector<Box> Boxes() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_boxes;
  }

  /// Read directly only once no other thread can show a box.
  std::vector<Box> m_boxes;
  int m_nAnswer = IDNO;

 private:
  struct Posted {
    uint32_t msg;
    uintptr_t w;
    intptr_t l;
    std::chrono::steady_clock::time_point at;
  };
  int CountLocked(uint32_t msg) const {
    int n = 0;
    for (const Posted& p : m_posted) n += p.msg == msg;
    return n;
  }
  mutable std::mutex m_lock;
  std::condition_variable m_cv;
  std::vector<Posted> m_posted;
};
