// The system's port arrival and removal (WM_DEVICECHANGE's lParam, a
// DEV_BROADCAST_HDR) as the notification the dialog takes: the port's
// number and name, as the Linux hot-plug hands them over.
#pragma once

#include "Window.h"

/// Fills `out` from the system's notification `header` and returns true
/// when it is a COM port's ("COM12", also "\\.\COM12"); false for any other
/// device type, a parallel port or a name without a number.
bool PortNotificationFromSystem(const void* header, DevBroadcastPort& out);
