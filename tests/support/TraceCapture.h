// Captures every trace text while alive (from any thread), then gives the
// previous sink back.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "link/Trace.h"

class TraceCapture {
 public:
  TraceCapture() {
    m_previous = SetTraceSink([this](std::string_view t) {
      std::lock_guard<std::mutex> g(m_lock);
      m_texts.emplace_back(t);
    });
  }
  ~TraceCapture() { SetTraceSink(m_previous); }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  /// Each text as it was traced.
  std::vector<std::string> Texts() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_texts;
  }
  /// All of them run together.
  std::string Text() const {
    std::string all;
    for (const std::string& t : Texts()) all += t;
    return all;
  }
  bool Contains(const std::string& s) const { return Text().find(s) != std::string::npos; }

 private:
  mutable std::mutex m_lock;
  std::vector<std::string> m_texts;
  TraceSink m_previous;
};
