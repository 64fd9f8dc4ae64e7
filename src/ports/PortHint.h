// Texts about the device behind a bound port, for the window's hints and
// the entry's log.
#pragma once

#include <string>

#include "platform/SerialPort.h"

/// The device COM `port` stands for ("/dev/ttyACM2"), or empty when the
/// number is unmapped or out of range.
std::string PortDeviceHint(int port);

/// The entry's log line for a port that failed: the device ("COM5" when
/// `device` is empty, i.e. the number has none), the cause with the OS's
/// errno name, and what to do about it where there is something to do:
/// "/dev/ttyACM3: permission denied (EACCES); add yourself to the dialout
/// group ...". `holder` is the entry number (1..20) of this program that
/// holds the device, 0 when none does.
std::string PortFailureLine(int port, const std::string& device, const PortFailure& failure, int holder = 0);

/// The USB socket (by-path name) of the device behind COM `port`, or empty.
std::string PortSocketHint(int port);

/// The device and its socket, "/dev/ttyACM2  pci-0000:00:14.0-usb-0:1.3:1.0",
/// or the device alone when its socket is unknown; empty when unmapped.
std::string PortLabelHint(int port);
