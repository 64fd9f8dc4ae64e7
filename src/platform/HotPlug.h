// Arrival and removal of handset ports while the program runs. Listens to
// udev where its daemon runs; otherwise, or when a directory is given,
// watches a directory with inotify (/dev by default; tests watch a temporary
// directory of symlinks to pseudo terminals). Devices are filtered by the
// same rule as CPortDiscovery.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/PortDiscovery.h"

class CUdevMonitor;

enum class HotPlugEvent { Arrived, Removed };

/// Called on the monitor's own thread with the device path
/// (/dev/ttyACM0, or watchDir/name in directory mode).
using HotPlugCallback = std::function<void(HotPlugEvent event, const std::string& device)>;

/// Decides in directory mode whether an entry name is a handset's port.
using HotPlugNameFilter = std::function<bool(const std::string& name)>;

struct HotPlugOptions {
  /// Directory to watch. Empty: the udev monitor when udev runs, else
  /// devRoot with inotify.
  std::string watchDir;
  std::string sysfsRoot = "/sys";
  std::string devRoot = "/dev";
  std::vector<std::string> fragments{kDefaultPortMatch};
  /// Directory mode only; empty means the match rule on the name taken as a
  /// kernel name.
  HotPlugNameFilter nameFilter;
  /// False forces directory mode even where udev runs.
  bool allowUdev = true;
  /// Lines about skipped devices and failures; none when empty.
  PortTraceFn trace;
};

/// DeviceMap: Windows, the serial device map read every half second
/// (HotPlugWin32.cpp); the other options but the fragments and the trace
/// play no part there.
enum class HotPlugMode { Stopped, Udev, Directory, DeviceMap };

class CHotPlug {
 public:
  CHotPlug(HotPlugOptions options, HotPlugCallback callback);
  /// Stops the monitor.
  ~CHotPlug();
  CHotPlug(const CHotPlug&) = delete;
  CHotPlug& operator=(const CHotPlug&) = delete;

  /// Sets up the source and starts the thread. Devices present now are
  /// remembered, not reported, so that their removal is. False when no
  /// source could be set up (or it already runs).
  bool Start();

  /// Ends the thread and returns once it has ended; the callback is not
  /// called after that. Harmless when not running. Must not be called from
  /// the callback.
  void Stop();

  /// Which source runs.
  HotPlugMode Mode() const { return m_mode.load(); }

 private:
  bool StartDirectory();
  void RunDirectory();
  void RunUdev();
  void RunDeviceMap();
  /// Waits until `fd` can be read (true), or until a stop or a failed wait
  /// (false).
  bool AwaitInput(int fd);
  /// Brings `m_known` up to the directory's contents; reports the
  /// differences when `report` is set.
  void Rescan(bool report);
  bool Accepts(const std::string& name) const;
  void Report(HotPlugEvent event, const std::string& device);
  void TraceLine(const std::string& line) const;
  std::string PathOf(const std::string& name) const;
  void CloseFds();

  HotPlugOptions m_options;
  HotPlugCallback m_callback;
  std::atomic<HotPlugMode> m_mode{HotPlugMode::Stopped};
  std::thread m_thread;
  int m_stopFd = -1;     ///< eventfd that wakes the thread to stop
  int m_watchFd = -1;    ///< inotify descriptor in directory mode
#ifndef _WIN32
  std::unique_ptr<CUdevMonitor> m_udev;
#endif
  std::string m_dir;     ///< the watched directory in directory mode
  /// Device paths reported (or found at start) and not yet removed. Only
  /// the monitor's thread touches it once the thread runs.
  std::set<std::string> m_known;
};
