#include "platform/HotPlug.h"

#include <utility>

#ifndef _WIN32
#include "platform/UdevMonitor.h"  // what the destructor frees
#endif

CHotPlug::CHotPlug(HotPlugOptions options, HotPlugCallback callback)
    : m_options(std::move(options)), m_callback(std::move(callback)) {}

CHotPlug::~CHotPlug() { Stop(); }

void CHotPlug::TraceLine(const std::string& line) const {
  if (m_options.trace) m_options.trace(line);
}

void CHotPlug::Report(HotPlugEvent event, const std::string& device) {
  if (m_callback) m_callback(event, device);
}
