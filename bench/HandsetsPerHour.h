// The handsets-per-hour line: a production bench simulated around the real
// station. velmora-cli --station runs in a process of its own on a fake port
// tree with hot-plug; simulated handsets sit in its sockets, and a simulated
// operator swaps them (pulls the old one, plugs a new one in under the
// socket's name) as the station reports them done, once in batch mode and
// once in flow mode. Everything runs `scale` times as fast as the model: the
// erase times, the swap and the settle are multiplied by it, and so is the
// image, so that a handset programs its blocks at the model's pace per block.
#pragma once

#include <cstdint>
#include <string>

#include "HphLedger.h"

struct HphOptions {
  int sockets = 20;
  double scale = 0.2;               ///< wall time / model time
  uint64_t modelImageBytes = 1u << 20;
  uint32_t eraseMinMs = 2000, eraseMaxMs = 20000;  ///< model, drawn per handset
  uint32_t programMinUs = 2000, programMaxUs = 6000;  ///< per block, drawn per handset; not scaled
  double swapS = 3.0;               ///< model: one swap of the operator
  double settleS = 1.0;             ///< model: the station's --settle
  /// Model: how long of the swap its socket is empty (the old handset out,
  /// the new one not yet in); the rest goes to taking the next handset up.
  double emptyS = 0.5;
  int measured = 100;               ///< handsets in each mode's measured span, at least
  uint32_t seed = 2025;
  std::string cli;                  ///< velmora-cli; empty: the one beside this program
};

struct HphFigures {
  bool measured = false;
  std::string why;  ///< when not measured
  HphOptions options;
  uint32_t blocks = 0;  ///< of the scaled image
  HphModeFigures batch, flow;
};

/// Runs batch mode, then flow mode; progress lines go to stderr.
HphFigures RunHandsetsPerHour(const HphOptions& options);
