#include "CliOptions.h"

#include <cstdlib>

#include "platform/PortSpec.h"

const char* CliUsage() {
  return "usage: velmora-cli [--help] [--phone FILE] [--change-downloader] [--input-address] [--boot FILE]\n"
         "                   [--qbfs FILE] [--resource FILE] [--efs2 DIR] [--port N=DEVICE ...]\n"
         "                   [--search | --station [--settle SECONDS]] [--sysfs-root DIR] [--dev-root DIR]\n"
         "                   [--yes] [--timeout SECONDS] [--create-resource DIR] [--forget-ports]\n"
         "  --port N=DEVICE   bind COM N (1..30) to DEVICE through the manual port list\n"
         "  --search          bind the handsets' ports found by Port Search and print them (entry,\n"
         "                    number, device, USB socket); without an image nothing is downloaded\n"
         "                    (status 1 when none is found)\n"
         "  --forget-ports    forget the COM numbers kept for USB sockets (or serials); asks first\n"
         "                    unless --yes is given\n"
         "  --station         download batch after batch: ports are found as Port Search does and\n"
         "                    followed as handsets are plugged in and pulled out; a batch starts once\n"
         "                    a handset is bound and no port came or went for the settle time, the\n"
         "                    next one once every handset of the last batch has been pulled and new\n"
         "                    ones have settled. Each batch ends with \"Batch K: C completed, F failed\".\n"
         "                    Runs until SIGINT or SIGTERM, then prints the totals (status 130 or 143)\n"
         "  --settle SECONDS  quiet time before a batch starts (default 3, fractions allowed)\n"
         "  --sysfs-root DIR  scan DIR instead of /sys (for test trees)\n"
         "  --dev-root DIR    scan DIR instead of /dev (for test trees)\n"
         "  --timeout SECONDS longest run (each batch's with --station; default 600)\n"
         "SIGINT or SIGTERM stops a run at once: every handset still running is reported failed\n"
         "and the status is 130 or 143.\n";
}

std::optional<CliOptions> ParseCliOptions(int argc, char** argv, std::string& error) {
  CliOptions o;
  bool settleGiven = false;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    auto value = [&](std::optional<std::string>& out) {
      if (k + 1 >= argc) {
        error = arg + " needs an argument";
        return false;
      }
      out = argv[++k];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      return o;
    } else if (arg == "--phone") {
      if (!value(o.phone)) return std::nullopt;
    } else if (arg == "--boot") {
      if (!value(o.boot)) return std::nullopt;
    } else if (arg == "--qbfs") {
      if (!value(o.qbfs)) return std::nullopt;
    } else if (arg == "--resource") {
      if (!value(o.resource)) return std::nullopt;
    } else if (arg == "--efs2") {
      if (!value(o.efs2)) return std::nullopt;
    } else if (arg == "--create-resource") {
      if (!value(o.createResource)) return std::nullopt;
    } else if (arg == "--sysfs-root") {
      if (!value(o.sysfsRoot)) return std::nullopt;
    } else if (arg == "--dev-root") {
      if (!value(o.devRoot)) return std::nullopt;
    } else if (arg == "--change-downloader") {
      o.changeDownloader = true;
    } else if (arg == "--input-address") {
      o.inputAddress = true;
    } else if (arg == "--search") {
      o.search = true;
    } else if (arg == "--station") {
      o.station = true;
    } else if (arg == "--settle") {
      std::optional<std::string> t;
      if (!value(t)) return std::nullopt;
      char* end = nullptr;
      const double seconds = std::strtod(t->c_str(), &end);
      // Written as !(a && b) so that NaN is refused too.
      if (t->empty() || *end || !(seconds >= 0.0 && seconds <= 3600.0)) {
        error = "--settle needs a number of seconds (0..3600), not '" + *t + "'";
        return std::nullopt;
      }
      o.settleSeconds = seconds;
      settleGiven = true;
    } else if (arg == "--forget-ports") {
      o.forgetPorts = true;
    } else if (arg == "--yes") {
      o.yes = true;
    } else if (arg == "--timeout") {
      std::optional<std::string> t;
      if (!value(t)) return std::nullopt;
      char* end = nullptr;
      long seconds = std::strtol(t->c_str(), &end, 10);
      if (t->empty() || *end || seconds <= 0 || seconds > 86400) {
        error = "--timeout needs a number of seconds (1..86400), not '" + *t + "'";
        return std::nullopt;
      }
      o.timeoutSeconds = static_cast<int>(seconds);
    } else if (arg == "--port") {
      std::optional<std::string> spec;
      if (!value(spec)) return std::nullopt;
      auto port = ParsePortSpec(*spec);
      if (!port) {
        error = "--port needs N=DEVICE with N in 1..30, not '" + *spec + "'";
        return std::nullopt;
      }
      o.ports.push_back(*port);
    } else {
      error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
  }
  if ((o.sysfsRoot || o.devRoot) && !o.search && !o.station) {
    error = "--sysfs-root and --dev-root go with --search or --station";
    return std::nullopt;
  }
  if (settleGiven && !o.station) {
    error = "--settle goes with --station";
    return std::nullopt;
  }
  if (o.station && (o.search || !o.ports.empty() || o.createResource)) {
    error = "--station finds its ports itself: not with --search, --port or --create-resource";
    return std::nullopt;
  }
  if (o.station && !o.HasImage()) {
    error = "--station needs an image to download";
    return std::nullopt;
  }
  if (o.forgetPorts && (o.search || o.station || !o.ports.empty() || o.HasImage() || o.createResource)) {
    error = "--forget-ports goes alone (with --yes at most)";
    return std::nullopt;
  }
  if (o.search && !o.ports.empty()) {
    error = "--search and --port exclude each other";
    return std::nullopt;
  }
  return o;
}
