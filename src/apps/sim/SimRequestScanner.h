// Finds the tool's next request frame in the bytes a handset has collected:
// flag, stuffed request, FCS (low byte first), flag, zero fill to a multiple
// of four. Stateless, so a stale partial block can be tried as a frame too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

/// Longest frame accepted: the 99-byte request fully stuffed is 207 bytes.
constexpr size_t kMaxFrameBytes = 512;

struct SimScan {
  enum Kind {
    Incomplete,  ///< more bytes are needed; nothing consumed
    Frame,       ///< a good request; `request` holds it without its FCS
    BadFrame,    ///< a complete frame that must not be answered
    Garbage,     ///< bytes that cannot open a frame
  };
  Kind kind = Incomplete;
  size_t consumed = 0;           ///< bytes to drop from the front
  std::vector<uint8_t> request;  ///< Frame only
  std::string problem;           ///< BadFrame and Garbage: what is wrong
};

/// Looks at the `n` bytes at `data` and says what their front holds.
SimScan ScanRequest(const uint8_t* data, size_t n);

}  // namespace sim
