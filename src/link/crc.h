// The two checksums of the serial line: CRC-16/X-25 (the frame check
// sequence of requests) and CRC-30/CDMA (the trailer of replies in
// diagnostic framing). Both run from 256-entry tables built from their
// polynomials at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crc {

/// Start value of a CRC-16/X-25 computation.
constexpr uint16_t kCrc16Init = 0xFFFF;
/// Value XORed onto a finished CRC-16/X-25.
constexpr uint16_t kCrc16XorOut = 0xFFFF;
/// Start value of a CRC-30/CDMA computation.
constexpr uint32_t kCrc30Init = 0x3FFFFFFF;
/// Value XORed onto a finished CRC-30/CDMA.
constexpr uint32_t kCrc30XorOut = 0x3FFFFFFF;
/// The 30 bits a CRC-30 value occupies.
constexpr uint32_t kCrc30Mask = 0x3FFFFFFF;

/// Advances a running CRC-16/X-25 (reflected) by one byte.
uint16_t Crc16Step(uint16_t crc, uint8_t byte);

/// Advances a running CRC-30/CDMA (not reflected) by one byte; the result
/// keeps the low 30 bits only.
uint32_t Crc30Step(uint32_t crc, uint8_t byte);

/// The finished CRC-16/X-25 of `len` bytes (start value and final XOR
/// applied). 0x906E for "123456789"; 0x0000 for no bytes.
uint16_t Crc16(const uint8_t* data, size_t len);

/// The finished CRC-30/CDMA of `len` bytes. 0x04C34ABF for "123456789".
uint32_t Crc30(const uint8_t* data, size_t len);

}  // namespace crc
