// Command line of velmora-sim.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimConfig.h"
#include "sim/SimFault.h"

/// One --erase-delay: the erase time of one handset or of all, fixed or
/// drawn from a range.
struct SimEraseDelay {
  int com = 0;  ///< 0 = every handset without one of its own
  uint32_t minMs = 0, maxMs = 0;
};

struct SimOptions {
  int count = 0;
  int firstCom = 1;
  /// What every handset is given (--pace, --program-us); its erase time and
  /// faults are each handset's own, from the two lists below.
  SimHandsetConfig handset;
  std::vector<SimEraseDelay> eraseDelays;
  /// Draws the erase times of ranges: the same seed, the same times.
  uint64_t seed = 1;
  bool stdinStop = false;
  bool help = false;
  bool version = false;  ///< --version: print the name and version, serve nothing
  /// Faults with the COM number they are for (0 = every handset).
  std::vector<std::pair<int, SimFault>> faults;
};

/// Parses argv[1..]. False with a message in `error` on bad usage.
bool ParseSimOptions(int argc, const char* const* argv, SimOptions& options, std::string& error);

/// The erase time of the handset on COM `com`: its own --erase-delay, else
/// the one for all, else 0; a range is drawn from the seed and the COM
/// number, so each handset gets its own and a run can be repeated.
uint32_t SimEraseDelayFor(const SimOptions& options, int com);

/// The whole configuration of the handset on COM `com`: the one for all,
/// its erase time, the faults for every handset and then its own, each in
/// the order given.
SimHandsetConfig SimHandsetConfigFor(const SimOptions& options, int com);

/// True when some handset's erase time is drawn from a range.
bool SimEraseDelaysDrawn(const SimOptions& options);

/// The --help text.
std::string SimUsage();
