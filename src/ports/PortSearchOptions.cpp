#include "ports/PortSearchOptions.h"

#include <algorithm>
#include <mutex>

#include "platform/Registry.h"
#include "link/Trace.h"

namespace {
std::mutex g_rootsLock;
std::string g_sysfsRoot;
std::string g_devRoot;
}  // namespace

std::vector<std::string> PortMatchFragments() {
  std::vector<std::string> fragments{kDefaultPortMatch};
  for (auto& f : SplitPortMatch(CRegistry::ReadString(kPortMatchSetting)))
    if (std::find(fragments.begin(), fragments.end(), f) == fragments.end()) fragments.push_back(std::move(f));
  return fragments;
}

void SetPortSearchRoots(const std::string& sysfsRoot, const std::string& devRoot) {
  std::lock_guard<std::mutex> guard(g_rootsLock);
  g_sysfsRoot = sysfsRoot;
  g_devRoot = devRoot;
}

PortDiscoveryOptions PortSearchOptions() {
  PortDiscoveryOptions options;
  {
    std::lock_guard<std::mutex> guard(g_rootsLock);
    if (!g_sysfsRoot.empty()) options.sysfsRoot = g_sysfsRoot;
    if (!g_devRoot.empty()) options.devRoot = g_devRoot;
  }
  options.fragments = PortMatchFragments();
  options.trace = [](const std::string& line) { Trace(line); };
  return options;
}
