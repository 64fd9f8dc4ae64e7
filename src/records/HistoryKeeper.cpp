#include "HistoryKeeper.h"

#include <filesystem>
#include <system_error>

#include "OsFile.h"
#include "OwnerOnly.h"
#include "PortSearchOptions.h"
#include "Registry.h"
#include "RunReport.h"
#include "VelmoraDlg.h"
#include "comm/Trace.h"
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
  for (int i = 0; i < MAX_ENTRIES; ++i)
    if (dlg.m_entries[i].m_nResult != RESULT_NONE) return i;
  return 0;
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
  if (entry < 0 || entry >= MAX_ENTRIES) return std::nullopt;
  if (m_runId.empty() || m_dlg.m_runStart != m_runStart) {
    m_runStart = m_dlg.m_runStart;
    m_runId = NewRecordId();
    m_bToldThisRun = false;
    m_runImages.reset();
  }
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
  if (m_bToldThisRun) return std::nullopt;
  m_bToldThisRun = true;
  return "History not written: " + error;
}

HandsetRecord CHistoryKeeper::BuildRecord(int entry) {
  const DownloadEntry& e = m_dlg.m_entries[entry];
  HandsetRecord r;
  r.id = NewRecordId();
  r.station = m_station;
  r.version = VELMORA_VERSION;
  r.mode = "batch";
  r.run = m_runId;
  r.entry = entry + 1;
  r.com = e.m_nRunPort;
  r.device = CPortMap::Instance().Device(e.m_nRunPort).value_or("");
  PortIdentity identity;
  if (!r.device.empty() && CPortDiscovery(PortSearchOptions()).IdentifyDevice(r.device, identity)) {
    if (!identity.byPath.empty()) r.socket = identity.byPath.front();
    r.usbSerial = identity.usbSerial;
  }
  r.images = RunImages();
  const bool completed = e.m_nResult == RESULT_COMPLETED;
  r.result = completed ? kResultCompleted : kResultFailed;
  if (!completed) r.reason = e.m_strReason;
  r.blocks = e.m_nBlocksSent;
  r.retries = e.m_nRetries;
  r.started = IsoTime(e.m_runStart);
  r.ended = IsoTime(e.m_runEnd);
  return r;
}

const std::vector<ImageRecord>& CHistoryKeeper::RunImages() {
  if (m_runImages) return *m_runImages;
  std::vector<ImageRecord> images;
  auto add = [&](const char* kind, const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const auto size = static_cast<int64_t>(fs::file_size(path, ec));
    const int64_t modified = ec ? 0 : fs::last_write_time(path, ec).time_since_epoch().count();
    Hashed& known = m_hashes[path];
    // A station hashes each image once a shift, not once a batch.
    if (ec || known.image.sha256.empty() || known.size != size || known.modified != modified) {
      known = Hashed{};
      known.image.path = path;
      uint64_t read = 0;
      if (HashFile(path, read, known.image.sha256)) {
        known.image.size = static_cast<int64_t>(read);
        known.size = size;
        known.modified = modified;
      }
    }
    ImageRecord image = known.image;
    image.kind = kind;
    images.push_back(image);
  };
  if (m_dlg.m_bBootLoader == 1) add("boot", m_dlg.m_strBootPath);
  if (m_dlg.m_bResource == 1) add("resource", m_dlg.m_strResourcePath);
  if (m_dlg.m_bQbfs == 1) add("qbfs", m_dlg.m_strQbfsPath);
  // The list's count is reset as the first handset completes; its names
  // stay until another folder is chosen.
  if (m_dlg.m_bEfs2 == 1)
    for (int k = 2; k < EfsFileList::MAX_NAMES && !g_efsFileList.names[k].empty(); ++k)
      add("efs2", g_efsFileList.folderPath + g_efsFileList.names[k]);
  if (m_dlg.m_bPhoneCode == 1) add("phone", m_dlg.m_strPhonePath);
  m_runImages = std::move(images);
  return *m_runImages;
}
