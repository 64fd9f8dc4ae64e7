// Image contents the tests and benchmarks download: bytes that depend on
// their offset, so that a misplaced or repeated block shows in the flash,
// and phone-code images with a valid trailer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

/// Byte `k` of the pattern; it changes from block to block as well.
inline uint8_t PatternByte(uint64_t k, uint8_t seed = 0) { return static_cast<uint8_t>(k * 7 + k / 1024 + seed); }

inline std::vector<uint8_t> PatternBytes(size_t count, uint8_t seed = 0) {
  std::vector<uint8_t> bytes(count);
  for (size_t k = 0; k < count; ++k) bytes[k] = PatternByte(k, seed);
  return bytes;
}

/// Byte `k` of a phone-code image of `size` bytes: the pattern, and in the
/// last 37 the trailer's marker (FF 1D 00), the s/w version and the start
/// address (little-endian at 17 and 21). An image shorter than a trailer
/// has none.
inline uint8_t PhoneImageByte(uint64_t k, uint64_t size, uint32_t start, uint32_t version) {
  constexpr uint64_t kTrailer = 37;
  if (size < kTrailer || k < size - kTrailer) return PatternByte(k);
  const uint64_t t = k - (size - kTrailer);
  if (t < 3) return static_cast<uint8_t>(t == 0 ? 0xFF : t == 1 ? 0x1D : 0x00);
  if (t >= 17 && t < 21) return static_cast<uint8_t>(version >> (8 * (t - 17)));
  if (t >= 21 && t < 25) return static_cast<uint8_t>(start >> (8 * (t - 21)));
  return PatternByte(k);
}

inline std::vector<uint8_t> PhoneImageBytes(size_t size, uint32_t start, uint32_t version = 7) {
  std::vector<uint8_t> bytes(size);
  for (size_t k = 0; k < size; ++k) bytes[k] = PhoneImageByte(k, size, start, version);
  return bytes;
}

/// Writes a phone-code image (see PhoneImageByte) into `dir`, in pieces so
/// that a large one costs no memory; its path, empty when it could not be
/// written.
inline std::string MakePhoneImage(const std::string& dir, uint64_t size, uint32_t start, uint32_t version = 7) {
  const std::string path = dir + "/phone_" + std::to_string(size) + "_" + std::to_string(start) + ".bin";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return std::string();
  std::vector<uint8_t> chunk(64 * 1024);
  bool ok = true;
  for (uint64_t at = 0; ok && at < size; at += chunk.size()) {
    const uint64_t n = std::min<uint64_t>(chunk.size(), size - at);
    for (uint64_t k = 0; k < n; ++k) chunk[k] = PhoneImageByte(at + k, size, start, version);
    ok = std::fwrite(chunk.data(), 1, n, f) == n;
  }
  ok = std::fclose(f) == 0 && ok;
  return ok ? path : std::string();
}
