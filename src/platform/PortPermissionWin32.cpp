#include "platform/PortPermission.h"

// Windows refuses a COM port with "access denied" when another program has
// it open (ports are opened exclusively there); rights on the device are
// not what the operator can change.
std::string PortPermissionAdvice(const std::string& device) {
  return "another program holds " + device + "; close it (a terminal, a modem tool) and try again";
}
