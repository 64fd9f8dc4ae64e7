// One of the programs run as the operator's scripts run it, through the
// shell: its exit status, standard output and standard error apart.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "TestUtil.h"

struct ProgramResult {
  int status = -1;
  std::string out, err;
};

/// Runs `program` with `args` (already quoted as the shell needs); with
/// `unprivileged` as nobody when the tests run as root, for whom every
/// device and file would open.
inline ProgramResult RunProgram(const std::string& program, const std::string& args, const CTempDir& scratch,
                                bool unprivileged = false) {
  const std::string errPath = scratch.path() + "/stderr.txt";
  const std::string prefix = unprivileged && getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  const std::string command = prefix + program + " " + args + " 2>" + errPath;
  ProgramResult r;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) r.out.append(buf, n);
  const int raw = pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream in(errPath);
  std::stringstream err;
  err << in.rdbuf();
  r.err = err.str();
  return r;
}
