// The report: the machine, the command, the micro benchmarks, the
// end-to-end figures and each target with its measured value and ratio, as
// one Markdown document that is printed and written to docs/PERFORMANCE.md.
#pragma once

#include <string>
#include <vector>

#include "EndToEnd.h"
#include "Resources.h"

struct MicroFigure {
  std::string name;
  double nsPerOp = 0;
  double mbPerSec = 0;  ///< 0 when the case processes no byte count
};

struct TargetRow {
  std::string target;
  std::string measured;
  std::string limit;
  double ratio = 0;  ///< measured against the limit; ≤ 1 or ≥ 1 as the row says
  bool met = false;
};

/// The window line's targets (also among JudgeTargets's, unless it was left out).
std::vector<TargetRow> JudgeWindowTargets(const WindowFigures& w);

/// The handsets-per-hour line's targets (also among JudgeTargets's, unless it was left out).
std::vector<TargetRow> JudgeHphTargets(const HphFigures& h);

/// The targets judged from the figures.
std::vector<TargetRow> JudgeTargets(const E2eFigures& e);

/// The whole document.
std::string FormatReport(const MachineInfo& machine, const std::string& command,
                         const std::vector<MicroFigure>& micro, const E2eFigures& e, bool withE2e);
