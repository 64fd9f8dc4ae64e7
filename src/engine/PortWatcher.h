// Brings port arrivals and removals to the dialog. A hot-plug monitor runs
// on its own thread; what it reports waits in a queue, and the host is woken
// with a posted WM_DEVICECHANGE whose wParam and lParam are 0 (a posted
// message cannot carry the notification itself).
//
// Hosts: when the loop receives that wake-up (IsWakeUp), call Dispatch(dlg)
// on the dialog's thread instead of handing the message to the dialog.
// Dispatch gives each device its COM number from CPortMap (the number it
// already has, else the one kept for its socket or serial, else the lowest
// free one) and calls, with that number in the notification's `number`,
//   dlg.WindowProc(WM_DEVICECHANGE, DBT_DEVICEARRIVAL or
//                  DBT_DEVICEREMOVECOMPLETE, (intptr_t)&notification)
// once per pending notification, in the order the devices came and went.
// A removed device's number is freed only after the dialog has handled the
// removal, and only when no entry still holds it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "Window.h"
#include "platform/HotPlug.h"

class CVelmoraDlg;

class CPortWatcher {
 public:
  /// `window` is woken whenever a notification is queued.
  explicit CPortWatcher(IWindow& window, HotPlugOptions options = DefaultOptions());
  /// Stops the monitor; pending notifications are dropped.
  ~CPortWatcher();
  CPortWatcher(const CPortWatcher&) = delete;
  CPortWatcher& operator=(const CPortWatcher&) = delete;

  /// Whole-machine watching with the roots and fragments Port Search uses
  /// (PortSearchOptions) and trace lines to Trace().
  static HotPlugOptions DefaultOptions();

  /// Starts the monitor; false when no source could be set up.
  bool Start();
  /// Stops the monitor; returns once its thread has ended.
  void Stop();
  /// Which source the monitor uses.
  HotPlugMode Mode() const { return m_hotPlug.Mode(); }

  /// True for the wake-up this watcher posts.
  static bool IsWakeUp(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return message == WM_DEVICECHANGE && wParam == 0 && lParam == 0;
  }

  /// Dialog's thread only: hands every pending notification to `dlg`
  /// (see above). Safe to re-enter from a message box's nested loop.
  void Dispatch(CVelmoraDlg& dlg);

  /// Notifications waiting for Dispatch.
  size_t Pending() const;

  /// Dialog's thread only: `observer` hears of each removal Dispatch hands
  /// over, before the dialog does, even when the device is back before
  /// Dispatch returns (the map alone would never show it gone). Null: none.
  void SetRemovalObserver(std::function<void(const std::string& device)> observer) {
    m_onRemoved = std::move(observer);
  }

 private:
  struct Change {
    HotPlugEvent event;
    std::string device;
  };
  void OnChange(HotPlugEvent event, const std::string& device);

  IWindow& m_window;
  std::function<void(const std::string&)> m_onRemoved;
  mutable std::mutex m_lock;
  std::deque<Change> m_pending;
  CHotPlug m_hotPlug;  // last: its thread uses the members above
};

/// The name hosts are told to use.
using PortWatcher = CPortWatcher;
