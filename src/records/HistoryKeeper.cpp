#include "HistoryKeeper.h"

#include <filesystem>
#include <system_error>

#include "platform/OsFile.h"
#include "OwnerOnly.h"
#include "ports/PortSearchOptions.h"
#include "platform/Registry.h"
#include "RunReport.h"
#include "VelmoraDlg.h"
#include "link/Trace.h"
#include "platform/PortDiscovery.h"
#include "platform/PortMap.h"

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "unknown"
#endif

namespace {
// A URI with a long password, host name and TLS options is longer than
// the values the program writes itself.
constexpr size_t kMaxUrlLength = 2048;
}  // namespace

std::string CentralHistoryUrl(std::string& warning) {
  const std::string url = CRegistry::ReadString(kHistoryUrlSetting, kMaxUrlLength);
  if (!url.empty()) MakeOwnerOnly(CRegistry::StorePath(), warning);
  return url;
}

int FirstEntryOfRun(const CVelmoraDlg& dlg) {
  const CDownloadRun* run = dlg.LastRun();
  return run && !run->Members().empty() ? run->Members().front() : 0;
}

CHistoryKeeper::CHistoryKeeper(const CVelmoraDlg& dlg, std::string path, bool deliver)
    : m_dlg(dlg), m_path(path.empty() ? DefaultHistoryPath() : std::move(path)), m_station(OsHostName()) {
  if (!deliver || m_path.empty()) return;
  std::string warning;
  const std::string url = CentralHistoryUrl(warning);
  if (!warning.empty()) Trace("history: the settings file keeps its rights: " + warning + "\n");
  if (url.empty()) return;
  m_delivery = std::make_unique<CHistoryDelivery>(m_path, url);
  m_delivery->Start();
}

CHistoryKeeper::~CHistoryKeeper() {
  if (m_delivery) m_delivery->Stop(kDeliveryGrace);
}

std::optional<std::string> CHistoryKeeper::Record(int entry) {
  if (entry < 0 || entry >= MAX_ENTRIES || !m_dlg.RunOf(entry)) return std::nullopt;
  RunInfo& info = InfoOf(*m_dlg.RunOf(entry));
  const HandsetRecord record = BuildRecord(entry);
  std::string error;
  if (m_path.empty()) error = "no place for it (neither VELMORA_HISTORY nor HOME is set)";
  if (!m_store && !m_path.empty()) m_store = OpenLocalHistory(m_path, error);
  if (m_store && m_store->Add(record, error)) {
    if (m_delivery) m_delivery->Nudge();
    return std::nullopt;
  }
  // Opened afresh next time: the file may have been moved away or its
  // disk freed meanwhile.
  m_store.reset();
  if (info.told) return std::nullopt;
  info.told = true;
  return "History not written: " + error;
}

HandsetRecord CHistoryKeeper::BuildRecord(int entry) {
  const CDownloadRun& run = *m_dlg.RunOf(entry);
  const RunEntry& e = m_dlg.Outcome(entry);
  const RunInfo& info = InfoOf(run);
  HandsetRecord r;
  r.id = NewRecordId();
  r.station = m_station;
  r.version = VELMORA_VERSION;
  r.mode = run.Plan().flow ? "flow" : "batch";
  r.run = info.id;
  r.entry = entry + 1;
  r.com = e.m_nRunPort;
  r.device = CPortMap::Instance().Device(e.m_nRunPort).value_or("");
  PortIdentity identity;
  if (!r.device.empty() && CPortDiscovery(PortSearchOptions()).IdentifyDevice(r.device, identity)) {
    if (!identity.byPath.empty()) r.socket = identity.byPath.front();
    r.usbSerial = identity.usbSerial;
  }
  r.images = info.images;
  const bool completed = e.m_nResult == RESULT_COMPLETED;
  r.result = completed ? kResultCompleted : kResultFailed;
  if (!completed) r.reason = e.m_strReason;
  r.blocks = e.m_nBlocksSent;
  r.retries = e.m_nRetries;
  r.started = IsoTime(e.m_runStart);
  r.ended = IsoTime(e.m_runEnd);
  return r;
}

CHistoryKeeper::RunInfo& CHistoryKeeper::InfoOf(const CDownloadRun& run) {
  auto found = m_runs.find(run.Serial());
  if (found != m_runs.end()) return found->second;
  // Runs end in the order they started, give or take a few side by side.
  while (m_runs.size() >= static_cast<size_t>(MAX_ENTRIES)) m_runs.erase(m_runs.begin());
  RunInfo& info = m_runs[run.Serial()];
  info.id = NewRecordId();
  for (const RunImage& image : run.Plan().Images()) info.images.push_back(Hash(image));
  return info;
}

ImageRecord CHistoryKeeper::Hash(const RunImage& image) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const auto size = static_cast<int64_t>(fs::file_size(image.path, ec));
  const int64_t modified = ec ? 0 : fs::last_write_time(image.path, ec).time_since_epoch().count();
  Hashed& known = m_hashes[image.path];
  // A station hashes each image once a shift, not once a batch.
  if (ec || known.image.sha256.empty() || known.size != size || known.modified != modified) {
    known = Hashed{};
    known.image.path = image.path;
    uint64_t read = 0;
    if (HashFile(image.path, read, known.image.sha256)) {
      known.image.size = static_cast<int64_t>(read);
      known.size = size;
      known.modified = modified;
    }
  }
  ImageRecord record = known.image;
  record.kind = image.kind;
  return record;
}
