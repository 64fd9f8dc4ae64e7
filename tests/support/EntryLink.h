// A link set up the way the dialog sets up an entry's, for the link and
// receive-thread tests.
#pragma once

#include <cstdint>
#include <string>

#include "Window.h"
#include "link/QTextQ.h"
#include "link/bsscomm.h"
#include "platform/PortMap.h"

/// COM `com` mapped to `device`; `link` on it for entry `entry`, posting to
/// `wnd` and logging to `queue`. The mapping is the test's to remove.
inline void InitEntryLink(CBssComm& link, int entry, uint8_t com, const std::string& device, IWindow& wnd,
                          CQTextQ& queue) {
  CPortMap::Instance().Set(com, device);
  link.SetPortNumber(com);
  link.m_nEntry = entry;
  link.Init(&wnd, &queue);
}
