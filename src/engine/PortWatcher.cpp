#include "PortWatcher.h"

#include "ports/PortSearchOptions.h"
#include "ports/PortStoreSettings.h"
#include "VelmoraDlg.h"
#include "link/Trace.h"
#include "platform/PortMap.h"

HotPlugOptions CPortWatcher::DefaultOptions() {
  const PortDiscoveryOptions search = PortSearchOptions();
  HotPlugOptions options;
  options.sysfsRoot = search.sysfsRoot;
  options.devRoot = search.devRoot;
  options.fragments = search.fragments;
  options.trace = search.trace;
  return options;
}

CPortWatcher::CPortWatcher(IWindow& window, HotPlugOptions options)
    : m_window(window),
      m_hotPlug(std::move(options), [this](HotPlugEvent event, const std::string& device) { OnChange(event, device); }) {}

CPortWatcher::~CPortWatcher() { Stop(); }

bool CPortWatcher::Start() { return m_hotPlug.Start(); }

void CPortWatcher::Stop() { m_hotPlug.Stop(); }

size_t CPortWatcher::Pending() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_pending.size();
}

void CPortWatcher::OnChange(HotPlugEvent event, const std::string& device) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pending.push_back({event, device});
  }
  if (!m_window.PostMessage(WM_DEVICECHANGE, 0, 0)) Trace("PORT WATCHER: wake-up not posted\n");
}

void CPortWatcher::Dispatch(CVelmoraDlg& dlg) {
  for (;;) {
    Change change;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      if (m_pending.empty()) return;
      change = std::move(m_pending.front());
      m_pending.pop_front();
    }
    CPortMap& map = CPortMap::Instance();
    // Numbers are taken here, on the dialog's thread, in the order of the
    // changes: a device that leaves and comes back finds its old number
    // freed first.
    const bool arrived = change.event == HotPlugEvent::Arrived;
    if (!arrived && m_onRemoved) m_onRemoved(change.device);
    // An arrival is known by its socket (or serial) where it has one, so it
    // gets the number kept for it.
    const int number = arrived ? map.Assign(PortClaimFor(change.device)) : map.Number(change.device);
    if (number == 0) {
      if (arrived) Trace("No free COM number for " + change.device + "\n");
      continue;
    }
    DevBroadcastPort note;
    note.dbch_devicetype = DBT_DEVTYP_PORT;
    note.number = number;
    dlg.WindowProc(WM_DEVICECHANGE, arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                   reinterpret_cast<intptr_t>(&note));
    if (arrived) continue;
    bool held = false;
    for (int i = 0; i < MAX_ENTRIES; ++i) held = held || dlg.Binding(i).m_nComPort == number;
    // Still bound (Auto Detect off): keep the number so the device, when it
    // returns, is the one the entry means.
    if (!held && map.Device(number) == change.device) map.Remove(number);
  }
}
