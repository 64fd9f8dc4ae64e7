// What the bench keeps of one handset: which images went into it, when, on
// which station, port and socket, and how it ended. One record per handset
// per run, written the moment the entry's result is known.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct ImageRecord {
  std::string kind;  ///< "boot", "resource", "qbfs", "efs2", "phone"
  std::string path;
  int64_t size = -1;   ///< -1 when the file could not be read
  std::string sha256;  ///< lower-case hex; empty when the file could not be read
  bool operator==(const ImageRecord&) const = default;
};

struct HandsetRecord {
  std::string id;       ///< 128 random bits as 32 hex digits; the key everywhere
  std::string station;  ///< host name
  std::string version;  ///< of the program that wrote it
  std::string mode;     ///< "batch" (every entry steps together) or "flow"
  std::string run;      ///< id of the run (or batch) the handset was part of
  int entry = 0;        ///< 1..20
  int com = 0;          ///< COM number the entry ran on
  std::string socket;     ///< /dev/serial/by-path name of its USB socket, empty when unknown
  std::string usbSerial;  ///< USB serial number of the handset (by-id), empty when unknown
  std::string device;     ///< the port's device node
  std::vector<ImageRecord> images;
  std::string result;  ///< "completed" or "failed"
  std::string reason;  ///< why it failed; empty when it completed
  int blocks = 0;      ///< data blocks sent, resends not counted
  int retries = 0;     ///< retry markers and repeated requests
  std::string started, ended;  ///< ISO 8601 with milliseconds and zone
  bool operator==(const HandsetRecord&) const = default;
};

inline constexpr const char* kResultCompleted = "completed";
inline constexpr const char* kResultFailed = "failed";

/// A record from a row of the history's columns, in the order both stores
/// keep and select them (id, station, version, mode, run, entry, com,
/// socket, usb_serial, device, images as JSON, result, reason, blocks,
/// retries, started, ended); `text` and `number` read column c.
HandsetRecord RecordFromColumns(const std::function<std::string(int)>& text,
                                const std::function<int64_t(int)>& number);

/// A fresh id: 128 bits from the system's random source, as 32 lower-case
/// hex digits.
std::string NewRecordId();

/// Milliseconds since 1970 (UTC) of an ISO 8601 date-time with a zone
/// ("2025-03-01T14:22:33.512+01:00", "...Z"); nothing for anything else.
std::optional<int64_t> IsoToEpochMs(const std::string& text);
