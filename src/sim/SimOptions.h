// Command line of velmora-sim.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimFault.h"

struct SimOptions {
  int count = 0;
  int firstCom = 1;
  uint32_t eraseDelayMs = 0;
  uint32_t paceBps = 0;
  uint32_t programUs = 0;
  bool stdinStop = false;
  bool help = false;
  bool version = false;  ///< --version: print the name and version, serve nothing
  /// Faults with the COM number they are for (0 = every handset).
  std::vector<std::pair<int, SimFault>> faults;
};

/// Parses argv[1..]. False with a message in `error` on bad usage.
bool ParseSimOptions(int argc, const char* const* argv, SimOptions& options, std::string& error);

/// The --help text.
std::string SimUsage();
