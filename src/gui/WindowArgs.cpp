#include "WindowArgs.h"

#include "QtDialogHost.h"
#include "Window.h"
#include "platform/PortMap.h"
#include "platform/PortSpec.h"

const char* WindowUsage() { return "usage: velmora [--port N=DEVICE ...]\n"; }

std::optional<WindowArgs> ParseWindowArgs(const QStringList& args, std::string& error) {
  WindowArgs parsed;
  for (qsizetype k = 0; k < args.size(); ++k) {
    const std::string arg = args[k].toStdString();
    if (arg != "--port") {
      error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
    if (k + 1 >= args.size()) {
      error = "--port needs an argument";
      return std::nullopt;
    }
    const std::string spec = args[++k].toStdString();
    auto port = ParsePortSpec(spec);
    if (!port) {
      error = "--port needs N=DEVICE with N in 1.." + std::to_string(MAX_COM_PORT) + ", not '" + spec + "'";
      return std::nullopt;
    }
    parsed.ports.push_back(*port);
  }
  return parsed;
}

void PlugInPorts(CQtDialogHost& host, const std::vector<std::pair<int, std::string>>& ports) {
  for (const auto& [number, device] : ports) {
    CPortMap::Instance().Set(number, device);
    DevBroadcastPort port;
    port.number = number;
    host.Dispatch(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<intptr_t>(&port));
  }
}
