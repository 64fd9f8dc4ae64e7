// Texts about the device behind a bound port, for the window's hints and
// the entry's log.
#pragma once

#include <string>

#include "platform/PortPermission.h"  // PortPermissionHint, for OpenEntry's log

/// The device COM `port` stands for ("/dev/ttyACM2"), or empty when the
/// number is unmapped or out of range.
std::string PortDeviceHint(int port);
