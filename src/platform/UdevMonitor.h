// The udev monitor for tty devices. libudev is loaded at run time, so the
// program runs (falling back to watching /dev) on machines without it and
// the platform library needs no link-time dependency.
#pragma once

#include <memory>
#include <string>

#include "platform/PortDiscovery.h"

/// One tty event from udev.
struct UdevTtyEvent {
  bool added = false;     ///< "add"; false for "remove"
  std::string devnode;    ///< "/dev/ttyACM0"
  PortIdentity identity;  ///< driver and by-id names as udev knows them
};

class CUdevMonitor {
 public:
  CUdevMonitor();
  ~CUdevMonitor();
  CUdevMonitor(const CUdevMonitor&) = delete;
  CUdevMonitor& operator=(const CUdevMonitor&) = delete;

  /// True when libudev can be loaded and the udev daemon runs (without it
  /// the monitor would never hear of a device).
  static bool Available();

  /// Connects to udev's netlink events for subsystem "tty". False when
  /// libudev is missing or the monitor cannot be set up.
  bool Open();

  /// The descriptor to poll for input; -1 when not open.
  int Fd() const;

  /// Takes one pending event. False when none was pending or it was not an
  /// add or remove of a tty with a device node.
  bool Receive(UdevTtyEvent& event);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};
