// The handset's side of the line framing: its own FCS table, byte stuffing
// and the boot frames it answers with. Kept apart from the tool's codec on
// purpose, so that a simulated handset can catch a fault in either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kFlag2 = 0x7F;
constexpr uint8_t kEscape = 0x7D;
constexpr size_t kBlockSize = 1024;

/// CRC-16/X-25 over `n` bytes (the value a request carries, low byte first).
uint16_t Fcs16(const uint8_t* data, size_t n);

/// Appends `b` to `out`, escaped when it is a flag or the escape byte.
void StuffByte(std::vector<uint8_t>& out, uint8_t b);

/// A boot frame: 7E, the stuffed body, 7E. No fill (handsets send none).
std::vector<uint8_t> BootFrame(const std::vector<uint8_t>& body);

/// Reply frames, exactly as a handset in download mode writes them.
std::vector<uint8_t> AckFrame();                 ///< 7E 02 6A D3 7E
std::vector<uint8_t> DamagedAckFrame();          ///< 7E 02 00 00 7E
std::vector<uint8_t> ResendAckFrame();           ///< 7E 03 03 03 7E
std::vector<uint8_t> NakRetryFrame();            ///< 7E A1 FCS 7E
std::vector<uint8_t> NakInvalidFrame();          ///< 7E A3 9E 4C 7E
std::vector<uint8_t> NakFailedFrame();           ///< 7E A4 00 00 7E
std::vector<uint8_t> DamagedNakFailedFrame();    ///< 7E A4 12 34 7E
std::vector<uint8_t> IgnoredFrame();             ///< 7E A2 FCS 7E (RSP_IGNORED)
std::vector<uint8_t> UnknownCodeFrame();         ///< 7E 5A FCS 7E, a code the protocol does not have
/// 7E 0D <five version characters> FCS(lo, hi) 7E, stuffed.
std::vector<uint8_t> VersionFrame(const char (&version)[6]);

/// True when the 1024 bytes at `block` are the tool's retry marker.
bool IsRetryMarker(const uint8_t* block);

}  // namespace sim
