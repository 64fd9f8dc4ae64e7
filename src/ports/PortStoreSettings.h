// The kept COM numbers in the settings file: the [PORTS] section beside the
// remembered directories, and which identity the ports are kept by
// (PORT_IDENTITY: "serial" keys by the handset's USB serial, its by-id name;
// anything else by its USB socket, the by-path name).
#pragma once

#include <string>
#include <vector>

#include "platform/PortMap.h"

inline constexpr const char* kPortIdentitySetting = "PORT_IDENTITY";
inline constexpr const char* kPortStoreSection = "PORTS";

/// Points the process-wide CPortMap at the settings file (wherever
/// CRegistry::StorePath() is at each load and save), with trouble traced.
/// Harmless to repeat.
void AttachPortStore();

/// The kind the PORT_IDENTITY setting names.
PortIdentityKind PortIdentitySetting();

/// What `device` claims a number with: its identity and socket when it is
/// a tty of the device directory Port Search scans, else the device alone.
PortClaim PortClaimFor(const std::string& device);
std::vector<PortClaim> PortClaimsFor(const std::vector<std::string>& devices);
