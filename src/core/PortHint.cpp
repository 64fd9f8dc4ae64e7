#include "PortHint.h"

#include "platform/PortMap.h"
#include "platform/PortPermission.h"

std::string PortDeviceHint(int port) { return CPortMap::Instance().Device(port).value_or(""); }

std::string PortOpenFailureHint(int port) { return PortPermissionHint(PortDeviceHint(port)); }
