// Token bucket that lets bytes pass at a line's rate. Holds at most 20 ms
// worth of bytes, so an idle line does not save up a burst.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

class CSimPacer {
 public:
  /// Adds what `bytesPerSecond` allows since the last call at `nowUs`.
  void Refill(uint64_t nowUs, uint32_t bytesPerSecond) {
    if (m_lastUs == 0 || bytesPerSecond == 0) {
      m_lastUs = nowUs;
      m_tokens = bytesPerSecond == 0 ? 0.0 : m_tokens;
      return;
    }
    const double cap = std::max(1.0, bytesPerSecond / 50.0);
    m_tokens = std::min(cap, m_tokens + static_cast<double>(nowUs - m_lastUs) * bytesPerSecond / 1e6);
    m_lastUs = nowUs;
  }
  /// Whole bytes that may pass now.
  size_t Available() const { return static_cast<size_t>(m_tokens); }
  /// Uses up `n` bytes.
  void Spend(size_t n) { m_tokens = std::max(0.0, m_tokens - static_cast<double>(n)); }
  /// Milliseconds until one more byte may pass (at least 1).
  int MsUntilByte(uint32_t bytesPerSecond) const {
    if (bytesPerSecond == 0) return 1;
    const double need = 1.0 - (m_tokens - static_cast<double>(Available()));
    return std::max(1, static_cast<int>(need * 1000.0 / bytesPerSecond + 0.999));
  }

 private:
  uint64_t m_lastUs = 0;
  double m_tokens = 0.0;
};
