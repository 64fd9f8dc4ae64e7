// A handset's flash: sparse 4 KiB pages, every byte never written reads FF
// (the erased state), so even a 16 MiB erase costs nothing.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

class CSimFlash {
 public:
  /// Sets `length` bytes from `start` to `value` (FF for an erase).
  void Fill(uint32_t start, uint32_t length, uint8_t value);

  /// Stores `n` bytes at `address`.
  void Write(uint32_t address, const uint8_t* data, uint32_t n);

  /// The byte at `address`.
  uint8_t At(uint32_t address) const;

  /// `n` bytes from `address`.
  std::vector<uint8_t> Read(uint32_t address, uint32_t n) const;

  /// One past the highest address written with Write (0 when none).
  uint64_t End() const { return m_nEnd; }

 private:
  static constexpr uint32_t kPage = 4096;
  using Page = std::array<uint8_t, kPage>;
  Page& PageFor(uint32_t pageNo);

  std::map<uint32_t, Page> m_pages;
  uint64_t m_nEnd = 0;
};
