// "N=DEVICE" as the command lines take it: COM N stands for DEVICE.
#pragma once

#include <optional>
#include <string>
#include <utility>

/// Reads `spec` as "N=DEVICE" with N in 1..MAX_COM_PORT and a non-empty
/// DEVICE. Nothing for anything else (a missing '=', a number with trailing
/// characters, a number out of range).
std::optional<std::pair<int, std::string>> ParsePortSpec(const std::string& spec);
