// "N=DEVICE" as the command lines take it: COM N stands for DEVICE.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

/// Reads `spec` as "N=DEVICE" or "COMN=DEVICE" (the lines velmora-sim
/// prints) with N in 1..MAX_COM_PORT and a non-empty DEVICE. Nothing for
/// anything else (a missing '=', a number with trailing characters, a number
/// out of range), with the reason in `error` when it is given.
std::optional<std::pair<int, std::string>> ParsePortSpec(const std::string& spec, std::string* error = nullptr);

/// What is wrong with a list of bindings as a whole: a COM number given
/// twice, or one device given for two COM numbers (the same path, or two
/// paths of one device node). Nothing when the list is sound.
std::optional<std::string> PortListProblem(const std::vector<std::pair<int, std::string>>& ports);
