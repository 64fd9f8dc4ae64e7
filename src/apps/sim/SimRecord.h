// Everything a simulated handset saw and did, for tests and the summary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/SimFlash.h"

namespace sim {
/// How every violation of the one-unit-at-a-time rule begins: the tool sent
/// a request or block while the previous one's reply was still owed.
inline constexpr char kEarlySend[] = "sent before the previous request or block was answered";
}  // namespace sim

struct SimErase {
  uint8_t code = 0;  ///< EE or EF
  uint32_t start = 0, length = 0, start2 = 0;
};

struct SimEfsName {
  std::string name, folder;
};

struct SimRecord {
  /// Good request frames in arrival order, without flags, stuffing or FCS.
  std::vector<std::vector<uint8_t>> requests;
  /// Every frame written back, as it went on the line.
  std::vector<std::vector<uint8_t>> replies;
  /// Erases carried out (after their delay), in order.
  std::vector<SimErase> erases;
  std::vector<SimEfsName> efsNames;
  CSimFlash flash;
  int blocksReceived = 0;  ///< data blocks, repeats included, markers not
  int blocksWritten = 0;   ///< data blocks stored, rewrites included
  int markers = 0;         ///< retry markers received
  int jumps = 0;           ///< jump requests received
  int transfersDone = 0;   ///< transfers that got all their blocks
  /// While blocks are expected: microseconds from the last byte of a reply
  /// going onto the line to the first byte of what the tool sent next. This
  /// is the tool's own turnaround, the wire time of neither side included.
  std::vector<uint32_t> blockTurnaroundUs;
  int abandoned = 0;       ///< transfers left when a request came instead
  int faultsFired = 0;     ///< times a configured fault took effect (a chatter once)
  int strays = 0;          ///< replies that answered nothing (chatter)
  /// What the tool did wrong: damaged frames, stray bytes, sending before
  /// the previous request or block was answered, nonsense requests.
  std::vector<std::string> violations;
  bool hungUp = false;
};
