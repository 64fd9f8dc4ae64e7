// What the benchmarks need around them: a scratch directory, image files,
// the machine's description, and CPU and memory readings of this process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// A scratch directory removed with the object.
class CScratchDir {
 public:
  CScratchDir();
  ~CScratchDir();
  CScratchDir(const CScratchDir&) = delete;
  CScratchDir& operator=(const CScratchDir&) = delete;
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

/// Writes a phone code image of `size` bytes (a valid trailer, version 7,
/// application start `start`) into `dir`; returns its path, empty on error.
std::string WritePhoneImage(const std::string& dir, uint64_t size, uint32_t start);

/// "nproc N, <CPU model>, <kernel>" of this machine.
struct MachineInfo {
  int nproc = 0;
  std::string cpu;
  std::string kernel;
};
MachineInfo DescribeMachine();

/// User plus system CPU time of the whole process, in microseconds.
uint64_t ProcessCpuUs();

/// Ids of this process's threads.
std::vector<int> ThreadIds();

/// What one thread has used: time on a CPU and times it was switched out.
struct ThreadUsage {
  uint64_t cpuNs = 0;
  uint64_t switches = 0;
};
/// The usage of thread `tid` of this process (zeros when it is gone).
ThreadUsage ThreadUsageOf(int tid);

/// Steady-clock time in nanoseconds.
uint64_t SteadyNowNs();
