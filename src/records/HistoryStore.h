// Where handset records are kept. The local store is also the outbox of a
// line's central database: a record stays "undelivered" until the central
// server has it. The interface names no database library, so that another
// store (a Windows one) can stand behind it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HandsetRecord.h"

/// Records whose start lies in [since, until); an open end is unbounded.
struct HistoryPeriod {
  std::optional<int64_t> sinceMs, untilMs;  ///< ms since 1970, UTC
};

class IHistoryStore {
 public:
  virtual ~IHistoryStore() = default;
  /// Writes one record in a transaction of its own: once it returns true
  /// the record survives a crash or a power loss. False with the reason.
  virtual bool Add(const HandsetRecord& record, std::string& error) = 0;
  /// The records of `period`, in the order they were written.
  virtual bool Query(const HistoryPeriod& period, std::vector<HandsetRecord>& out, std::string& error) = 0;
  /// Up to `limit` records not yet delivered, oldest first.
  virtual bool Undelivered(size_t limit, std::vector<HandsetRecord>& out, std::string& error) = 0;
  virtual bool MarkDelivered(const std::vector<std::string>& ids, std::string& error) = 0;
};

/// The schema version this program writes and reads.
inline constexpr int kHistorySchemaVersion = 1;

/// Opens (creating file, folders and schema on first use) the local store
/// at `path`. Nothing, with the reason in `error`, when it cannot be opened
/// or was written by a newer program.
std::unique_ptr<IHistoryStore> OpenLocalHistory(const std::string& path, std::string& error);

/// $VELMORA_HISTORY, else $XDG_STATE_HOME/velmora/history.sqlite3, else
/// ~/.local/state/velmora/history.sqlite3. Empty when none can be told.
std::string DefaultHistoryPath();
