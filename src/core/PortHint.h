// Texts about the device behind a bound port, for the window's hints and
// the entry's log.
#pragma once

#include <string>

/// The device COM `port` stands for ("/dev/ttyACM2"), or empty when the
/// number is unmapped or out of range.
std::string PortDeviceHint(int port);

/// The USB socket (by-path name) of the device behind COM `port`, or empty.
std::string PortSocketHint(int port);

/// The device and its socket, "/dev/ttyACM2  pci-0000:00:14.0-usb-0:1.3:1.0",
/// or the device alone when its socket is unknown; empty when unmapped.
std::string PortLabelHint(int port);

/// Why COM `port` could not be opened when the reason is the operator's
/// rights on its device, with the fix (the device's group, such as dialout,
/// or the udev rule in contrib/). Empty when rights are not the reason, and
/// after the first time for the same device, so an entry's log says it once.
std::string PortOpenFailureHint(int port);
