#include "platform/PortSpec.h"

#include <cerrno>
#include <cstdlib>

#include "platform/PortMap.h"

std::optional<std::pair<int, std::string>> ParsePortSpec(const std::string& spec) {
  const size_t eq = spec.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 >= spec.size()) return std::nullopt;
  const std::string number = spec.substr(0, eq);
  if (number.find_first_not_of("0123456789") != std::string::npos || number.size() > 3) return std::nullopt;
  const long n = std::strtol(number.c_str(), nullptr, 10);
  if (n < 1 || n > MAX_COM_PORT) return std::nullopt;
  return std::make_pair(static_cast<int>(n), spec.substr(eq + 1));
}
