#include "CliOptions.h"

#include <cstdlib>

#include "platform/PortMap.h"

const char* CliUsage() {
  return "usage: velmora-cli [--phone FILE] [--change-downloader] [--input-address] [--boot FILE]\n"
         "                   [--qbfs FILE] [--resource FILE] [--efs2 DIR] [--port N=DEVICE ...]\n"
         "                   [--search] [--yes] [--timeout SECONDS] [--create-resource DIR]\n";
}

std::optional<CliOptions> ParseCliOptions(int argc, char** argv, std::string& error) {
  CliOptions o;
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
    if (arg == "--phone") {
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
    } else if (arg == "--change-downloader") {
      o.changeDownloader = true;
    } else if (arg == "--input-address") {
      o.inputAddress = true;
    } else if (arg == "--search") {
      o.search = true;
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
      const size_t eq = spec->find('=');
      const std::string number = eq == std::string::npos ? std::string() : spec->substr(0, eq);
      char* end = nullptr;
      long n = number.empty() ? 0 : std::strtol(number.c_str(), &end, 10);
      if (number.empty() || *end || n < 1 || n > MAX_COM_PORT || eq + 1 >= spec->size()) {
        error = "--port needs N=DEVICE with N in 1..30, not '" + *spec + "'";
        return std::nullopt;
      }
      o.ports.emplace_back(static_cast<int>(n), spec->substr(eq + 1));
    } else {
      error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
  }
  return o;
}
