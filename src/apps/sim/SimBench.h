// A row of simulated handsets, one pty each, that can be put into the
// process's COM-number map so the tool finds them as COM ports.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/SimConfig.h"
#include "sim/SimHandset.h"

class CSimBench {
 public:
  ~CSimBench() { Stop(); }

  /// Starts `count` handsets with `config`. On failure those already
  /// started are stopped again and `error` says why.
  bool Start(int count, const SimHandsetConfig& config, std::string* error = nullptr);
  /// Starts one handset per config, each with its own, in that order.
  bool Start(const std::vector<SimHandsetConfig>& configs, std::string* error = nullptr);

  /// Stops every handset.
  void Stop();

  /// Number of handsets.
  int Count() const { return static_cast<int>(m_handsets.size()); }

  /// Handset `index` (0-based).
  CSimHandset& Handset(int index) { return *m_handsets.at(static_cast<size_t>(index)); }

  /// Maps COM firstCom + i to handset i's slave in CPortMap. False (and
  /// nothing mapped) when a number would fall outside 1..MAX_COM_PORT.
  bool MapPorts(int firstCom = 1);

  /// Removes the mappings made by MapPorts.
  void UnmapPorts();

  /// The COM number of handset `index` after MapPorts, else 0.
  int ComOf(int index) const;

 private:
  std::vector<std::unique_ptr<CSimHandset>> m_handsets;
  int m_nFirstCom = 0;
};
