// On Windows the system itself tells every top-level window of a port's
// arrival and removal (WM_DEVICECHANGE with DBT_DEVTYP_PORT): the native
// window hands those to the dialog as they come, so there is no monitor
// thread to run here. Start says so, and the watcher falls back to what it
// does without a source.
#include "platform/HotPlug.h"

CHotPlug::CHotPlug(HotPlugOptions options, HotPlugCallback callback)
    : m_options(std::move(options)), m_callback(std::move(callback)) {}

CHotPlug::~CHotPlug() { Stop(); }

void CHotPlug::TraceLine(const std::string& line) const {
  if (m_options.trace) m_options.trace(line);
}

bool CHotPlug::Start() {
  TraceLine("Hot-plug: port arrival and removal come to the window from the system\n");
  return false;
}

void CHotPlug::Stop() { m_mode = HotPlugMode::Stopped; }
