// Bit-at-a-time checksums written straight from their definitions, to judge
// the table-driven ones by.
#pragma once

#include <cstddef>
#include <cstdint>

inline uint16_t OracleCrc16X25(const uint8_t* data, size_t len) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < len; ++i) {
    crc ^= data[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
  }
  return static_cast<uint16_t>(crc ^ 0xFFFF);
}

inline uint32_t OracleCrc30Cdma(const uint8_t* data, size_t len) {
  uint32_t crc = 0x3FFFFFFF;
  for (size_t i = 0; i < len; ++i) {
    for (int b = 7; b >= 0; --b) {
      const uint32_t in = (data[i] >> b) & 1u;
      const uint32_t top = (crc >> 29) & 1u;
      crc = (crc << 1) & 0x3FFFFFFF;
      if (top ^ in) crc ^= 0x2030B9C7;
    }
  }
  return crc ^ 0x3FFFFFFF;
}
