#include "ports/PortHint.h"

#include "platform/PortMap.h"
#include "platform/PortPermission.h"

std::string PortDeviceHint(int port) { return CPortMap::Instance().Device(port).value_or(""); }

std::string PortFailureLine(int port, const std::string& device, const PortFailure& failure, int holder) {
  const PortCause cause = failure.cause == PortCause::None ? PortCause::IoError : failure.cause;
  const std::string com = "COM" + std::to_string(port);
  if (device.empty()) return com + ": " + PortCauseText(cause) + "; no device is bound to " + com;
  std::string line = device + ": " + PortCauseText(cause);
  if (failure.err != 0) line += " (" + failure.ErrnoName() + ")";
  switch (cause) {
    case PortCause::NotFound: return line + "; check that the handset is plugged in";
    case PortCause::PermissionDenied: return line + "; " + PortPermissionAdvice(device);
    case PortCause::Busy:
      return line + (holder > 0 ? "; held by Entry " + std::to_string(holder) : "; held by another process");
    default: return line;
  }
}

std::string PortSocketHint(int port) { return CPortMap::Instance().Socket(port); }

std::string PortLabelHint(int port) {
  std::string text = PortDeviceHint(port);
  const std::string socket = PortSocketHint(port);
  if (!text.empty() && !socket.empty()) text += "  " + socket;
  return text;
}
