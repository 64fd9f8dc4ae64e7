// Port Search on Linux: the handsets' ttys among the devices of the sysfs
// tree, in USB socket order.
#include "platform/PortDiscovery.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::vector<std::string> CPortDiscovery::Find() const {
  const fs::path classTty = fs::path(m_options.sysfsRoot) / "class" / "tty";
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(classTty, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code sec;
    // Only ttys backed by a device: virtual consoles and ptys have none.
    if (!fs::exists(fs::symlink_status(it->path() / "device", sec))) continue;
    names.push_back(it->path().filename().string());
  }

  struct Found {
    std::string sortKey;  // first by-path name, empty when there is none
    std::string kernelName;
  };
  const LinkIndex byId = Links("by-id");
  const LinkIndex byPath = Links("by-path");
  std::vector<Found> found;
  for (const auto& name : names) {
    PortIdentity id;
    if (!IdentifyWith(name, byId, byPath, id)) continue;
    if (!PortIdentityMatches(id, m_options.fragments)) continue;
    // A port without its node (not created yet, or already gone) could only
    // be bound to fail at DownLoad.
    std::error_code nec;
    if (!fs::exists(fs::path(m_options.devRoot) / name, nec)) {
      if (m_options.trace) m_options.trace("Serial device skipped, no node in " + m_options.devRoot + ": " + name + "\n");
      continue;
    }
    found.push_back({id.byPath.empty() ? std::string() : id.byPath.front(), name});
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    const bool ha = !a.sortKey.empty(), hb = !b.sortKey.empty();
    if (ha != hb) return ha;
    if (ha && a.sortKey != b.sortKey) return NaturalLess(a.sortKey, b.sortKey);
    return NaturalLess(a.kernelName, b.kernelName);
  });

  std::vector<std::string> paths;
  for (const auto& f : found) paths.push_back((fs::path(m_options.devRoot) / f.kernelName).string());
  return paths;
}
