// The receive side of the framing as a pure function of bytes: reads go in,
// a packet or a rejection comes out. No port, no thread, no allocation, so it
// is tested (and fuzzed) on its own.
#pragma once

#include <cstdint>

class CFrameDecoder {
 public:
  static constexpr int ASSEMBLY_SIZE = 512;
  /// The flag-free body of a full assembly buffer, and a byte to spare.
  static constexpr int WORK_SIZE = ASSEMBLY_SIZE + 1;

  enum class Outcome {
    Incomplete,  ///< no complete frame yet; the bytes stay buffered
    Packet,      ///< a frame was accepted: body/length describe it
    Rejected,    ///< a frame completed but failed its check ("Bad CRC")
    Overflow,    ///< the assembly buffer overflowed; stop feeding this burst
  };

  struct Result {
    Outcome outcome = Outcome::Incomplete;
    /// Accepted: the work buffer, unstuffed packet first. Valid until the
    /// next Add.
    const uint8_t* body = nullptr;
    /// Accepted: the number of body bytes before unstuffing (the count the
    /// link copies; the unstuffed packet is never longer).
    int length = 0;
    /// Accepted: the unstuffed packet length (check bytes included).
    int packetLength = 0;
  };

  /// Adds the bytes of one read (`len` > 0). `bootFraming` selects the check:
  /// boot framing accepts any body of 3 or more bytes; diagnostic framing
  /// needs 4 or more and a matching big-endian CRC-30 trailer.
  Result Add(const uint8_t* data, int len, bool bootFraming);

  /// Empties the assembly buffer (start of a receive burst, port opened).
  void Clear() { m_nRxCount = 0; }

  /// Bytes held in the assembly buffer (0..512).
  int Count() const { return m_nRxCount; }

 private:
  int m_nRxCount = 0;
  uint8_t m_assembly[ASSEMBLY_SIZE] = {};
  uint8_t m_work[WORK_SIZE + 1] = {};  // one spare zero for a trailing escape
};
