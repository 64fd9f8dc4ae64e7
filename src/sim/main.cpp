// velmora-sim: simulated handsets on pseudo-terminals, for demos and tests.
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimHandset.h"
#include "sim/SimOptions.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

bool StdinClosed() {
  pollfd p{STDIN_FILENO, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  char c;
  return read(STDIN_FILENO, &c, 1) <= 0;
}
}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  std::string error;
  if (!ParseSimOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "velmora-sim: %s\n%s", error.c_str(), SimUsage().c_str());
    return 2;
  }
  if (options.help) {
    std::printf("%s", SimUsage().c_str());
    return 0;
  }
  std::vector<std::unique_ptr<CSimHandset>> handsets;
  for (int n = 0; n < options.count; ++n) {
    const int com = options.firstCom + n;
    SimHandsetConfig config;
    config.eraseDelayMs = options.eraseDelayMs;
    config.paceBps = options.paceBps;
    for (const auto& [target, fault] : options.faults)
      if (target == 0 || target == com) config.faults.push_back(fault);
    auto handset = std::make_unique<CSimHandset>(config);
    if (!handset->Start(&error)) {
      std::fprintf(stderr, "velmora-sim: %s\n", error.c_str());
      return 1;
    }
    std::printf("COM%d=%s\n", com, handset->SlavePath().c_str());
    handsets.push_back(std::move(handset));
  }
  std::fflush(stdout);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  while (!g_stop && !(options.stdinStop && StdinClosed()))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (size_t n = 0; n < handsets.size(); ++n) {
    const SimRecord r = handsets[n]->Record();
    std::fprintf(stderr, "COM%d: %d blocks written, %d markers, %d jumps, %zu violations%s\n",
                 options.firstCom + static_cast<int>(n), r.blocksWritten, r.markers, r.jumps, r.violations.size(),
                 r.hungUp ? ", hung up" : "");
  }
  handsets.clear();
  return 0;
}
