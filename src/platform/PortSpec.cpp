#include "platform/PortSpec.h"

#include <cstdlib>

#include "platform/DeviceIdentity.h"
#include "platform/PortMap.h"

std::optional<std::pair<int, std::string>> ParsePortSpec(const std::string& spec, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<std::pair<int, std::string>> {
    if (error) *error = why;
    return std::nullopt;
  };
  const std::string range = "1.." + std::to_string(MAX_COM_PORT);
  const size_t eq = spec.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 >= spec.size())
    return fail("needs N=DEVICE or COMN=DEVICE with N in " + range + ", not '" + spec + "'");
  std::string number = spec.substr(0, eq);
  if (number.rfind("COM", 0) == 0) number.erase(0, 3);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
    return fail("needs N=DEVICE or COMN=DEVICE with N in " + range + ", not '" + spec + "'");
  const long n = number.size() > 3 ? 0 : std::strtol(number.c_str(), nullptr, 10);
  if (n < 1 || n > MAX_COM_PORT) return fail("COM number " + number + " is out of range (" + range + ")");
  return std::make_pair(static_cast<int>(n), spec.substr(eq + 1));
}

std::optional<std::string> PortListProblem(const std::vector<std::pair<int, std::string>>& ports) {
  for (size_t a = 0; a < ports.size(); ++a) {
    for (size_t b = 0; b < a; ++b) {
      if (ports[a].first == ports[b].first)
        return "COM" + std::to_string(ports[a].first) + " is given twice (" + ports[b].second + ", " +
               ports[a].second + ")";
      // Two names of one device node (a link and its target) are one port.
      if (SameDevice(ports[a].second, ports[b].second))
        return ports[a].second + " is given for two COM numbers (COM" + std::to_string(ports[b].first) + ", COM" +
               std::to_string(ports[a].first) + ")";
    }
  }
  return std::nullopt;
}
