// Why a handset's port that exists cannot be opened: the operator lacks the
// rights on its device node. The advice names the node's group and the udev
// rule shipped with the program. On Windows the port is held by another
// program.
#pragma once

#include <string>

/// Where the udev rule lives in the source tree (and in packages).
inline constexpr const char* kUdevRulePath = "contrib/99-velmora.rules";

/// What to do when `device` exists but this process may not read and write
/// it, as a clause that follows the cause ("add yourself to the dialout group
/// (sudo usermod -aG dialout ann) and log in again, or install ..."): names the
/// node's group, whether the user already belongs to it on paper (then a new
/// login is what is missing), and the udev rule.
std::string PortPermissionAdvice(const std::string& device);
