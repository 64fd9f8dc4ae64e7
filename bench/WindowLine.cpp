#include "WindowLine.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "Resources.h"
#include "sim/SimBench.h"

extern char** environ;

namespace {

constexpr uint32_t kStart = 0x10000;

void Progress(const std::string& text) {
  std::fprintf(stderr, "bench: %s\n", text.c_str());
  std::fflush(stderr);
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string FindInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

/// CPU time (user + system) of process `pid` in milliseconds, from /proc.
double CpuMsOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  // Fields 3.. after the name: utime and stime are the 14th and 15th.
  for (int k = 3; k <= 15 && fields >> field; ++k) {
    if (k == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
    if (k == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
  }
  return static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

/// A virtual X server of its own for the window, when Xvfb is installed.
class CXServer {
 public:
  ~CXServer() { Stop(); }
  bool Start() {
    const std::string xvfb = FindInPath("Xvfb");
    if (xvfb.empty()) return false;
    for (int attempt = 0; attempt < 20; ++attempt) {
      const int number = 100 + static_cast<int>((getpid() + attempt * 7) % 400);
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
      if (access(socket.c_str(), F_OK) == 0) continue;
      const std::string display = ":" + std::to_string(number);
      std::vector<std::string> args{xvfb, display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"};
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
      const int rc = posix_spawn(&m_pid, xvfb.c_str(), &actions, nullptr, argv.data(), environ);
      posix_spawn_file_actions_destroy(&actions);
      if (rc != 0) return false;
      for (int wait = 0; wait < 100; ++wait) {
        if (access(socket.c_str(), F_OK) == 0) {
          m_display = display;
          return true;
        }
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
          m_pid = 0;
          break;  // taken after all: try the next number
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      Stop();
    }
    return false;
  }
  void Stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = 0;
  }
  const std::string& Display() const { return m_display; }
  pid_t Pid() const { return m_pid; }

 private:
  pid_t m_pid = 0;
  std::string m_display;
};

struct DriverRun {
  bool warm = false;
  bool probe = false;
  bool ok = false;
  double seconds = 0, cpuMs = 0, paints = 0, clickMaxMs = 0, clickMedianMs = 0;
  int clicks = 0, failed = 0;
};

/// Starts the driver with `args` and `env`, returns the runs it printed;
/// `error` says what went wrong, if anything did.
std::vector<DriverRun> RunDriver(const std::vector<std::string>& args, const std::vector<std::string>& env,
                                 std::string& error) {
  std::vector<DriverRun> runs;
  int out[2];
  if (pipe(out) != 0) {
    error = "no pipe";
    return runs;
  }
  std::vector<std::string> a = args, e = env;
  std::vector<char*> argv, envp;
  for (auto& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  for (auto& s : e) envp.push_back(s.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    error = "cannot start " + args[0] + ": " + std::strerror(rc);
    return runs;
  }
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    text.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::map<std::string, std::string> f;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
      const size_t eq = word.find('=');
      if (eq != std::string::npos) f[word.substr(0, eq)] = word.substr(eq + 1);
    }
    if (!f.count("run")) continue;
    DriverRun r;
    r.warm = f["warm"] == "1";
    r.probe = f["probe"] == "1";
    r.ok = f["ok"] == "1";
    r.seconds = std::atof(f["seconds"].c_str());
    r.cpuMs = std::atof(f["cpu_ms"].c_str());
    r.paints = std::atof(f["paints"].c_str());
    r.clicks = std::atoi(f["clicks"].c_str());
    r.clickMaxMs = std::atof(f["click_max_ms"].c_str());
    r.clickMedianMs = std::atof(f["click_median_ms"].c_str());
    r.failed = std::atoi(f["failed"].c_str());
    runs.push_back(r);
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    error = args[0] + " ended with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return runs;
}

void Fold(HostFigures& f, const std::vector<DriverRun>& runs, std::vector<double>& seconds, std::vector<double>& cpu,
          std::vector<double>& paints, std::vector<double>& clickMedians) {
  for (const DriverRun& r : runs) {
    if (r.warm) continue;
    if (r.probe) {
      // Its clicks only: it is not one of the runs the slider was left alone in.
      f.clicks += r.clicks;
      f.clickMaxMs = std::max(f.clickMaxMs, r.clickMaxMs);
      if (r.clicks > 0) clickMedians.push_back(r.clickMedianMs);
      if (!r.ok && f.failure.empty()) f.failure = "the run with clicks: " + std::to_string(r.failed) + " entries did not complete";
      continue;
    }
    ++f.runs;
    if (!r.ok) {
      if (f.failure.empty()) f.failure = std::to_string(r.failed) + " entries did not complete";
      continue;
    }
    ++f.runsOk;
    seconds.push_back(r.seconds);
    cpu.push_back(r.cpuMs);
    paints.push_back(r.paints);
  }
}

}  // namespace

WindowFigures RunWindowLines(const WindowOptions& o, std::string driver) {
  WindowFigures all;
  all.handsets = o.handsets;
  all.programUs = o.programUs;
  all.paceBps = o.paceBps;
  all.clickMs = o.clickMs;
  if (driver.empty()) driver = OwnDirectory() + "/velmora-window-bench";
  if (access(driver.c_str(), X_OK) != 0) {
    all.why = "no " + driver + " (the Qt window is built only where Qt 6 Widgets is installed)";
    return all;
  }
  CTempDir dir("velmora-window-bench-");
  CXServer x;
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string s = *e;
    if (s.rfind("DISPLAY=", 0) == 0 || s.rfind("QT_QPA_PLATFORM=", 0) == 0 || s.rfind("VELMORA_SETTINGS=", 0) == 0)
      continue;
    env.push_back(s);
  }
  // The hosts' remembered folders and kept COM numbers go to a scratch file.
  env.push_back("VELMORA_SETTINGS=" + dir.path() + "/settings.ini");
  if (x.Start()) {
    env.push_back("DISPLAY=" + x.Display());
    env.push_back("QT_QPA_PLATFORM=xcb");
    all.platform = "xcb on Xvfb " + x.Display() + " (1280x1024x24)";
  } else {
    env.push_back("QT_QPA_PLATFORM=offscreen");
    all.platform = "offscreen (no Xvfb found)";
  }

  CSimBench sims;
  std::string error;
  if (!sims.Start(o.handsets, SimHandsetConfig{}, &error)) {
    all.why = "handsets: " + error;
    return all;
  }
  std::vector<std::string> ports;
  for (int k = 0; k < o.handsets; ++k) ports.push_back(std::to_string(k + 1) + "=" + sims.Handset(k).SlavePath());

  struct Line {
    WindowLineFigures* figures;
    const char* name;
    uint32_t blocks, paceBps, programUs;
  };
  char programming[48];
  std::snprintf(programming, sizeof programming, "%.1f ms programming", o.programUs / 1000.0);
  all.programmed.name = programming;
  all.paced.name = "paced " + std::to_string(o.paceBps) + " B/s";
  all.unpaced.name = "unpaced";
  const Line lines[] = {
      {&all.programmed, "programming", o.programBlocks, 0, o.programUs},
      {&all.paced, "paced", o.pacedBlocks, o.paceBps, 0},
      {&all.unpaced, "unpaced", o.unpacedBlocks, 0, 0},
  };
  double xCpu = 0;
  for (const Line& line : lines) {
    line.figures->blocks = line.blocks;
    for (int k = 0; k < o.handsets; ++k) {
      sims.Handset(k).SetPace(line.paceBps);
      sims.Handset(k).SetProgramUs(line.programUs);
    }
    const std::string image = MakePhoneImage(dir.path(), kStart + uint64_t{line.blocks} * 1024, kStart);
    std::vector<double> seconds[2], cpu[2], paints[2], clicks[2];
    for (int round = 0; round < o.rounds; ++round) {
      for (int host = 0; host < 2; ++host) {
        const bool window = host == 1;
        Progress(std::string("window line, ") + line.name + ", " + (window ? "window" : "headless host") +
                 ", round " + std::to_string(round + 1) + "/" + std::to_string(o.rounds));
        std::vector<std::string> args{driver, "--host", window ? "window" : "headless", "--phone", image, "--runs",
                                      std::to_string(o.runsPerRound)};
        if (window && o.clickMs > 0) {
          args.push_back("--click-ms");
          args.push_back(std::to_string(o.clickMs));
        }
        for (const std::string& p : ports) {
          args.push_back("--port");
          args.push_back(p);
        }
        const double x0 = window && x.Pid() > 0 ? CpuMsOf(x.Pid()) : 0;
        std::string failure;
        const std::vector<DriverRun> runs = RunDriver(args, env, failure);
        if (window && x.Pid() > 0) xCpu += CpuMsOf(x.Pid()) - x0;
        HostFigures& f = window ? line.figures->window : line.figures->headless;
        if (!failure.empty() && f.failure.empty()) f.failure = failure;
        if (runs.empty() && f.failure.empty()) f.failure = "no run reported";
        Fold(f, runs, seconds[host], cpu[host], paints[host], clicks[host]);
      }
    }
    for (int host = 0; host < 2; ++host) {
      HostFigures& f = host == 1 ? line.figures->window : line.figures->headless;
      f.seconds = Median(seconds[host]);
      f.cpuMs = Median(cpu[host]);
      f.paints = Median(paints[host]);
      f.clickMedianMs = Median(clicks[host]);
    }
  }
  all.xServerCpuMs = xCpu;
  all.measured = true;
  return all;
}
