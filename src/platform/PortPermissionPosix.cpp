#include "platform/PortPermission.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

std::string GroupName(gid_t gid) {
  std::vector<char> buf(4096);
  group g{};
  group* found = nullptr;
  if (getgrgid_r(gid, &g, buf.data(), buf.size(), &found) == 0 && found) return found->gr_name;
  return std::to_string(gid);
}

/// The user's name and primary group; false when the user is unknown.
bool User(std::string& name, gid_t& primary) {
  std::vector<char> buf(4096);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found) return false;
  name = found->pw_name;
  primary = found->pw_gid;
  return true;
}

/// Whether the group database lists the user in `gid`.
bool ListedIn(const std::string& user, gid_t primary, gid_t gid) {
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (getgrouplist(user.c_str(), primary, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (getgrouplist(user.c_str(), primary, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<size_t>(count));
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

/// Whether this process runs with `gid` among its groups.
bool ProcessHas(gid_t gid) {
  if (getegid() == gid) return true;
  int n = getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  n = getgroups(n, groups.data());
  return n > 0 && std::find(groups.begin(), groups.begin() + n, gid) != groups.begin() + n;
}

}  // namespace

std::string PortPermissionAdvice(const std::string& device) {
  struct stat st {};
  const std::string rule = std::string("install ") + kUdevRulePath + " in /etc/udev/rules.d/";
  if (stat(device.c_str(), &st) != 0) return rule;
  const std::string group = GroupName(st.st_gid);
  // Joining root's group is never the answer; only the rule is.
  if (st.st_gid == 0) return "the device belongs to group root; " + rule;
  std::string user;
  gid_t primary = 0;
  if (!User(user, primary)) return "add yourself to the " + group + " group and log in again, or " + rule;
  if (ListedIn(user, primary, st.st_gid) && !ProcessHas(st.st_gid))
    return "you (" + user + ") are in the " + group + " group but this session is not; log out and in again, or " +
           rule;
  return "add yourself to the " + group + " group (sudo usermod -aG " + group + " " + user +
         ") and log in again, or " + rule;
}
