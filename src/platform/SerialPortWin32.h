// What the Windows serial port decides on its own and its tests check
// without a port: the device name it opens, and the cause a system error
// code stands for. The port itself is CSerialPortNative.
#pragma once

#include <string>

#include "platform/SerialPort.h"

/// The cause a Win32 error stands for (see the mapping's comments). `wasOpen`
/// as for PortCauseOfErrno: errors on a port that was open mean it went away.
PortCause PortCauseOfWin32Error(unsigned long err, bool wasOpen);

/// The device name CreateFileW is given: "COM7" and "7" become "\\.\COM7",
/// anything else is taken as it is.
std::wstring Win32DeviceName(const std::string& device);
