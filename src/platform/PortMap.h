// COM numbers as the operator sees them, mapped to the devices behind them.
// The dialog binds port numbers (1..30) to entries; on this platform a number
// means whatever device the map holds for it. Port discovery fills the map,
// as do tests and the command line (COM3 -> /dev/pts/7).
//
// A port that comes with an identity (its USB socket or its serial number,
// see PortStore.h) gets the number kept for that identity, across plug
// orders, /dev names and runs; a new identity gets the lowest number kept
// for no other one, and keeps it.
#pragma once

#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/PortStore.h"

constexpr int MAX_COM_PORT = 30;

/// n for "\\.\COMn" with n in 1..MAX_COM_PORT, the name under which Windows
/// opens its COM port n; 0 for any other name. Such a device has its number
/// from the OS: the map gives it that one, never another.
int OsComNumber(const std::string& device);

/// A device asking for a number.
struct PortClaim {
  std::string device;    ///< "/dev/ttyACM0"
  std::string identity;  ///< PortIdentityKey(); empty: numbered for this run only
  std::string socket;    ///< PortSocketName(), shown beside the device
};

class CPortMap {
 public:
  /// The process-wide map.
  static CPortMap& Instance();

  /// Where the kept numbers are loaded from and saved to; none by default
  /// (kept in memory).
  void SetStoreHooks(PortStoreHooks hooks);

  /// Maps COM `number` (1..MAX_COM_PORT) to `device`, replacing what it held.
  /// False for a number out of range.
  bool Set(int number, const std::string& device);

  /// Gives `device` the number it already has, or else the lowest free one
  /// not kept for an identity. Returns the number, or 0 when all numbers
  /// are taken.
  int Assign(const std::string& device);

  /// The same for a claim with its identity: the OS's number for an OS COM
  /// name (OsComNumber), else the number the device or the identity holds now, else the one kept for the identity, else the
  /// lowest one neither mapped nor kept for another identity, else the one
  /// of the least recently seen identity that is not present. 0 when every
  /// number is in use.
  int Assign(const PortClaim& claim);

  /// Assign() for each claim in turn, with the store read and written
  /// once; every claim's identity counts as present.
  std::vector<int> AssignAll(const std::vector<PortClaim>& claims);

  /// Forgets COM `number`; its identity is stamped as seen now.
  void Remove(int number);

  /// Forgets every number (the kept ones stay kept).
  void Clear();

  /// Forgets every kept number and every mapping made for an identity;
  /// returns how many numbers were kept, or -1 when the store could not be
  /// written.
  int ForgetStored();

  /// How many numbers are kept now.
  int StoredCount();

  /// The device behind COM `number`; nothing when unmapped (on Windows an
  /// unmapped number is the system's port of that number, "\\\\.\\COMn").
  std::optional<std::string> Device(int number) const;

  /// The socket of the device behind COM `number`; empty when unknown.
  std::string Socket(int number) const;

  /// The number `device` is mapped to, or 0.
  int Number(const std::string& device) const;

  /// All mappings in ascending number order.
  std::vector<std::pair<int, std::string>> Entries() const;

 private:
  int AssignLocked(const PortClaim& claim, const std::set<std::string>& present);
  void TakeLocked(int number, const PortClaim& claim);

  mutable std::mutex m_lock;
  PortClaim m_slots[MAX_COM_PORT + 1];
  CPortStore m_store;
};
