// The window's command line. `--port N=DEVICE` (repeatable) binds COM N to
// DEVICE as if the handset had just been plugged in; benches and the demo
// use it for devices the hot-plug watch does not see, such as ptys.
#pragma once

#include <QStringList>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CQtDialogHost;

struct WindowArgs {
  std::vector<std::pair<int, std::string>> ports;  ///< in the order given
  bool help = false;     ///< --help: print the usage, open no window
  bool version = false;  ///< --version: print the name and version, open no window
  bool trace = false;    ///< --trace: diagnostic lines on standard error
};

/// Usage text for the window's own options.
const char* WindowUsage();

/// Reads `args` (without the program name; Qt's own options already taken
/// out). Nothing, with the reason in `error`, for an unknown option, a
/// malformed --port, a COM number given twice or a device given for two.
std::optional<WindowArgs> ParseWindowArgs(const QStringList& args, std::string& error);

/// Maps each port's number to its device and hands the dialog behind `host`
/// the arrival notification for it, in order. Call after OnInitDialog.
void PlugInPorts(CQtDialogHost& host, const std::vector<std::pair<int, std::string>>& ports);
