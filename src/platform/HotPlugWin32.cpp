// Arrival and removal of handset ports on Windows, from the serial device
// map: its values are the ports present (the serial drivers add a port's
// value when it comes and take it away when it goes), so the map is read
// every kPollMs and compared with the last reading.
//
// Why not WM_DEVICECHANGE: the system sends it to top-level windows only,
// so a console program would need a hidden window and a message loop of its
// own for it, and Wine never sends it for its COM ports, so nothing of it
// could be tested here. The native window takes WM_DEVICECHANGE itself and
// starts no monitor; the command line's station uses this one. A port that
// comes and goes within one period is not seen, which costs nothing: no
// entry could have been bound to it.
#include "platform/HotPlug.h"

#include <chrono>

namespace {
constexpr int kPollMs = 500;
constexpr int kStopCheckMs = 25;  // how soon Stop is noticed
}  // namespace

void CHotPlug::Rescan(bool report) {
  PortDiscoveryOptions search;
  search.fragments = m_options.fragments;
  // Lines about skipped values once, at the start, not every period.
  if (!report) search.trace = m_options.trace;
  const std::vector<std::string> found = CPortDiscovery(search).Find();
  const std::set<std::string> now(found.begin(), found.end());
  // Removals first: a port that went and came back under another value
  // finds its number freed.
  for (auto it = m_known.begin(); it != m_known.end();) {
    if (now.count(*it)) {
      ++it;
      continue;
    }
    const std::string device = *it;
    it = m_known.erase(it);
    if (report) Report(HotPlugEvent::Removed, device);
  }
  for (const std::string& device : found) {
    if (!m_known.insert(device).second) continue;
    if (report) Report(HotPlugEvent::Arrived, device);
  }
}

bool CHotPlug::Start() {
  if (m_thread.joinable()) return false;
  m_known.clear();
  Rescan(false);
  m_mode = HotPlugMode::DeviceMap;
  m_thread = std::thread([this] { RunDeviceMap(); });
  return true;
}

void CHotPlug::RunDeviceMap() {
  for (;;) {
    for (int waited = 0; waited < kPollMs; waited += kStopCheckMs) {
      if (m_mode.load() == HotPlugMode::Stopped) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(kStopCheckMs));
    }
    if (m_mode.load() == HotPlugMode::Stopped) return;
    Rescan(true);
  }
}

void CHotPlug::Stop() {
  m_mode = HotPlugMode::Stopped;
  if (m_thread.joinable()) m_thread.join();
}
