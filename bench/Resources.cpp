#include "Resources.h"

#include <stdlib.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

CScratchDir::CScratchDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "velmora-bench-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) != nullptr) m_path = buf.data();
}

CScratchDir::~CScratchDir() {
  if (m_path.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::string WritePhoneImage(const std::string& dir, uint64_t size, uint32_t start) {
  constexpr uint64_t kTrailer = 37;
  if (size < kTrailer) return std::string();
  const std::string path = dir + "/phone_" + std::to_string(size) + "_" + std::to_string(start) + ".bin";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return std::string();
  // Written in pieces so a 16 MiB image costs the parent no memory; the body
  // varies with the offset so that the handset's flash can be compared.
  std::vector<uint8_t> chunk(64 * 1024);
  bool ok = true;
  for (uint64_t at = 0; ok && at < size; at += chunk.size()) {
    const uint64_t n = std::min<uint64_t>(chunk.size(), size - at);
    for (uint64_t k = 0; k < n; ++k) chunk[k] = static_cast<uint8_t>(((at + k) * 7 + (at + k) / 1024) & 0xFF);
    ok = std::fwrite(chunk.data(), 1, n, f) == n;
  }
  // The trailer: marker, s/w version 7 and the start address, little-endian.
  uint8_t marker[3] = {0xFF, 0x1D, 0x00};
  uint8_t version[4] = {7, 0, 0, 0};
  uint8_t address[4];
  for (int k = 0; k < 4; ++k) address[k] = static_cast<uint8_t>(start >> (8 * k));
  const long end = static_cast<long>(size);
  ok = ok && std::fseek(f, end - 37, SEEK_SET) == 0 && std::fwrite(marker, 1, 3, f) == 3;
  ok = ok && std::fseek(f, end - 20, SEEK_SET) == 0 && std::fwrite(version, 1, 4, f) == 4;
  ok = ok && std::fseek(f, end - 16, SEEK_SET) == 0 && std::fwrite(address, 1, 4, f) == 4;
  ok = std::fclose(f) == 0 && ok;
  return ok ? path : std::string();
}

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
