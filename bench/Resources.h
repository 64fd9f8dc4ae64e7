// What the benchmarks need around them: the machine's description, and CPU
// and memory readings of this process. Scratch folders and images are the
// tests' own (tests/support).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PhoneImage.h"
#include "TempDir.h"

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

/// The folder this program was started from (its sibling programs are there).
std::string OwnDirectory();
