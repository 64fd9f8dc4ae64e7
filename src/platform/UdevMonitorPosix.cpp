#include "platform/UdevMonitor.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>

// libudev's handles are opaque; only these entry points are needed.
struct udev;
struct udev_monitor;
struct udev_device;
struct udev_list_entry;

namespace {

constexpr const char* kByIdPrefix = "/dev/serial/by-id/";
constexpr const char* kByPathPrefix = "/dev/serial/by-path/";

/// The entry points, resolved once per process.
struct UdevApi {
  udev* (*udev_new)();
  udev* (*udev_unref)(udev*);
  udev_monitor* (*udev_monitor_new_from_netlink)(udev*, const char*);
  int (*udev_monitor_filter_add_match_subsystem_devtype)(udev_monitor*, const char*, const char*);
  int (*udev_monitor_enable_receiving)(udev_monitor*);
  int (*udev_monitor_get_fd)(udev_monitor*);
  udev_device* (*udev_monitor_receive_device)(udev_monitor*);
  udev_monitor* (*udev_monitor_unref)(udev_monitor*);
  const char* (*udev_device_get_action)(udev_device*);
  const char* (*udev_device_get_devnode)(udev_device*);
  const char* (*udev_device_get_sysname)(udev_device*);
  udev_device* (*udev_device_get_parent)(udev_device*);
  const char* (*udev_device_get_driver)(udev_device*);
  udev_list_entry* (*udev_device_get_devlinks_list_entry)(udev_device*);
  udev_list_entry* (*udev_list_entry_get_next)(udev_list_entry*);
  const char* (*udev_list_entry_get_name)(udev_list_entry*);
  udev_device* (*udev_device_unref)(udev_device*);
  bool loaded = false;
};

template <typename F>
bool Resolve(void* lib, const char* name, F& fn) {
  fn = reinterpret_cast<F>(dlsym(lib, name));
  return fn != nullptr;
}

const UdevApi& Api() {
  static const UdevApi api = [] {
    UdevApi a{};
    // Kept loaded for the life of the process: monitors may outlive any one
    // owner and unloading buys nothing.
    void* lib = dlopen("libudev.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return a;
    a.loaded = Resolve(lib, "udev_new", a.udev_new) && Resolve(lib, "udev_unref", a.udev_unref) &&
               Resolve(lib, "udev_monitor_new_from_netlink", a.udev_monitor_new_from_netlink) &&
               Resolve(lib, "udev_monitor_filter_add_match_subsystem_devtype",
                       a.udev_monitor_filter_add_match_subsystem_devtype) &&
               Resolve(lib, "udev_monitor_enable_receiving", a.udev_monitor_enable_receiving) &&
               Resolve(lib, "udev_monitor_get_fd", a.udev_monitor_get_fd) &&
               Resolve(lib, "udev_monitor_receive_device", a.udev_monitor_receive_device) &&
               Resolve(lib, "udev_monitor_unref", a.udev_monitor_unref) &&
               Resolve(lib, "udev_device_get_action", a.udev_device_get_action) &&
               Resolve(lib, "udev_device_get_devnode", a.udev_device_get_devnode) &&
               Resolve(lib, "udev_device_get_sysname", a.udev_device_get_sysname) &&
               Resolve(lib, "udev_device_get_parent", a.udev_device_get_parent) &&
               Resolve(lib, "udev_device_get_driver", a.udev_device_get_driver) &&
               Resolve(lib, "udev_device_get_devlinks_list_entry", a.udev_device_get_devlinks_list_entry) &&
               Resolve(lib, "udev_list_entry_get_next", a.udev_list_entry_get_next) &&
               Resolve(lib, "udev_list_entry_get_name", a.udev_list_entry_get_name) &&
               Resolve(lib, "udev_device_unref", a.udev_device_unref);
    return a;
  }();
  return api;
}

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

struct CUdevMonitor::Impl {
  udev* ctx = nullptr;
  udev_monitor* monitor = nullptr;
};

CUdevMonitor::CUdevMonitor() : m_impl(std::make_unique<Impl>()) {}

CUdevMonitor::~CUdevMonitor() {
  const UdevApi& api = Api();
  if (m_impl->monitor) api.udev_monitor_unref(m_impl->monitor);
  if (m_impl->ctx) api.udev_unref(m_impl->ctx);
}

bool CUdevMonitor::Available() {
  // udev's control socket exists only while its daemon runs (not in most
  // containers); the monitor would then stay silent for ever.
  return Api().loaded && access("/run/udev/control", F_OK) == 0;
}

bool CUdevMonitor::Open() {
  const UdevApi& api = Api();
  if (!api.loaded || m_impl->monitor) return m_impl->monitor != nullptr;
  m_impl->ctx = api.udev_new();
  if (!m_impl->ctx) return false;
  m_impl->monitor = api.udev_monitor_new_from_netlink(m_impl->ctx, "udev");
  if (!m_impl->monitor || api.udev_monitor_filter_add_match_subsystem_devtype(m_impl->monitor, "tty", nullptr) < 0 ||
      api.udev_monitor_enable_receiving(m_impl->monitor) < 0) {
    if (m_impl->monitor) api.udev_monitor_unref(m_impl->monitor);
    m_impl->monitor = nullptr;
    api.udev_unref(m_impl->ctx);
    m_impl->ctx = nullptr;
    return false;
  }
  return true;
}

int CUdevMonitor::Fd() const { return m_impl->monitor ? Api().udev_monitor_get_fd(m_impl->monitor) : -1; }

bool CUdevMonitor::Receive(UdevTtyEvent& event) {
  if (!m_impl->monitor) return false;
  const UdevApi& api = Api();
  udev_device* dev = api.udev_monitor_receive_device(m_impl->monitor);
  if (!dev) return false;
  const std::string action = Text(api.udev_device_get_action(dev));
  event = UdevTtyEvent{};
  event.added = action == "add";
  event.devnode = Text(api.udev_device_get_devnode(dev));
  event.identity.kernelName = Text(api.udev_device_get_sysname(dev));
  // The driver that matters is the one bound to the tty's parent (the USB
  // interface), the same one sysfs shows as device/driver.
  if (udev_device* parent = api.udev_device_get_parent(dev)) event.identity.driver = Text(api.udev_device_get_driver(parent));
  for (udev_list_entry* e = api.udev_device_get_devlinks_list_entry(dev); e; e = api.udev_list_entry_get_next(e)) {
    const std::string link = Text(api.udev_list_entry_get_name(e));
    if (StartsWith(link, kByIdPrefix)) event.identity.byId.push_back(link.substr(std::strlen(kByIdPrefix)));
    if (StartsWith(link, kByPathPrefix)) event.identity.byPath.push_back(link.substr(std::strlen(kByPathPrefix)));
  }
  api.udev_device_unref(dev);  // the parent belongs to the device
  return (event.added || action == "remove") && !event.devnode.empty();
}
