// Which devices count as handsets' ports and where they are looked for:
// the fixed fragment plus any the operator adds in the PORT_MATCH setting
// (comma separated, for handsets whose driver names its ports differently),
// scanned in /sys and /dev unless tests point elsewhere.
#pragma once

#include <string>
#include <vector>

#include "platform/PortDiscovery.h"

/// Name of the setting that adds match fragments.
inline constexpr const char* kPortMatchSetting = "PORT_MATCH";

/// "kvxuart" followed by the fragments of the PORT_MATCH setting.
std::vector<std::string> PortMatchFragments();

/// Replaces the roots Port Search scans (for tests of a fake tree); empty
/// texts restore /sys and /dev.
void SetPortSearchRoots(const std::string& sysfsRoot, const std::string& devRoot);

/// What Port Search uses: the current roots, PortMatchFragments(), and
/// trace lines to Trace().
PortDiscoveryOptions PortSearchOptions();
