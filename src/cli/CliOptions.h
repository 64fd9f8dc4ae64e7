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
  bool yes = false;
  int timeoutSeconds = 600;
  std::vector<std::pair<int, std::string>> ports;  ///< COM number, device
};

/// Parses argv. On bad usage returns nothing and sets `error`.
std::optional<CliOptions> ParseCliOptions(int argc, char** argv, std::string& error);

/// The usage text.
const char* CliUsage();
