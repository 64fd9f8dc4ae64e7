// velmora-sim: simulated handsets on pseudo-terminals, for demos and tests.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/SimBench.h"
#include "sim/SimOptions.h"
#include "VelmoraVersion.h"

int main(int argc, char** argv) {
  SimOptions options;
  std::string error;
  if (!ParseSimOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "velmora-sim: %s\n%s", error.c_str(), SimUsage().c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(SimUsage().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("velmora-sim %s\n", VELMORA_VERSION);
    return 0;
  }

  // Block the stop signals before any thread starts, so that only the
  // signal descriptor below ever takes them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int sigFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (sigFd < 0) {
    std::perror("velmora-sim: signalfd");
    return 1;
  }

  std::vector<SimHandsetConfig> configs;
  for (int i = 0; i < options.count; ++i) configs.push_back(SimHandsetConfigFor(options, options.firstCom + i));
  CSimBench bench;
  if (!bench.Start(configs, &error)) {
    std::fprintf(stderr, "velmora-sim: %s\n", error.c_str());
    return 1;
  }
  for (int i = 0; i < bench.Count(); ++i)
    std::printf("COM%d=%s\n", options.firstCom + i, bench.Handset(i).SlavePath().c_str());
  // Standard output carries only the port lines, which are handed on as
  // they are; the drawn times go beside them.
  if (SimEraseDelaysDrawn(options))
    for (int i = 0; i < bench.Count(); ++i)
      std::fprintf(stderr, "COM%d erases in %u ms\n", options.firstCom + i, configs[static_cast<size_t>(i)].eraseDelayMs);
  std::fflush(stdout);

  pollfd fds[2] = {{sigFd, POLLIN, 0}, {options.stdinStop ? STDIN_FILENO : -1, POLLIN, 0}};
  for (;;) {
    const int r = poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || (fds[0].revents & POLLIN)) break;
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      char buf[256];
      const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
    }
  }

  for (int i = 0; i < bench.Count(); ++i) bench.Handset(i).Stop();
  for (int i = 0; i < bench.Count(); ++i)
    std::fprintf(stderr, "COM%d %s: %s\n", options.firstCom + i, bench.Handset(i).SlavePath().c_str(),
                 bench.Handset(i).Summary().c_str());
  close(sigFd);
  return 0;
}
