#include "Resources.h"

#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

MachineInfo DescribeMachine() {
  MachineInfo m;
  m.nproc = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) != 0) continue;
    const size_t colon = line.find(':');
    if (colon != std::string::npos) m.cpu = line.substr(colon + 2);
    break;
  }
  if (m.cpu.empty()) m.cpu = "unknown CPU";
  utsname u{};
  if (uname(&u) == 0) m.kernel = std::string(u.sysname) + " " + u.release;
  return m;
}

uint64_t ProcessCpuUs() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  auto us = [](const timeval& t) {
    return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_usec);
  };
  return us(ru.ru_utime) + us(ru.ru_stime);
}

uint64_t SteadyNowNs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

std::vector<int> ThreadIds() {
  std::vector<int> ids;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", ec))
    ids.push_back(std::atoi(entry.path().filename().c_str()));
  return ids;
}

ThreadUsage ThreadUsageOf(int tid) {
  ThreadUsage u;
  const std::string dir = "/proc/self/task/" + std::to_string(tid);
  // schedstat: nanoseconds on a CPU, nanoseconds waiting, times run.
  std::ifstream sched(dir + "/schedstat");
  sched >> u.cpuNs;
  std::ifstream status(dir + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
      u.switches += std::strtoull(line.substr(line.find(':') + 1).c_str(), nullptr, 10);
  }
  return u;
}

std::string OwnDirectory() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return ".";
  self[n] = '\0';
  return std::filesystem::path(self).parent_path().string();
}
