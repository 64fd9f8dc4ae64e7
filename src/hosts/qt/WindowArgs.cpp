#include "WindowArgs.h"

#include "QtDialogHost.h"
#include "Window.h"
#include "platform/PortMap.h"
#include "platform/PortSpec.h"

const char* WindowUsage() {
  return "usage: velmora [--help] [--version] [--trace] [--port [COM]N=DEVICE ...] [Qt options]\n"
         "The operator's window: writes firmware images into up to twenty handsets at once.\n"
         "Handsets' ports are bound as they are plugged in (Auto Detect), by Port Search or from\n"
         "the manual list.\n"
         "  --port N=DEVICE   bind COM N (1..30) to DEVICE at start, as if it had just been plugged\n"
         "                    in (for devices the hot-plug watch does not see, such as ptys);\n"
         "                    COMN=DEVICE (the lines velmora-sim prints) is taken too\n"
         "  --trace           diagnostic lines on standard error (also VELMORA_TRACE=1)\n"
         "  --version         print the program's name and version\n"
         "  --help            print this text\n"
         "Exit status: 0 when the window was closed, 2 for a wrong command line.\n"
         "Examples:\n"
         "  velmora\n"
         "  velmora --port COM1=/dev/pts/3 --port COM2=/dev/pts/4 --trace\n";
}

std::optional<WindowArgs> ParseWindowArgs(const QStringList& args, std::string& error) {
  WindowArgs parsed;
  for (qsizetype k = 0; k < args.size(); ++k) {
    const std::string arg = args[k].toStdString();
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
      continue;
    }
    if (arg == "--version") {
      parsed.version = true;
      continue;
    }
    if (arg == "--trace") {
      parsed.trace = true;
      continue;
    }
    if (arg != "--port") {
      error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
    if (k + 1 >= args.size()) {
      error = "--port needs an argument";
      return std::nullopt;
    }
    const std::string spec = args[++k].toStdString();
    std::string why;
    auto port = ParsePortSpec(spec, &why);
    if (!port) {
      error = "--port " + why;
      return std::nullopt;
    }
    parsed.ports.push_back(*port);
  }
  if (auto problem = PortListProblem(parsed.ports)) {
    error = "--port: " + *problem;
    return std::nullopt;
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
