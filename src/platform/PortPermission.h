// Why a handset's port that exists cannot be opened: the operator lacks the
// rights on its device node. The advice names the node's group and the udev
// rule shipped with the program.
#pragma once

#include <string>

/// Where the udev rule lives in the source tree (and in packages).
inline constexpr const char* kUdevRulePath = "contrib/99-velmora.rules";

/// Advice when `device` exists but this process may not read and write it;
/// empty when it is accessible, does not exist, or the advice was already
/// given for this device (it is said once per device and process).
std::string PortPermissionHint(const std::string& device);

/// The advice text for `device` regardless of its rights and of earlier
/// advice: names the node's group (for instance dialout), whether the user
/// already belongs to it on paper (then a new login is what is missing),
/// and the udev rule.
std::string PortPermissionAdvice(const std::string& device);
