// COM numbers as the operator sees them, mapped to the devices behind them.
// The dialog binds port numbers (1..30) to entries; on this platform a number
// means whatever device the map holds for it. Port discovery fills the map,
// as do tests and the command line (COM3 -> /dev/pts/7).
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

constexpr int MAX_COM_PORT = 30;

class CPortMap {
 public:
  /// The process-wide map.
  static CPortMap& Instance();

  /// Maps COM `number` (1..MAX_COM_PORT) to `device`, replacing what it held.
  /// False for a number out of range.
  bool Set(int number, const std::string& device);

  /// Gives `device` the number it already has, or else the lowest free one.
  /// Returns the number, or 0 when all numbers are taken.
  int Assign(const std::string& device);

  /// Forgets COM `number`.
  void Remove(int number);

  /// Forgets every number.
  void Clear();

  /// The device behind COM `number`; nothing when unmapped.
  std::optional<std::string> Device(int number) const;

  /// The number `device` is mapped to, or 0.
  int Number(const std::string& device) const;

  /// All mappings in ascending number order.
  std::vector<std::pair<int, std::string>> Entries() const;

 private:
  mutable std::mutex m_lock;
  std::string m_devices[MAX_COM_PORT + 1];
};
