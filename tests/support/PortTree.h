// A fake machine for the port tests: a sysfs tree (class/tty/<name>/device
// with its driver link) and a device directory (nodes, serial/by-id and
// serial/by-path links) under one temporary directory.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "TestUtil.h"

class CPortTree {
 public:
  CPortTree() {
    namespace fs = std::filesystem;
    fs::create_directories(SysRoot() + "/class/tty");
    fs::create_directories(SysRoot() + "/bus/usb/drivers");
    fs::create_directories(DevRoot() + "/serial/by-id");
    fs::create_directories(DevRoot() + "/serial/by-path");
  }

  std::string Root() const { return m_tmp.path(); }
  std::string SysRoot() const { return m_tmp.path() + "/sys"; }
  std::string DevRoot() const { return m_tmp.path() + "/dev"; }
  std::string Node(const std::string& name) const { return DevRoot() + "/" + name; }

  /// A tty backed by a device bound to `driver` (none when empty), without
  /// its node in the device directory yet.
  void AddSysTty(const std::string& name, const std::string& driver) const {
    namespace fs = std::filesystem;
    const std::string dev = SysRoot() + "/class/tty/" + name + "/device";
    fs::create_directories(dev);
    if (driver.empty()) return;
    fs::create_directories(SysRoot() + "/bus/usb/drivers/" + driver);
    fs::create_symlink("../../../../bus/usb/drivers/" + driver, dev + "/driver");
  }

  /// The tty's node: a symlink to `target` (a live pty) or an empty file.
  void AddNode(const std::string& name, const std::string& target = "") const {
    if (target.empty())
      std::ofstream(Node(name)).put('\0');
    else
      std::filesystem::create_symlink(target, Node(name));
  }

  /// Both halves at once, as a device that is plugged in.
  void AddTty(const std::string& name, const std::string& driver, const std::string& target = "") const {
    AddSysTty(name, driver);
    AddNode(name, target);
  }

  /// A tty without a device (virtual consoles, ptys).
  void AddVirtualTty(const std::string& name) const {
    std::filesystem::create_directories(SysRoot() + "/class/tty/" + name);
    AddNode(name);
  }

  /// /dev/serial/by-id/<link> or by-path/<link> pointing at tty `name`.
  void AddById(const std::string& link, const std::string& name) const { Link("by-id", link, name); }
  void AddByPath(const std::string& link, const std::string& name) const { Link("by-path", link, name); }

  /// Unplugs tty `name`: its node, its sysfs directory and its links go.
  void Unplug(const std::string& name) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::remove(Node(name), ec);
    fs::remove_all(SysRoot() + "/class/tty/" + name, ec);
    for (const char* which : {"by-id", "by-path"})
      for (const auto& e : fs::directory_iterator(DevRoot() + "/serial/" + which))
        if (fs::read_symlink(e.path(), ec).filename() == name) fs::remove(e.path(), ec);
  }

 private:
  void Link(const char* which, const std::string& link, const std::string& name) const {
    std::filesystem::create_symlink("../../" + name, DevRoot() + "/serial/" + which + "/" + link);
  }

  CTempDir m_tmp;
};
