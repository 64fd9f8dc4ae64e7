// Reply frames as handsets send them. The stuffing is the simulated
// handset's own (it is the tests' oracle of the framing); the checksums are
// the bit-by-bit ones of CrcOracle.h, never the tool's tables.
#pragma once

#include <cstdint>
#include <vector>

#include "CrcOracle.h"
#include "sim/SimFraming.h"

using sim::BootFrame;

/// `body` with its CRC-16 (low byte first), as requests and checked boot
/// replies carry it.
inline std::vector<uint8_t> WithFcs(std::vector<uint8_t> body) {
  const uint16_t fcs = OracleCrc16X25(body.data(), body.size());
  body.push_back(static_cast<uint8_t>(fcs & 0xFF));
  body.push_back(static_cast<uint8_t>(fcs >> 8));
  return body;
}

/// A diagnostic reply: body, CRC-30 trailer (most significant byte first,
/// spoilt by `xorTrailer`), stuffed like a boot frame, between flags.
inline std::vector<uint8_t> DiagFrame(std::vector<uint8_t> body, uint32_t xorTrailer = 0) {
  const uint32_t c = OracleCrc30Cdma(body.data(), body.size()) ^ xorTrailer;
  for (int s = 24; s >= 0; s -= 8) body.push_back(static_cast<uint8_t>(c >> s));
  return BootFrame(body);
}

/// The tool's retry marker as it goes on the line: the block signature,
/// flag byte 01, zeros to 1024 bytes.
inline std::vector<uint8_t> RetryMarker() {
  std::vector<uint8_t> m{0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24, 0x01};
  m.resize(1024, 0);
  return m;
}
