// The command line of velmora-cli.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

/// The exit statuses, as --help and the README give them.
enum CliStatus {
  CLI_COMPLETED = 0,  ///< every entry of the run completed
  CLI_FAILED = 1,     ///< a run in which some entry failed
  CLI_USAGE = 2,      ///< the command line itself is wrong
  CLI_NOTHING = 3,    ///< nothing was downloaded: no image or port usable, a caution refused
  CLI_TIMEOUT = 4,    ///< --timeout was reached
  // 128 + the signal (130 SIGINT, 143 SIGTERM): interrupted
};

struct CliOptions {
  std::optional<std::string> phone, boot, qbfs, resource, efs2, createResource;
  bool changeDownloader = false;
  bool inputAddress = false;
  bool search = false;
  /// --station: batch after batch as handsets come and go, until a signal.
  bool station = false;
  /// --flow (with --station): each socket on its own instead of batches.
  bool flow = false;
  /// Seconds without a port arriving or leaving before a batch starts.
  double settleSeconds = 3.0;
  /// --forget-ports: clear the kept COM numbers (asks unless --yes).
  bool forgetPorts = false;
  bool yes = false;
  bool help = false;     ///< --help: print the usage and do nothing else
  bool version = false;  ///< --version: print the name and version and do nothing else
  bool trace = false;    ///< --trace: diagnostic lines on standard error
  /// --report FILE: a JSON report of the run (of each batch, one a line).
  std::optional<std::string> report;
  /// --history FILE: the history the run's handsets are recorded in.
  std::optional<std::string> history;
  int timeoutSeconds = 600;  ///< of one run (of each batch with --station)
  std::vector<std::pair<int, std::string>> ports;  ///< COM number, device
  /// Roots Port Search scans instead of /sys and /dev (test trees).
  std::optional<std::string> sysfsRoot, devRoot;

  /// True when an image or folder to download was named.
  bool HasImage() const { return phone || boot || qbfs || resource || efs2; }
};

/// Parses argv. On bad usage returns nothing and sets `error`.
std::optional<CliOptions> ParseCliOptions(int argc, char** argv, std::string& error);

/// Takes the value of the option at argv[k] into `out` and moves k onto it;
/// false, with `error` naming the option, when the command line ends first.
bool TakeOptionValue(int argc, char** argv, int& k, std::optional<std::string>& out, std::string& error);

/// What makes a named image or folder unusable before any port is opened:
/// a missing path, a directory given as a file (or a file as a folder), one
/// that cannot be read (with the OS's text). Nothing when all are usable.
std::optional<std::string> CliInputProblem(const CliOptions& options);

/// The usage text.
const char* CliUsage();
