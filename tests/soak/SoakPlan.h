// What one soak round does to each handset: faults drawn from a seeded
// generator, and what the outcome of each handset must then be. Pure, so
// that a round's seed always means the same round.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/SimFault.h"

/// A small generator whose sequence is the same on every platform.
class CSoakRandom {
 public:
  explicit CSoakRandom(uint64_t seed) : m_state(seed) {}
  /// The next 64 random bits (splitmix64).
  uint64_t Next();
  /// A number in [0, n) for n > 0.
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }

 private:
  uint64_t m_state;
};

/// What a handset must end as, as far as its faults decide it.
enum class SoakOutcome { Complete, Fail };

struct SoakHandsetPlan {
  std::vector<SimFault> faults;   ///< given to the simulator
  uint32_t eraseDelayMs = 0;      ///< a slow erase
  int vanishAtBlock = -1;         ///< the port goes once this many blocks arrived
  SoakOutcome outcome = SoakOutcome::Complete;
  std::string text;               ///< the faults, for the report
  /// Faults planned, counting a vanishing port and a slow erase as one each.
  int Injected() const;
};

struct SoakRoundPlan {
  uint64_t seed = 0;
  uint32_t start = 0x10000;  ///< application start address in the image
  uint32_t imageSize = 0;    ///< bytes of the phone-code image
  int blocks = 0;            ///< blocks after the start address
  std::vector<SoakHandsetPlan> handsets;
};

/// Draws round `seed` for `handsets` handsets.
SoakRoundPlan DrawSoakRound(uint64_t seed, int handsets);
