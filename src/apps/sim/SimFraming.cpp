#include "sim/SimFraming.h"

#include <array>
#include <cstring>

namespace sim {
namespace {

// Reflected polynomial of the HDLC FCS.
constexpr uint16_t kPoly = 0x8408;

constexpr std::array<uint16_t, 256> MakeTable() {
  std::array<uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i);
    for (int k = 0; k < 8; ++k) c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ kPoly) : static_cast<uint16_t>(c >> 1);
    t[i] = c;
  }
  return t;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

constexpr uint8_t kMarkerHead[8] = {0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24, 0x01};

std::vector<uint8_t> WithFcs(std::vector<uint8_t> body) {
  const uint16_t fcs = Fcs16(body.data(), body.size());
  body.push_back(static_cast<uint8_t>(fcs & 0xFF));
  body.push_back(static_cast<uint8_t>(fcs >> 8));
  return body;
}

}  // namespace

uint16_t Fcs16(const uint8_t* data, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ kTable[(crc ^ data[i]) & 0xFF]);
  return static_cast<uint16_t>(crc ^ 0xFFFF);
}

void StuffByte(std::vector<uint8_t>& out, uint8_t b) {
  if (b == kFlag || b == kFlag2 || b == kEscape) {
    out.push_back(kEscape);
    out.push_back(static_cast<uint8_t>(b ^ 0x20));
  } else {
    out.push_back(b);
  }
}

std::vector<uint8_t> BootFrame(const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out;
  out.reserve(body.size() * 2 + 2);
  out.push_back(kFlag);
  for (uint8_t b : body) StuffByte(out, b);
  out.push_back(kFlag);
  return out;
}

std::vector<uint8_t> AckFrame() { return BootFrame(WithFcs({0x02})); }
std::vector<uint8_t> DamagedAckFrame() { return BootFrame({0x02, 0x00, 0x00}); }
// The handset's resend acknowledgement carries its code three times, not an FCS.
std::vector<uint8_t> ResendAckFrame() { return BootFrame({0x03, 0x03, 0x03}); }
std::vector<uint8_t> NakRetryFrame() { return BootFrame(WithFcs({0xA1})); }
std::vector<uint8_t> NakInvalidFrame() { return BootFrame({0xA3, 0x9E, 0x4C}); }
std::vector<uint8_t> NakFailedFrame() { return BootFrame({0xA4, 0x00, 0x00}); }
std::vector<uint8_t> DamagedNakFailedFrame() { return BootFrame({0xA4, 0x12, 0x34}); }
std::vector<uint8_t> IgnoredFrame() { return BootFrame(WithFcs({0xA2})); }
std::vector<uint8_t> UnknownCodeFrame() { return BootFrame(WithFcs({0x5A})); }

std::vector<uint8_t> VersionFrame(const char (&version)[6]) {
  std::vector<uint8_t> body{0x0D};
  for (int i = 0; i < 5; ++i) body.push_back(static_cast<uint8_t>(version[i]));
  return BootFrame(WithFcs(body));
}

bool IsRetryMarker(const uint8_t* block) {
  if (std::memcmp(block, kMarkerHead, sizeof kMarkerHead) != 0) return false;
  for (size_t i = sizeof kMarkerHead; i < kBlockSize; ++i)
    if (block[i] != 0) return false;
  return true;
}

}  // namespace sim
