#include "PortHint.h"

#include "platform/PortMap.h"
#include "platform/PortPermission.h"

std::string PortDeviceHint(int port) { return CPortMap::Instance().Device(port).value_or(""); }

std::string PortSocketHint(int port) { return CPortMap::Instance().Socket(port); }

std::string PortLabelHint(int port) {
  std::string text = PortDeviceHint(port);
  const std::string socket = PortSocketHint(port);
  if (!text.empty() && !socket.empty()) text += "  " + socket;
  return text;
}

std::string PortOpenFailureHint(int port) { return PortPermissionHint(PortDeviceHint(port)); }
