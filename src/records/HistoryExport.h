// What a supervisor reads out of the history: the yield of a period, per
// COM number (a bad cable or hub port shows as one socket failing more than
// its neighbours) and the commonest failures; and the records themselves
// as CSV (RFC 4180) or JSON Lines.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "HandsetRecord.h"

struct ComSummary {
  std::string station;
  int com = 0;
  std::string socket;  ///< of its latest record; empty when unknown
  int completed = 0, failed = 0;
  std::string topReason;  ///< its commonest failure; empty when none failed
  int topReasonCount = 0;
};

struct HistorySummary {
  int completed = 0, failed = 0;
  /// By station, then COM number.
  std::vector<ComSummary> coms;
  /// Failure reasons with their counts, commonest first.
  std::vector<std::pair<std::string, int>> reasons;
  /// Records of more than one station: lines name their station.
  bool severalStations = false;
};

HistorySummary Summarize(const std::vector<HandsetRecord>& records);

/// "95.0%", or "-" when nothing ended.
std::string YieldText(int completed, int failed);

/// The summary as the history command prints it, under `heading`.
std::string FormatSummary(const HistorySummary& summary, const std::string& heading);

/// The CSV header and one line per record, each ending in CR LF.
std::string CsvHeader();
std::string CsvLine(const HandsetRecord& record);

/// One record as one line of JSON (ending in a line feed), the CSV's fields
/// with the images in full.
std::string JsonLine(const HandsetRecord& record);
