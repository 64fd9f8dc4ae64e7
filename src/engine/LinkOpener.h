// Opens the links of a DownLoad side by side. Each Open settles for 100 ms
// after setting the port up; twenty of them one after another held the
// dialog's thread for two seconds, the window unpainted. Here they run on
// threads of their own and the dialog's thread only hears when all are done.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "Window.h"

class CLinkOpener {
 public:
  /// Opens entry i's link; true when it opened. Called on a worker thread,
  /// which is then the only thread that touches that link.
  using OpenFn = std::function<bool(int entry)>;
  /// Called once, on the thread that finished last, after every open.
  using DoneFn = std::function<void()>;

  CLinkOpener() = default;
  ~CLinkOpener() { Join(); }
  CLinkOpener(const CLinkOpener&) = delete;
  CLinkOpener& operator=(const CLinkOpener&) = delete;

  /// One thread per group; the entries of a group (those that would open the
  /// same device) are opened in the order given, so the first of them gets
  /// the device as it would one after another. The group threads are
  /// started by a thread of the opener's own, so that the caller's thread
  /// (the dialog's) does not compete with each new one in turn; a group
  /// whose thread cannot be started is opened by the starting thread
  /// itself (by the caller when not even that one starts).
  void Start(const std::vector<std::vector<int>>& groups, OpenFn open, DoneFn done);

  /// Waits for every open of the last Start. Afterwards the links belong
  /// to the calling thread again and Opened tells the results.
  void Join();

  /// Whether entry i's link opened in the last Start (after Join).
  bool Opened(int entry) const { return entry >= 0 && entry < MAX_ENTRIES && m_opened[entry]; }

 private:
  void RunGroup(const std::vector<int>& group);
  void Launch(const std::vector<std::vector<int>>& groups);

  OpenFn m_open;
  DoneFn m_done;
  std::atomic<int> m_nLeft{0};
  std::array<bool, MAX_ENTRIES> m_opened{};
  std::thread m_launcher;
  std::vector<std::thread> m_threads;  // written by the launcher, joined after it
};
