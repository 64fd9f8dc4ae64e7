#include "platform/HotPlug.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/UdevMonitor.h"

namespace fs = std::filesystem;

namespace {
constexpr uint32_t kWatchMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
}  // namespace

std::string CHotPlug::PathOf(const std::string& name) const { return (fs::path(m_dir) / name).string(); }

bool CHotPlug::Accepts(const std::string& name) const {
  if (name.size() > MAX_PORT_NAME_LENGTH) {
    TraceLine("Serial device skipped, name over 127 bytes: " + name.substr(0, 64) + "...\n");
    return false;
  }
  if (m_options.nameFilter) return m_options.nameFilter(name);
  CPortDiscovery discovery({m_options.sysfsRoot, m_options.devRoot, m_options.fragments, m_options.trace});
  PortIdentity identity;
  return discovery.Identify(name, identity) && PortIdentityMatches(identity, m_options.fragments);
}

void CHotPlug::CloseFds() {
  if (m_watchFd >= 0) close(m_watchFd);
  if (m_stopFd >= 0) close(m_stopFd);
  m_watchFd = m_stopFd = -1;
}

bool CHotPlug::Start() {
  if (m_thread.joinable()) return false;
  m_known.clear();
  m_stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (m_stopFd < 0) {
    TraceLine(std::string("Hot-plug: no eventfd: ") + std::strerror(errno) + "\n");
    return false;
  }
  if (m_options.watchDir.empty() && m_options.allowUdev && CUdevMonitor::Available()) {
    m_udev = std::make_unique<CUdevMonitor>();
    if (m_udev->Open()) {
      CPortDiscovery discovery({m_options.sysfsRoot, m_options.devRoot, m_options.fragments, {}});
      for (const auto& device : discovery.Find()) m_known.insert(device);
      m_mode = HotPlugMode::Udev;
      m_thread = std::thread(&CHotPlug::RunUdev, this);
      return true;
    }
    m_udev.reset();
    TraceLine("Hot-plug: udev monitor unavailable, watching the device directory\n");
  }
  if (!StartDirectory()) {
    CloseFds();
    return false;
  }
  m_mode = HotPlugMode::Directory;
  m_thread = std::thread(&CHotPlug::RunDirectory, this);
  return true;
}

bool CHotPlug::StartDirectory() {
  m_dir = m_options.watchDir.empty() ? m_options.devRoot : m_options.watchDir;
  m_watchFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (m_watchFd < 0 || inotify_add_watch(m_watchFd, m_dir.c_str(), kWatchMask) < 0) {
    TraceLine("Hot-plug: cannot watch " + m_dir + ": " + std::strerror(errno) + "\n");
    return false;
  }
  // After the watch is in place, so that nothing created in between is
  // missed (a device seen twice is reported once).
  Rescan(false);
  return true;
}

void CHotPlug::Stop() {
  if (m_thread.joinable()) {
    if (m_thread.get_id() == std::this_thread::get_id()) return;
    const uint64_t one = 1;
    if (write(m_stopFd, &one, sizeof one) < 0) TraceLine("Hot-plug: cannot wake the monitor\n");
    m_thread.join();
  }
  CloseFds();
  m_udev.reset();
  m_known.clear();
  m_mode = HotPlugMode::Stopped;
}

void CHotPlug::Rescan(bool report) {
  std::set<std::string> now;
  std::error_code ec;
  for (fs::directory_iterator it(m_dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code sec;
    if (fs::is_directory(fs::symlink_status(it->path(), sec))) continue;
    const std::string name = it->path().filename().string();
    if (Accepts(name)) now.insert(PathOf(name));
  }
  if (report) {
    for (const auto& device : m_known)
      if (!now.count(device)) Report(HotPlugEvent::Removed, device);
    for (const auto& device : now)
      if (!m_known.count(device)) Report(HotPlugEvent::Arrived, device);
  }
  m_known = std::move(now);
}

bool CHotPlug::AwaitInput(int fd) {
  for (;;) {
    pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {fd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      TraceLine(std::string("Hot-plug: poll failed: ") + std::strerror(errno) + "\n");
      return false;
    }
    if (fds[0].revents) return false;
    if (fds[1].revents & POLLIN) return true;
  }
}

void CHotPlug::RunDirectory() {
  alignas(inotify_event) char buffer[8192];
  bool watching = true;
  // Once the directory is gone only a stop ends the wait.
  while (AwaitInput(watching ? m_watchFd : -1)) {
    const ssize_t n = read(m_watchFd, buffer, sizeof buffer);
    if (n <= 0) continue;
    for (ssize_t at = 0; at < n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      if (ev->mask & IN_Q_OVERFLOW) {
        // Events were lost: the directory itself tells what changed.
        Rescan(true);
        continue;
      }
      if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
        // The directory is gone; so is every device that was in it.
        if (!watching) continue;
        TraceLine("Hot-plug: watched directory " + m_dir + " went away\n");
        for (const auto& device : m_known) Report(HotPlugEvent::Removed, device);
        m_known.clear();
        watching = false;
        continue;
      }
      if (ev->len == 0 || (ev->mask & IN_ISDIR)) continue;
      const std::string name(ev->name);
      const std::string device = PathOf(name);
      if (ev->mask & (IN_CREATE | IN_MOVED_TO)) {
        if (!m_known.count(device) && Accepts(name)) {
          m_known.insert(device);
          Report(HotPlugEvent::Arrived, device);
        }
      } else if (ev->mask & (IN_DELETE | IN_MOVED_FROM)) {
        if (m_known.erase(device)) Report(HotPlugEvent::Removed, device);
      }
    }
  }
}

void CHotPlug::RunUdev() {
  while (AwaitInput(m_udev->Fd())) {
    UdevTtyEvent ev;
    while (m_udev->Receive(ev)) {
      if (!ev.added) {
        if (m_known.erase(ev.devnode)) Report(HotPlugEvent::Removed, ev.devnode);
        continue;
      }
      std::string overlong;
      if (!PortIdentityFits(ev.identity, &overlong)) {
        TraceLine("Serial device skipped, name over 127 bytes: " + overlong.substr(0, 64) + "...\n");
        continue;
      }
      if (!PortIdentityMatches(ev.identity, m_options.fragments) || m_known.count(ev.devnode)) continue;
      m_known.insert(ev.devnode);
      Report(HotPlugEvent::Arrived, ev.devnode);
    }
  }
}
