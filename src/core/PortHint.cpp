#include "PortHint.h"

#include "platform/PortMap.h"

std::string PortDeviceHint(int port) { return CPortMap::Instance().Device(port).value_or(""); }
