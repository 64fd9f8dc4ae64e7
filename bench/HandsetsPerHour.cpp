#include "HandsetsPerHour.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "PortTree.h"
#include "Resources.h"
#include "sim/SimHandset.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kStart = 0x10000;

void Progress(const std::string& text) {
  std::fprintf(stderr, "bench: %s\n", text.c_str());
  std::fflush(stderr);
}

std::string Fmt(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

/// The handsets' own times, drawn in order from the seed: the n-th handset
/// of either mode is the same handset.
class CDraws {
 public:
  explicit CDraws(const HphOptions& o)
      : m_random(o.seed), m_erase(o.eraseMinMs, o.eraseMaxMs), m_program(o.programMinUs, o.programMaxUs) {}
  /// The next handset's configuration at the bench's speed.
  SimHandsetConfig Next(double scale) {
    SimHandsetConfig c;
    c.eraseDelayMs = static_cast<uint32_t>(std::lround(m_erase(m_random) * scale));
    c.programUs = m_program(m_random);
    return c;
  }

 private:
  std::mt19937 m_random;
  std::uniform_int_distribution<uint32_t> m_erase, m_program;
};

/// A simulated handset and the moments of its own work: its first request
/// in, its last block in.
class CTimedHandset {
 public:
  explicit CTimedHandset(const SimHandsetConfig& config) : m_sim(config) {}
  ~CTimedHandset() { Stop(); }
  CTimedHandset(const CTimedHandset&) = delete;
  CTimedHandset& operator=(const CTimedHandset&) = delete;

  bool Start(std::string* error) {
    if (!m_sim.Start(error)) return false;
    m_watch = std::thread([this] { Watch(); });
    return true;
  }
  /// The line dies at once, as when the handset is pulled.
  void Stop() {
    m_bStop = true;
    m_sim.Stop();
    if (m_watch.joinable()) m_watch.join();
  }
  CSimHandset& Sim() { return m_sim; }
  std::optional<Clock::time_point> FirstRequest() const { return At(m_first); }
  std::optional<Clock::time_point> LastBlock() const { return At(m_done); }

 private:
  static std::optional<Clock::time_point> At(const std::atomic<Clock::rep>& t) {
    const Clock::rep v = t.load();
    if (v == 0) return std::nullopt;
    return Clock::time_point(Clock::duration(v));
  }
  /// False when the handset was stopped first.
  bool Await(const std::function<bool(const SimRecord&)>& cond) {
    while (!m_bStop)
      if (m_sim.WaitFor([&](const SimRecord& r) { return m_bStop.load() || cond(r); }, 1000)) return !m_bStop;
    return false;
  }
  void Watch() {
    if (!Await([](const SimRecord& r) { return !r.requests.empty(); })) return;
    m_first = Clock::now().time_since_epoch().count();
    if (!Await([](const SimRecord& r) { return r.transfersDone > 0; })) return;
    m_done = Clock::now().time_since_epoch().count();
  }

  CSimHandset m_sim;
  std::atomic<bool> m_bStop{false};
  std::atomic<Clock::rep> m_first{0}, m_done{0};
  std::thread m_watch;
};

/// VELMORA_SETTINGS set for a child started meanwhile, the old value back after.
class CScopedEnv {
 public:
  CScopedEnv(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    setenv(name, value.c_str(), 1);
  }
  ~CScopedEnv() {
    if (m_old)
      setenv(m_name, m_old->c_str(), 1);
    else
      unsetenv(m_name);
  }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

/// One mode's bench: the sockets on a fake port tree, the station, the
/// operator.
class CBench {
 public:
  CBench(const HphOptions& o, bool flow, std::string cli, std::string image)
      : m_o(o), m_bFlow(flow), m_cli(std::move(cli)), m_image(std::move(image)), m_draws(o),
        m_ledger(flow, o.sockets, o.measured) {}

  HphModeFigures Run();

 private:
  struct Socket {
    std::string name, byPath;
    int handset = -1;
    bool ended = false;   ///< its handset's line came; it waits for the operator
    double pluggedAt = -1;  ///< < 0: there before the station started
  };
  struct Swap {
    int socket = -1;
    int next = -1;  ///< the handset that goes in
    double start = 0, pullAt = 0, plugAt = 0;
    bool pulled = false;
  };

  double Now() const { return std::chrono::duration<double>(Clock::now() - m_origin).count(); }
  double Since(Clock::time_point t) const { return std::chrono::duration<double>(t - m_origin).count(); }
  int NewHandset();
  void Plug(int s, int handset, double at);
  void OnLine(const std::string& line);
  void OnResult(const StationLine& l);
  void Operate();
  void Fail(const std::string& why) {
    if (m_failure.empty()) m_failure = why;
  }

  const HphOptions& m_o;
  const bool m_bFlow;
  const std::string m_cli, m_image;
  CDraws m_draws;
  CHphLedger m_ledger;
  CPortTree m_tree;
  CTempDir m_scratch{"velmora-hph-"};
  CChildProcess m_station;
  std::vector<Socket> m_sockets;
  std::vector<std::unique_ptr<CTimedHandset>> m_handsets;
  /// Sockets whose handset ended, with when their line came; the longest waiting first.
  std::deque<std::pair<int, double>> m_waiting;
  std::vector<int> m_batch;   ///< batch mode: sockets with a line in the batch being told
  Swap m_swap;
  Clock::time_point m_origin = Clock::now();
  double m_lastLine = 0;
  double m_paceFrom = 0;  ///< when the last swap was due to end
  double m_lateS = 0;     ///< plugs behind the operator's schedule, in all
  int m_nSwaps = 0;
  int m_nEnded = 0;
  std::string m_failure;
};

int CBench::NewHandset() {
  auto h = std::make_unique<CTimedHandset>(m_draws.Next(m_o.scale));
  std::string error;
  if (!h->Start(&error)) {
    Fail("a simulated handset did not start: " + error);
    return -1;
  }
  m_handsets.push_back(std::move(h));
  return static_cast<int>(m_handsets.size()) - 1;
}

// As udev leaves it: the device, the socket's link, then the node the
// station is woken by.
void CBench::Plug(int s, int handset, double at) {
  Socket& socket = m_sockets[static_cast<size_t>(s)];
  m_tree.AddSysTty(socket.name, "kvxuart");
  m_tree.AddByPath(socket.byPath, socket.name);
  m_tree.AddNode(socket.name, m_handsets[static_cast<size_t>(handset)]->Sim().SlavePath());
  socket.handset = handset;
  socket.ended = false;
  socket.pluggedAt = at;
}

void CBench::OnResult(const StationLine& l) {
  const double now = Now();
  // Socket k is COM k: the search numbers the sockets in order, and each
  // keeps its number for the handsets that follow.
  const int s = l.com - 1;
  if (s < 0 || s >= m_o.sockets || m_sockets[static_cast<size_t>(s)].handset < 0 ||
      m_sockets[static_cast<size_t>(s)].ended) {
    Fail("a line for COM" + std::to_string(l.com) + ", which has no handset running");
    return;
  }
  Socket& socket = m_sockets[static_cast<size_t>(s)];
  CTimedHandset& h = *m_handsets[static_cast<size_t>(socket.handset)];
  if (l.completed) {
    int done = 0;
    h.Sim().Inspect([&](const SimRecord& r) { done = r.transfersDone; });
    if (done != 1)
      Fail("COM" + std::to_string(l.com) + " completed, but the handset in socket " + std::to_string(l.com) +
           " took " + std::to_string(done) + " images");
  }
  const auto first = h.FirstRequest(), last = h.LastBlock();
  double handsetS = -1, startMs = -1;
  if (l.completed && first && last) handsetS = std::chrono::duration<double>(*last - *first).count() / m_o.scale;
  if (m_bFlow && first && socket.pluggedAt >= 0)
    startMs = (Since(*first) - socket.pluggedAt - m_o.settleS * m_o.scale) * 1000.0;
  m_ledger.Result(now, l.completed, handsetS, startMs);
  if (++m_nEnded % 50 == 0) Progress(Fmt("  %.0f handsets ended", m_nEnded));
  socket.ended = true;
  if (m_bFlow)
    m_waiting.emplace_back(s, now);
  else
    m_batch.push_back(s);
}

void CBench::OnLine(const std::string& line) {
  const StationLine l = ParseStationLine(line);
  if (l.kind == StationLine::Result) {
    m_lastLine = Now();
    OnResult(l);
  } else if (l.kind == StationLine::Batch && !m_bFlow) {
    m_lastLine = Now();
    if (l.completedCount + l.failedCount != static_cast<int>(m_batch.size()))
      Fail("batch " + std::to_string(l.batch) + " told " + std::to_string(m_batch.size()) + " handsets, not " +
           std::to_string(l.completedCount + l.failedCount));
    m_ledger.BatchEnd(Now(), l.completedCount + l.failedCount);
    // Everything of the batch ends at once: the operator goes along the
    // sockets in their order.
    std::sort(m_batch.begin(), m_batch.end());
    for (int s : m_batch) m_waiting.emplace_back(s, m_lastLine);
    m_batch.clear();
  }
}

// The operator does one thing at a time: a swap begins with the next
// handset taken up, the old one comes out near its end and the new one goes
// in at its end.
void CBench::Operate() {
  const double now = Now();
  if (m_swap.socket >= 0 && !m_swap.pulled && now >= m_swap.pullAt) {
    Socket& socket = m_sockets[static_cast<size_t>(m_swap.socket)];
    m_tree.Unplug(socket.name);
    m_handsets[static_cast<size_t>(socket.handset)]->Stop();
    m_swap.pulled = true;
    // However late the pull, the socket stays empty for its time: a station
    // that never saw the old handset leave would wait for it for ever.
    m_swap.plugAt = std::max(m_swap.plugAt, Now() + m_o.emptyS * m_o.scale);
  }
  if (m_swap.socket >= 0 && m_swap.pulled && now >= m_swap.plugAt) {
    Plug(m_swap.socket, m_swap.next, now);
    m_ledger.Swap(m_swap.start, m_swap.plugAt);
    m_lateS += now - m_swap.plugAt;
    ++m_nSwaps;
    m_paceFrom = m_swap.plugAt;
    m_swap = Swap();
  }
  if (m_swap.socket < 0 && !m_waiting.empty() && m_failure.empty()) {
    const auto [socket, readyAt] = m_waiting.front();
    m_waiting.pop_front();
    m_swap.socket = socket;
    m_swap.next = NewHandset();
    // The operator keeps the model's pace: a swap begins when the last one
    // was due to end or when its socket's line came, whichever is later, so
    // the bench's own delays (a late wake-up, a handset started or stopped)
    // do not add up from swap to swap.
    m_swap.start = std::max(m_paceFrom, readyAt);
    m_swap.pullAt = m_swap.start + (m_o.swapS - m_o.emptyS) * m_o.scale;
    m_swap.plugAt = m_swap.start + m_o.swapS * m_o.scale;
    if (m_swap.next < 0) m_swap = Swap();
  }
}

HphModeFigures CBench::Run() {
  const char* mode = m_bFlow ? "flow" : "batch";
  m_sockets.resize(static_cast<size_t>(m_o.sockets));
  for (int s = 0; s < m_o.sockets; ++s) {
    Socket& socket = m_sockets[static_cast<size_t>(s)];
    socket.name = "ttyACM" + std::to_string(s);
    socket.byPath = "pci-0000:00:14.0-usb-0:1." + std::to_string(s + 1) + ":1.0";
    const int h = NewHandset();
    if (h < 0) break;
    Plug(s, h, -1);
  }
  HphModeFigures f;
  if (!m_failure.empty()) {
    f.failure = m_failure;
    return f;
  }
  char settle[32];
  std::snprintf(settle, sizeof settle, "%.3f", m_o.settleS * m_o.scale);
  std::vector<std::string> args = {m_cli, "--station", "--settle", settle, "--sysfs-root", m_tree.SysRoot(),
                                   "--dev-root", m_tree.DevRoot(), "--phone", m_image, "--timeout", "3600"};
  if (m_bFlow) args.insert(args.begin() + 2, "--flow");
  bool started = false;
  {
    // The station keeps its port numbers where this says; the bench's own
    // settings stay out of it.
    CScopedEnv settings("VELMORA_SETTINGS", m_scratch.path() + "/settings.ini");
    started = m_station.Start(args);
  }
  m_origin = Clock::now();
  if (!started) {
    f.failure = "velmora-cli did not start: " + m_cli;
    return f;
  }
  Progress(std::string("handsets per hour, ") + mode + " mode");

  // A batch holds all the sockets' swaps; a flow handset at worst its own
  // time. Four times that without a line means the line has stuck.
  const double longestHandsetS = m_o.eraseMaxMs / 1000.0 * m_o.scale +
                                 static_cast<double>(m_o.modelImageBytes) / 1024 * m_o.scale * m_o.programMaxUs / 1e6;
  const double stallS = 30 + 4 * (longestHandsetS + (m_o.sockets * m_o.swapS + m_o.settleS) * m_o.scale);
  size_t parsed = 0;
  while (m_failure.empty() && !m_ledger.Done()) {
    double deadline = Now() + 0.5;
    if (m_swap.socket >= 0) deadline = std::min(deadline, m_swap.pulled ? m_swap.plugAt : m_swap.pullAt);
    const int waitMs = std::max(0, static_cast<int>(std::ceil((deadline - Now()) * 1000)));
    m_station.WaitForOutput([&](const std::string& out) { return out.find('\n', parsed) != std::string::npos; },
                            waitMs);
    const std::string& out = m_station.Output();
    for (size_t nl; (nl = out.find('\n', parsed)) != std::string::npos; parsed = nl + 1)
      OnLine(out.substr(parsed, nl - parsed));
    Operate();
    if (Now() - m_lastLine > stallS) Fail(Fmt("no handset ended for %.0f s", Now() - m_lastLine));
    const int status = m_station.Wait(0);
    if (status != -1) Fail("the station ended by itself, status " + std::to_string(status));
  }
  if (!m_failure.empty()) {
    // The station's whole output stays behind for whoever looks into it.
    const std::string log = std::filesystem::temp_directory_path().string() + "/velmora-hph-" + mode + "-" +
                            std::to_string(getpid()) + ".log";
    std::ofstream(log, std::ios::binary) << m_station.Output();
    m_failure += " (the station's output: " + log + ")";
  }

  m_station.Signal(SIGTERM);
  const int status = m_station.Wait(30000);
  f = m_ledger.Figures(m_o.scale, m_o.swapS, m_o.settleS);
  f.runWallS = Now();
  f.plugLateMs = m_nSwaps > 0 ? m_lateS / m_nSwaps * 1000 : 0;
  if (m_failure.empty() && status != 128 + SIGTERM)
    Fail("the station ended with status " + std::to_string(status) + " on SIGTERM");
  f.failure = m_failure;
  for (auto& h : m_handsets) h->Stop();
  return f;
}

}  // namespace

HphFigures RunHandsetsPerHour(const HphOptions& o) {
  HphFigures all;
  all.options = o;
  all.options.cli = o.cli.empty() ? OwnDirectory() + "/velmora-cli" : o.cli;
  if (access(all.options.cli.c_str(), X_OK) != 0) {
    all.why = "no velmora-cli at " + all.options.cli;
    return all;
  }
  all.blocks = static_cast<uint32_t>(std::max<long>(1, std::lround(static_cast<double>(o.modelImageBytes) / 1024 * o.scale)));
  CTempDir dir("velmora-hph-");
  const std::string image = MakePhoneImage(dir.path(), kStart + uint64_t{all.blocks} * 1024, kStart);
  if (image.empty()) {
    all.why = "the image could not be written";
    return all;
  }
  all.measured = true;
  all.batch = CBench(all.options, false, all.options.cli, image).Run();
  all.flow = CBench(all.options, true, all.options.cli, image).Run();
  return all;
}
