#include "ports/PortStoreSettings.h"

#include <filesystem>

#include "ports/PortSearchOptions.h"
#include "platform/Registry.h"
#include "link/Trace.h"

namespace fs = std::filesystem;

void AttachPortStore() {
  PortStoreHooks hooks;
  hooks.load = [](std::vector<std::string>& lines) {
    return CRegistry::ReadSection(kPortStoreSection, lines) ? PortStoreLoad::Loaded : PortStoreLoad::Unreadable;
  };
  hooks.save = [](const std::vector<std::string>& lines) { return CRegistry::WriteSection(kPortStoreSection, lines); };
  hooks.trace = [](const std::string& line) { Trace(line); };
  CPortMap::Instance().SetStoreHooks(std::move(hooks));
}

PortIdentityKind PortIdentitySetting() {
  return CRegistry::ReadString(kPortIdentitySetting) == "serial" ? PortIdentityKind::Serial : PortIdentityKind::Socket;
}

std::vector<PortClaim> PortClaimsFor(const std::vector<std::string>& devices) {
  const PortDiscoveryOptions options = PortSearchOptions();
  const CPortDiscovery discovery(options);
  const fs::path devDir = (fs::path(options.devRoot) / "x").parent_path();
  const PortIdentityKind kind = PortIdentitySetting();
  std::vector<PortClaim> claims;
  for (const std::string& device : devices) {
    PortClaim claim{device, {}, {}};
    const fs::path path(device);
    PortIdentity identity;
    // Elsewhere (pseudo terminals, a watched folder of links) the names
    // mean nothing from one run to the next.
    if (path.parent_path() == devDir && discovery.Identify(path.filename().string(), identity)) {
      claim.identity = PortIdentityKey(identity, kind);
      claim.socket = PortSocketName(identity);
    }
    claims.push_back(std::move(claim));
  }
  return claims;
}

PortClaim PortClaimFor(const std::string& device) { return PortClaimsFor({device}).front(); }
