// Token bucket that lets bytes pass at a line's rate. Holds at most 20 ms
// worth of bytes so that a late wake-up can catch up while bytes flow;
// Restart keeps an idle line from saving up a burst.
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
  /// The line has been idle and bytes are about to flow again: nothing is
  /// saved up from the idle time, so the first byte takes its full time on
  /// the wire from `nowUs`. Without this a pause shorter than the bucket
  /// (a tool's turnaround) would cost no line time at all.
  void Restart(uint64_t nowUs) {
    m_lastUs = nowUs;
    m_tokens = 0.0;
  }
  /// Whole bytes that may pass now.
  size_t Available() const { return static_cast<size_t>(m_tokens); }
  /// Uses up `n` bytes.
  void Spend(size_t n) { m_tokens = std::max(0.0, m_tokens - static_cast<double>(n)); }
  /// The most bytes the bucket can hold at `bytesPerSecond`.
  static size_t Cap(uint32_t bytesPerSecond) { return std::max<size_t>(1, bytesPerSecond / 50); }
  /// Bytes to move in one step: half the bucket, so that the other half can
  /// make up for a late wake-up; at least one.
  static size_t Step(uint32_t bytesPerSecond) { return std::max<size_t>(1, Cap(bytesPerSecond) / 2); }
  /// Bytes of a reply to hand over in one write: 2 ms worth, at least one.
  static size_t Piece(uint32_t bytesPerSecond) { return std::max<size_t>(1, bytesPerSecond / 500); }
  /// Microseconds until `n` bytes (at most Cap) may pass, at least 1. A byte
  /// at 57600 baud takes 174 us; waiting whole milliseconds would stretch
  /// every reply and every block.
  int64_t UsUntilBytes(size_t n, uint32_t bytesPerSecond) const {
    if (bytesPerSecond == 0) return 1000;
    const double want = static_cast<double>(std::min(std::max<size_t>(n, 1), Cap(bytesPerSecond)));
    const double need = std::max(0.0, want - m_tokens);
    return std::max<int64_t>(1, static_cast<int64_t>(need * 1e6 / bytesPerSecond + 0.999));
  }
  /// Microseconds until one more byte may pass (at least 1).
  int64_t UsUntilByte(uint32_t bytesPerSecond) const {
    return UsUntilBytes(static_cast<size_t>(m_tokens) + 1, bytesPerSecond);
  }

 private:
  uint64_t m_lastUs = 0;
  double m_tokens = 0.0;
};
