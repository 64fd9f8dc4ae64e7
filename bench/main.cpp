// velmora-bench: the micro benchmarks, then whole downloads against
// simulated handsets; prints the report and writes it where --out says.
//
//   velmora-bench [--out FILE] [--command TEXT] [--runs N] [--quick]
//                 [--micro-only] [--window-only] [--no-window]
//                 [--hph-only] [--no-hph] [--hph-scale F] [--hph-handsets N]
//                 [--window-driver PATH] [--full-rss] [--benchmark_...]
//
// --runs N sets the measured runs per entry count (default 5 unpaced, 3
// paced and programming); --quick makes every run short, for trying the
// program out;
// --full-rss sends all of the 16 MiB image instead of its last MiB;
// --window-only measures the window line alone, --no-window leaves it out;
// --hph-only measures the handsets-per-hour line alone, --no-hph leaves it
// out; --hph-scale F runs it at F times the model's time (default 0.2) and
// --hph-handsets N measures N handsets in each mode (default 100);
// --window-driver runs another build's velmora-window-bench (a before/after
// comparison on one machine).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "EndToEnd.h"
#include "Report.h"
#include "Resources.h"

namespace {

/// Keeps each case's figure instead of printing it.
class CCollector : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred) {
        std::fprintf(stderr, "bench: %s: %s\n", r.benchmark_name().c_str(), r.error_message.c_str());
        continue;
      }
      MicroFigure f;
      f.name = r.benchmark_name();
      f.nsPerOp = r.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                  benchmark::GetTimeUnitMultiplier(r.time_unit);
      auto bytes = r.counters.find("bytes_per_second");
      if (bytes != r.counters.end()) f.mbPerSec = bytes->second.value / 1e6;
      figures.push_back(f);
    }
  }
  std::vector<MicroFigure> figures;
};

}  // namespace

int main(int argc, char** argv) {
  std::string out, command = "velmora-bench";
  bool microOnly = false, windowOnly = false, noWindow = false, hphOnly = false, noHph = false;
  std::string windowDriver;
  E2eOptions options;
  WindowOptions windowOptions;
  HphOptions hphOptions;
  std::vector<char*> benchArgs{argv[0]};
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    auto value = [&](const char* name) -> std::string {
      if (k + 1 >= argc) {
        std::fprintf(stderr, "velmora-bench: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++k];
    };
    if (a == "--rss-child" && k + 3 < argc) return RunRssChild(argv[k + 1], argv[k + 2], argv[k + 3]);
    if (a == "--out") {
      out = value("--out");
    } else if (a == "--command") {
      command = value("--command");
    } else if (a == "--runs") {
      options.unpacedRuns = options.pacedRuns = options.programRuns = std::max(1, std::atoi(value("--runs").c_str()));
    } else if (a == "--quick") {
      options.unpacedRuns = options.pacedRuns = options.programRuns = 1;
      // Unpaced, a short image is through on one entry before another's
      // first block is answered, and the first to finish drops the others.
      options.unpacedBlocks = 256;
      options.programBlocks = 64;
      options.pacedBlocks = 12;
      options.idleMs = 2000;
      windowOptions.rounds = 1;
      windowOptions.runsPerRound = 1;
      windowOptions.pacedBlocks = 12;
      hphOptions.scale = 0.1;
      hphOptions.measured = 40;
    } else if (a == "--micro-only") {
      microOnly = true;
    } else if (a == "--window-only") {
      windowOnly = true;
    } else if (a == "--no-window") {
      noWindow = true;
    } else if (a == "--hph-only") {
      hphOnly = true;
    } else if (a == "--no-hph") {
      noHph = true;
    } else if (a == "--hph-scale") {
      hphOptions.scale = std::atof(value("--hph-scale").c_str());
      if (!(hphOptions.scale > 0 && hphOptions.scale <= 1)) {
        std::fprintf(stderr, "velmora-bench: --hph-scale needs a factor in (0, 1]\n");
        return 2;
      }
    } else if (a == "--hph-handsets") {
      hphOptions.measured = std::max(1, std::atoi(value("--hph-handsets").c_str()));
    } else if (a == "--window-driver") {
      windowDriver = value("--window-driver");
    } else if (a == "--full-rss") {
      options.fullRss = true;
    } else if (a.rfind("--benchmark_", 0) == 0) {
      benchArgs.push_back(argv[k]);
    } else {
      std::fprintf(stderr, "velmora-bench: unknown argument %s\n", a.c_str());
      return 2;
    }
  }

  int benchArgc = static_cast<int>(benchArgs.size());
  benchmark::Initialize(&benchArgc, benchArgs.data());
  CCollector collector;
  const bool only = windowOnly || hphOnly;
  if (!only) {
    std::fprintf(stderr, "bench: micro benchmarks\n");
    benchmark::RunSpecifiedBenchmarks(&collector);
  }
  benchmark::Shutdown();

  E2eFigures e2e;
  if (!microOnly && !only) e2e = RunEndToEnd(options);
  if (!microOnly && !noWindow && !hphOnly) {
    e2e.window = RunWindowLines(windowOptions, windowDriver);
  } else {
    e2e.window.why = "left out (--micro-only, --hph-only or --no-window)";
  }
  if (!microOnly && !noHph && !windowOnly) {
    e2e.hph = RunHandsetsPerHour(hphOptions);
  } else {
    e2e.hph.why = "left out (--micro-only, --window-only or --no-hph)";
  }

  const std::string report = FormatReport(DescribeMachine(), command, collector.figures, e2e, !microOnly && !only);
  std::fputs(report.c_str(), stdout);
  if (!out.empty()) {
    std::ofstream file(out);
    file << report;
    if (!file) {
      std::fprintf(stderr, "velmora-bench: cannot write %s\n", out.c_str());
      return 1;
    }
  }
  return 0;
}
