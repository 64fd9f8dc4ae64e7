#include "link/FrameDecoder.h"

#include <cstring>

#include "link/crc.h"

namespace {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kSecondFlag = 0x7F;
constexpr uint8_t kEscape = 0x7D;
constexpr uint8_t kStuffXor = 0x20;

}  // namespace

CFrameDecoder::Result CFrameDecoder::Add(const uint8_t* data, int len, bool bootFraming) {
  Result result;
  if (data == nullptr || len <= 0) return result;

  bool overflow = false;
  for (int i = 0; i < len; ++i) {
    if (m_nRxCount >= ASSEMBLY_SIZE) {
      // The overflowing byte is dropped; the bytes after it start over.
      overflow = true;
      m_nRxCount = 0;
    } else {
      m_assembly[m_nRxCount++] = data[i];
    }
  }
  if (overflow) {
    result.outcome = Outcome::Overflow;
    return result;
  }
  if (m_assembly[0] != kFlag || m_assembly[m_nRxCount - 1] != kFlag) return result;

  // Every flag goes, also those between two frames of one read: they come
  // out as one body.
  std::memset(m_work, 0, sizeof m_work);
  int m = 0;
  for (int i = 0; i < m_nRxCount; ++i) {
    const uint8_t b = m_assembly[i];
    if (b != kFlag && b != kSecondFlag) m_work[m++] = b;
  }
  m_nRxCount = 0;

  result.outcome = Outcome::Rejected;
  if (m < (bootFraming ? 3 : 4)) return result;

  // Unstuffing in place never writes ahead of where it reads. An escape that
  // ends the body takes the zero behind it (the buffer has a spare one).
  int k = 0;
  for (int i = 0; i < m;) {
    uint8_t b = m_work[i++];
    if (b == kEscape) b = static_cast<uint8_t>(m_work[i++] ^ kStuffXor);
    m_work[k++] = b;
  }

  if (!bootFraming) {
    // A body of four stuffed bytes may unstuff to fewer than the trailer.
    if (k < 4) return result;
    const uint8_t* t = m_work + k - 4;
    const uint32_t trailer = (static_cast<uint32_t>(t[0]) << 24) | (static_cast<uint32_t>(t[1]) << 16) |
                             (static_cast<uint32_t>(t[2]) << 8) | static_cast<uint32_t>(t[3]);
    if (crc::Crc30(m_work, static_cast<size_t>(k - 4)) != trailer) return result;
  }

  result.outcome = Outcome::Packet;
  result.body = m_work;
  result.length = m;
  result.packetLength = k;
  return result;
}
