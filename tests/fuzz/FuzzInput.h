// Reads a fuzzer's bytes as a little script: numbers, choices and byte runs
// taken from the front, defaults once the input is used up, so every input
// is a valid script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CFuzzInput {
 public:
  CFuzzInput(const uint8_t* data, size_t size) : m_p(data), m_n(size) {}

  /// True while unread bytes remain.
  bool More() const { return m_at < m_n; }

  /// The next byte, 0 once the input is used up.
  uint8_t Byte() { return More() ? m_p[m_at++] : 0; }

  /// A little-endian 16-bit number.
  uint16_t U16() {
    const uint16_t lo = Byte();
    return static_cast<uint16_t>(lo | (Byte() << 8));
  }

  /// A little-endian 32-bit number.
  uint32_t U32() {
    const uint32_t lo = U16();
    return lo | (static_cast<uint32_t>(U16()) << 16);
  }

  /// A number in [0, n) for n > 0.
  unsigned Pick(unsigned n) { return n <= 256 ? Byte() % n : U16() % n; }

  /// Up to `n` bytes (fewer at the end of the input).
  std::vector<uint8_t> Bytes(size_t n) {
    const size_t take = n < m_n - m_at ? n : m_n - m_at;
    std::vector<uint8_t> out(m_p + m_at, m_p + m_at + take);
    m_at += take;
    return out;
  }

  /// Everything not read yet.
  std::vector<uint8_t> Rest() { return Bytes(m_n - m_at); }

 private:
  const uint8_t* m_p;
  size_t m_n;
  size_t m_at = 0;
};

/// Each target's seed corpus, built from the same inputs as the unit tests.
std::vector<std::vector<uint8_t>> FuzzSeeds();

/// A broken expectation: reported and turned into a crash the fuzzer keeps.
[[noreturn]] void FuzzFail(const char* what);

#define FUZZ_CHECK(cond)                                  \
  do {                                                    \
    if (!(cond)) FuzzFail(__FILE__ ": check failed: " #cond); \
  } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
