// The command line of velmora-cli.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct CliOptions {
  std::optional<std::string> phone, boot, qbfs, resource, efs2, createResource;
  bool changeDownloader = false;
  bool inputAddress = false;
  bool search = false;
  /// --station: batch after batch as handsets come and go, until a signal.
  bool station = false;
  /// Seconds without a port arriving or leaving before a batch starts.
  double settleSeconds = 3.0;
  /// --forget-ports: clear the kept COM numbers (asks unless --yes).
  bool forgetPorts = false;
  bool yes = false;
  bool help = false;  ///< --help: print the usage and do nothing else
  int timeoutSeconds = 600;  ///< of one run (of each batch with --station)
  std::vector<std::pair<int, std::string>> ports;  ///< COM number, device
  /// Roots Port Search scans instead of /sys and /dev (test trees).
  std::optional<std::string> sysfsRoot, devRoot;

  /// True when an image or folder to download was named.
  bool HasImage() const { return phone || boot || qbfs || resource || efs2; }
};

/// Parses argv. On bad usage returns nothing and sets `error`.
std::optional<CliOptions> ParseCliOptions(int argc, char** argv, std::string& error);

/// The usage text.
const char* CliUsage();
