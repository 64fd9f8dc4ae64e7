#include "link/crc.h"

#include <array>

namespace crc {
namespace {

constexpr uint16_t kPoly16Reflected = 0x8408;  // 0x1021 bit-reversed
constexpr uint32_t kPoly30 = 0x2030B9C7;

constexpr std::array<uint16_t, 256> MakeTable16() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t value = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit)
      value = (value & 1u) ? static_cast<uint16_t>((value >> 1) ^ kPoly16Reflected)
                           : static_cast<uint16_t>(value >> 1);
    table[i] = value;
  }
  return table;
}

constexpr std::array<uint32_t, 256> MakeTable30() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i << 22;  // the byte enters at the top of the 30 bits
    for (int bit = 0; bit < 8; ++bit)
      value = (value & (1u << 29)) ? ((value << 1) ^ kPoly30) & kCrc30Mask : (value << 1) & kCrc30Mask;
    table[i] = value;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kTable16 = MakeTable16();
constexpr std::array<uint32_t, 256> kTable30 = MakeTable30();

}  // namespace

uint16_t Crc16Step(uint16_t crc, uint8_t byte) {
  return static_cast<uint16_t>((crc >> 8) ^ kTable16[(crc ^ byte) & 0xFFu]);
}

uint32_t Crc30Step(uint32_t crc, uint8_t byte) {
  return ((crc << 8) ^ kTable30[((crc >> 22) ^ byte) & 0xFFu]) & kCrc30Mask;
}

uint16_t Crc16(const uint8_t* data, size_t len) {
  uint16_t value = kCrc16Init;
  for (size_t i = 0; i < len; ++i) value = Crc16Step(value, data[i]);
  return static_cast<uint16_t>(value ^ kCrc16XorOut);
}

uint32_t Crc30(const uint8_t* data, size_t len) {
  uint32_t value = kCrc30Init;
  for (size_t i = 0; i < len; ++i) value = Crc30Step(value, data[i]);
  return value ^ kCrc30XorOut;
}

}  // namespace crc
