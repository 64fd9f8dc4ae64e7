// Finds the handsets' serial ports among the machine's tty devices. A
// handset's port is recognised by a fragment of its kernel name, its
// driver's name or its /dev/serial/by-id name (the driver of the handsets'
// USB modem puts "kvxuart" in one of them). Both roots are injectable so
// tests can build a fake tree in a temporary directory.
//
// On Windows the machine's serial device map (HKLM
// HARDWARE\DEVICEMAP\SERIALCOMM\) is the list: a value per port, its name
// the device's kernel name (matched against the fragments), its data the
// port's name "COMn". The roots play no part there.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

/// Longest name or link text a device may have; longer ones are skipped,
/// the way they never fitted the 128-byte buffers of the device map.
constexpr size_t MAX_PORT_NAME_LENGTH = 127;

/// The fragment that marks a handset's port.
inline constexpr const char* kDefaultPortMatch = "kvxuart";

/// Receives one diagnostic line (ending in "\n").
using PortTraceFn = std::function<void(const std::string&)>;

/// What a tty device is known by.
struct PortIdentity {
  std::string kernelName;          ///< "ttyACM0"
  std::string driver;              ///< basename of device/driver, may be empty
  std::vector<std::string> byId;   ///< names in /dev/serial/by-id pointing at it
  std::vector<std::string> byPath; ///< names in /dev/serial/by-path pointing at it
  std::string usbSerial;           ///< serial number of the USB device behind it, may be empty
};

/// True when one of `fragments` occurs (case-sensitively) in the kernel
/// name, the driver name or a by-id name. Empty fragments never match.
bool PortIdentityMatches(const PortIdentity& identity, const std::vector<std::string>& fragments);

/// True when every name of `identity` fits MAX_PORT_NAME_LENGTH; otherwise
/// false, with the first name that does not fit in `overlong`.
bool PortIdentityFits(const PortIdentity& identity, std::string* overlong);

/// Compares names with their digit runs taken as numbers, so that hub
/// socket "1.10" follows "1.2" and ttyACM10 follows ttyACM2.
bool NaturalLess(const std::string& a, const std::string& b);

/// Splits a comma-separated list of fragments, trimming blanks and dropping
/// empty parts.
std::vector<std::string> SplitPortMatch(const std::string& list);

struct PortDiscoveryOptions {
  std::string sysfsRoot = "/sys";
  std::string devRoot = "/dev";
  std::vector<std::string> fragments{kDefaultPortMatch};
  /// Where lines about skipped devices go; none when empty.
  PortTraceFn trace;
};

class CPortDiscovery {
 public:
  explicit CPortDiscovery(PortDiscoveryOptions options = {});

  /// Device paths (devRoot/ttyACM0 ...) of the matching ports whose node
  /// exists: first those with a by-path name, in the order of that name (the
  /// hub socket), then the others by kernel name. Skipped devices get a
  /// trace line.
  ///
  /// On Windows: "\\.\COMn" for every matching value of the device map, in
  /// the map's enumeration order; a value whose name or data is over
  /// MAX_PORT_NAME_LENGTH bytes, or whose data is no "COMn" with n in
  /// 1..MAX_COM_PORT, is skipped with a trace line.
  std::vector<std::string> Find() const;

  /// True where the OS numbers the ports itself (Windows): Find's order is
  /// then the device map's, and the numbers are the OS's.
#ifdef _WIN32
  static constexpr bool kOsNumbersPorts = true;
#else
  static constexpr bool kOsNumbersPorts = false;
#endif

  /// Builds the identity of tty `kernelName` from the two trees. False (with
  /// a trace line) when one of its names is over MAX_PORT_NAME_LENGTH bytes.
  bool Identify(const std::string& kernelName, PortIdentity& out) const;

  /// The identity of the tty that device path `device` opens (devRoot/ttyACM0,
  /// a by-id link, ...). False when no tty of the sysfs tree answers to it
  /// (a pseudo terminal, an unknown path).
  bool IdentifyDevice(const std::string& device, PortIdentity& out) const;

  const PortDiscoveryOptions& Options() const { return m_options; }

 private:
  /// Link names of one of the /dev/serial directories, by target tty.
  using LinkIndex = std::map<std::string, std::vector<std::string>>;
  LinkIndex Links(const char* which) const;
  bool IdentifyWith(const std::string& kernelName, const LinkIndex& byId, const LinkIndex& byPath,
                    PortIdentity& out) const;
  void Skip(const std::string& what) const;

  PortDiscoveryOptions m_options;
};
