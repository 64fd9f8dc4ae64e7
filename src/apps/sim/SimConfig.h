// How one simulated handset behaves; set before it starts.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/SimFault.h"

struct SimHandsetConfig {
  /// How long an erase takes before it is acknowledged.
  uint32_t eraseDelayMs = 0;
  /// Bytes per second in each direction; 0 = as fast as the pty goes.
  /// 5760 is 57600 baud with 8N1.
  uint32_t paceBps = 0;
  /// How long programming one data block takes, in microseconds: its ACK
  /// goes out that long after the block's last byte came in. 0 = at once.
  uint32_t programUs = 0;
  /// How long a partial block or frame may sit before it is looked at again.
  uint32_t staleMs = 1000;
  /// Size of the flash; an erase reaching past it is refused with A4 00 00.
  uint64_t flashBytes = 0x4000000;
  std::vector<SimFault> faults;
};
