// What a host (the window, velmora-cli) keeps of its handsets: each entry's
// result goes into the local history the moment the engine knows it, and,
// with HISTORY_URL in the settings, on to the line's central database. A
// history that cannot be written costs its host one line, never the run.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "HandsetRecord.h"
#include "HistoryDelivery.h"
#include "HistoryStore.h"

class CDownloadRun;
class CVelmoraDlg;
struct RunImage;

/// The setting that names the central database (a PostgreSQL URI).
inline constexpr const char* kHistoryUrlSetting = "HISTORY_URL";
/// How long a program that ends waits for its last records to reach a
/// server that answers.
inline constexpr std::chrono::milliseconds kDeliveryGrace{3000};

class CHistoryKeeper {
 public:
  /// Records `dlg`'s handsets into the history at `path` (empty: the
  /// default), opened at the first record. With `deliver`, and HISTORY_URL
  /// in the settings, delivery starts at once (the outbox may hold records
  /// of earlier runs) and the settings file is made readable by its owner
  /// only, as it holds the URI.
  explicit CHistoryKeeper(const CVelmoraDlg& dlg, std::string path = {}, bool deliver = true);
  /// Gives the delivery kDeliveryGrace to hand over what is pending.
  ~CHistoryKeeper();
  CHistoryKeeper(const CHistoryKeeper&) = delete;
  CHistoryKeeper& operator=(const CHistoryKeeper&) = delete;

  /// Records entry `entry`'s result in its run. Returns, at most once a
  /// run, the line that says why the history could not be written.
  std::optional<std::string> Record(int entry);

  const std::string& Path() const { return m_path; }

  /// The record of entry `entry` as its run stands.
  HandsetRecord BuildRecord(int entry);

 private:
  /// What a run's records share: its id, its images (each hashed once per
  /// content), whether a failure to write was told in it.
  struct RunInfo {
    std::string id;
    std::vector<ImageRecord> images;
    bool told = false;
  };
  RunInfo& InfoOf(const CDownloadRun& run);
  ImageRecord Hash(const RunImage& image);

  const CVelmoraDlg& m_dlg;
  std::string m_path;
  std::unique_ptr<IHistoryStore> m_store;
  std::unique_ptr<CHistoryDelivery> m_delivery;
  std::string m_station;
  /// By run serial; runs long ended are forgotten.
  std::map<uint64_t, RunInfo> m_runs;
  /// By path: file size, modification time and what the hash gave.
  struct Hashed {
    int64_t size = -1;
    int64_t modified = 0;
    ImageRecord image;
  };
  std::map<std::string, Hashed> m_hashes;
};

/// The first entry of `dlg`'s current run (0 when none takes part), whose
/// log tells what concerns the whole run.
int FirstEntryOfRun(const CVelmoraDlg& dlg);

/// Reads HISTORY_URL from the settings (empty when unset) and, when set,
/// makes the settings file readable by its owner only. A problem doing so
/// in `warning`.
std::string CentralHistoryUrl(std::string& warning);
