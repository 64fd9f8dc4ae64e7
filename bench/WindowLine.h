// The window line: the real Qt window on twenty simulated handsets, driven as
// the operator drives it, beside the headless host on the same handsets in
// the same run of the benchmark. Each host runs in a process of its own
// (velmora-window-bench) so that its CPU time is the tool's alone; the
// handsets stay in this process. The window gets a virtual X server (Xvfb)
// when there is one, else Qt's off-screen platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WindowOptions {
  int handsets = 20;
  int rounds = 2;                ///< headless then window, this many times
  int runsPerRound = 2;          ///< measured runs of each host per round (after a warm-up)
  uint32_t programBlocks = 200;  ///< the programming line's image
  uint32_t programUs = 3000;
  uint32_t pacedBlocks = 48;     ///< the paced line's image
  uint32_t paceBps = 5760;
  uint32_t unpacedBlocks = 200;  ///< shown, not judged
  int clickMs = 200;             ///< a key press to the slider this often during window runs
};

/// Medians over the measured runs of one host on one line.
struct HostFigures {
  int runsOk = 0;
  int runs = 0;
  std::string failure;
  double seconds = 0;
  double cpuMs = 0;
  double paints = 0;
  int clicks = 0;
  double clickMaxMs = 0;  ///< the longest over all runs
  double clickMedianMs = 0;
};

struct WindowLineFigures {
  std::string name;
  uint32_t blocks = 0;
  HostFigures window, headless;
};

struct WindowFigures {
  bool measured = false;
  std::string why;        ///< when not measured
  std::string platform;   ///< where the window ran
  int handsets = 0;
  WindowLineFigures programmed, paced, unpaced;
  uint32_t programUs = 0;
  uint32_t paceBps = 0;
  int clickMs = 0;
  double xServerCpuMs = 0;  ///< the X server's CPU over all window runs (0 without Xvfb)
};

/// Runs the window line; progress lines go to stderr. `driver` is the path of
/// velmora-window-bench (empty: next to this program).
WindowFigures RunWindowLines(const WindowOptions& options, std::string driver = {});
