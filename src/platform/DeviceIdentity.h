// Whether two names stand for one device: a node and a link to it, or two
// nodes of one device, are one port, and opening it under both names would
// make one name's opener refuse the other's.
#pragma once

#include <string>

/// True when `a` and `b` name the same device (or are the same name). Names
/// that cannot be resolved (a device not present) are compared as they are.
bool SameDevice(const std::string& a, const std::string& b);
