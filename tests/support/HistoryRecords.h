// Handset records made up for the history's tests, and the history read
// back from its file.
#pragma once

#include <string>
#include <vector>

#include "records/HandsetRecord.h"
#include "records/HistoryStore.h"

/// A record of `station` on COM `com` that started at `started`; failed
/// with `reason` unless the reason is empty.
inline HandsetRecord MadeUpRecord(const std::string& station, int com, const std::string& started,
                                  const std::string& reason = "", const std::string& socket = "") {
  HandsetRecord r;
  r.id = NewRecordId();
  r.station = station;
  r.version = "5.1";
  r.mode = "batch";
  r.run = "run-" + started.substr(0, 10);
  r.entry = com;
  r.com = com;
  r.socket = socket;
  r.usbSerial = socket.empty() ? "" : "SN" + std::to_string(com);
  r.device = "/dev/ttyACM" + std::to_string(com - 1);
  r.images = {{"boot", "/img/boot.bin", 1024, std::string(64, 'b')}, {"phone", "/img/app.bin", 4096, std::string(64, 'a')}};
  r.result = reason.empty() ? kResultCompleted : kResultFailed;
  r.reason = reason;
  r.blocks = 4;
  r.retries = reason.empty() ? 0 : 2;
  r.started = started;
  r.ended = started;
  return r;
}

/// Every record of the history at `path`; empty (with `error`) when it
/// cannot be read.
inline std::vector<HandsetRecord> ReadHistory(const std::string& path, std::string* error = nullptr) {
  std::string why;
  std::vector<HandsetRecord> records;
  const auto store = OpenLocalHistory(path, why);
  if (!store || !store->Query({}, records, why)) records.clear();
  if (error) *error = why;
  return records;
}
