// COM numbers kept for port identities from one run to the next, so that a
// hub's socket 5 is COM5 tomorrow too, whatever /dev name and plug order the
// kernel hands out. An identity is a text such as "path:<by-path name>" or
// "serial:<by-id name>"; a port with neither is not kept here.
//
// The store knows nothing of files: its records travel as lines through a
// load/save hook that the settings layer provides (the [PORTS] section of
// the settings file). Without a hook the records live in memory only.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/PortDiscovery.h"

/// How a port is known from one run to the next.
enum class PortIdentityKind {
  Socket,  ///< its USB socket: the /dev/serial/by-path name (the default)
  Serial,  ///< the handset itself: its /dev/serial/by-id name (USB serial)
};

/// The stored identity of `identity` under `kind`: "path:<first by-path
/// name>" or "serial:<first by-id name>"; empty when it has no such name.
std::string PortIdentityKey(const PortIdentity& identity, PortIdentityKind kind);

/// The socket a port hangs on (its first by-path name), or empty.
std::string PortSocketName(const PortIdentity& identity);

/// What the load hook found.
enum class PortStoreLoad { Loaded, Unreadable };

struct PortStoreHooks {
  /// Fills `lines` with the stored lines (none when nothing is stored yet).
  std::function<PortStoreLoad(std::vector<std::string>& lines)> load;
  /// Replaces the stored lines in one step; false when that failed.
  std::function<bool(const std::vector<std::string>& lines)> save;
  /// Where trouble with the store is reported.
  PortTraceFn trace;
};

struct PortRecord {
  int number = 0;
  uint64_t seen = 0;  ///< larger = seen more recently
  std::string identity;
};

/// Not thread-safe: its owner (CPortMap) serialises the calls.
class CPortStore {
 public:
  void SetHooks(PortStoreHooks hooks);

  /// Brings the records up to what is stored (another process may have
  /// changed it). A damaged store is reported once, rebuilt from its good
  /// lines and saved; an unreadable one is reported once and the records in
  /// memory are kept.
  void Refresh();

  /// The number kept for `identity`, or 0.
  int NumberOf(const std::string& identity) const;

  /// True when `number` is kept for an identity other than `identity`.
  bool HeldByOther(int number, const std::string& identity) const;

  /// Keeps `number` for `identity`, taking it from any other identity, and
  /// stamps it as seen now.
  void Keep(const std::string& identity, int number);

  /// Stamps `identity` as seen now (it leaves, or is still there).
  void Touch(const std::string& identity);

  /// Frees the number of the least recently seen identity not in `present`
  /// and returns it; 0 when every kept identity is present.
  int Evict(const std::set<std::string>& present);

  /// Forgets every record; returns how many there were.
  int Clear();

  /// Writes the records through the hook when they changed since the last
  /// save; a failure is reported once and gives false.
  bool Save();

  const std::vector<PortRecord>& Records() const { return m_records; }

  /// The lines of `records`, and back. Parsing keeps the good lines and
  /// returns false when any line was bad (or a number/identity repeated).
  static std::vector<std::string> Format(const std::vector<PortRecord>& records);
  static bool Parse(const std::vector<std::string>& lines, std::vector<PortRecord>& records);

 private:
  void TraceOnce(bool& reported, const std::string& line);
  uint64_t NextStamp() const;

  PortStoreHooks m_hooks;
  std::vector<PortRecord> m_records;
  bool m_dirty = false;
  bool m_reportedUnreadable = false;
  bool m_reportedUnwritable = false;
};
