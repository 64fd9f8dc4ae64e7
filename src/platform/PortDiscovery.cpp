#include "platform/PortDiscovery.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

/// Names in `dir` (by-id or by-path) grouped by the basename of their link
/// target, which is the kernel name of the tty they point at.
std::map<std::string, std::vector<std::string>> LinksByTarget(const fs::path& dir) {
  std::map<std::string, std::vector<std::string>> out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code lec;
    fs::path target = fs::read_symlink(it->path(), lec);
    if (lec) continue;
    out[target.filename().string()].push_back(it->path().filename().string());
  }
  for (auto& [target, names] : out) std::sort(names.begin(), names.end(), NaturalLess);
  return out;
}

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

/// The serial number of the USB device a tty hangs on: the nearest
/// directory above the tty's device that describes a USB device (it has an
/// idVendor file) holds it. Empty when there is none.
std::string UsbSerial(const fs::path& ttyDir) {
  std::error_code ec;
  fs::path dir = fs::canonical(ttyDir / "device", ec);
  if (ec) return {};
  for (int up = 0; up < 4 && !dir.empty() && dir != dir.root_path(); ++up, dir = dir.parent_path()) {
    if (!fs::exists(dir / "idVendor", ec)) continue;
    std::ifstream in(dir / "serial");
    std::string serial;
    std::getline(in, serial);
    return serial;
  }
  return {};
}

}  // namespace

bool PortIdentityMatches(const PortIdentity& identity, const std::vector<std::string>& fragments) {
  auto has = [&](const std::string& text) {
    return std::any_of(fragments.begin(), fragments.end(), [&](const std::string& f) {
      return !f.empty() && text.find(f) != std::string::npos;
    });
  };
  return has(identity.kernelName) || has(identity.driver) ||
         std::any_of(identity.byId.begin(), identity.byId.end(), has);
}

bool PortIdentityFits(const PortIdentity& identity, std::string* overlong) {
  auto tooLong = [&](const std::string& name) {
    if (name.size() <= MAX_PORT_NAME_LENGTH) return false;
    if (overlong) *overlong = name;
    return true;
  };
  if (tooLong(identity.kernelName) || tooLong(identity.driver)) return false;
  for (const auto* names : {&identity.byId, &identity.byPath})
    for (const auto& name : *names)
      if (tooLong(name)) return false;
  return true;
}

bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      // Compare the two digit runs as numbers: drop leading zeros, then the
      // longer run is the larger number, then the first differing digit.
      size_t si = i, sj = j;
      while (si < a.size() && a[si] == '0') ++si;
      while (sj < b.size() && b[sj] == '0') ++sj;
      size_t ei = si, ej = sj;
      while (ei < a.size() && IsDigit(a[ei])) ++ei;
      while (ej < b.size() && IsDigit(b[ej])) ++ej;
      if (ei - si != ej - sj) return ei - si < ej - sj;
      int c = a.compare(si, ei - si, b, sj, ej - sj);
      if (c != 0) return c < 0;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  // Equal as numbers ("01" and "1"): fall back to the plain order so the
  // comparison stays a strict weak order.
  return a < b;
}

std::vector<std::string> SplitPortMatch(const std::string& list) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    size_t b = start, e = comma;
    while (b < e && std::isspace(static_cast<unsigned char>(list[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(list[e - 1]))) --e;
    if (e > b) out.push_back(list.substr(b, e - b));
    start = comma + 1;
  }
  return out;
}

CPortDiscovery::CPortDiscovery(PortDiscoveryOptions options) : m_options(std::move(options)) {}

void CPortDiscovery::Skip(const std::string& what) const {
  if (!m_options.trace) return;
  // The name itself may be huge; its start is enough to find it.
  std::string shown = what.substr(0, 64);
  if (shown.size() < what.size()) shown += "...";
  m_options.trace("Serial device skipped, name over 127 bytes: " + shown + "\n");
}

CPortDiscovery::LinkIndex CPortDiscovery::Links(const char* which) const {
  return LinksByTarget(fs::path(m_options.devRoot) / "serial" / which);
}

bool CPortDiscovery::Identify(const std::string& kernelName, PortIdentity& out) const {
  return IdentifyWith(kernelName, Links("by-id"), Links("by-path"), out);
}

bool CPortDiscovery::IdentifyWith(const std::string& kernelName, const LinkIndex& byId,
                                  const LinkIndex& byPath, PortIdentity& out) const {
  out = PortIdentity{};
  out.kernelName = kernelName;
  std::error_code ec;
  fs::path driver = fs::read_symlink(fs::path(m_options.sysfsRoot) / "class" / "tty" / kernelName / "device" / "driver", ec);
  if (!ec) out.driver = driver.filename().string();
  if (auto it = byId.find(kernelName); it != byId.end()) out.byId = it->second;
  if (auto it = byPath.find(kernelName); it != byPath.end()) out.byPath = it->second;
  out.usbSerial = UsbSerial(fs::path(m_options.sysfsRoot) / "class" / "tty" / kernelName);
  std::string overlong;
  if (!PortIdentityFits(out, &overlong)) {
    Skip(overlong);
    return false;
  }
  return true;
}

bool CPortDiscovery::IdentifyDevice(const std::string& device, PortIdentity& out) const {
  const fs::path classTty = fs::path(m_options.sysfsRoot) / "class" / "tty";
  std::error_code ec;
  // The name as given first (a node of the device directory may itself be
  // a link), then the node it finally resolves to.
  std::string name = fs::path(device).filename().string();
  if (name.empty() || !fs::exists(classTty / name, ec)) {
    name = fs::canonical(device, ec).filename().string();
    if (ec || name.empty() || !fs::exists(classTty / name, ec)) return false;
  }
  return Identify(name, out);
}
