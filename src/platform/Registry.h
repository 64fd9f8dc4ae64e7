// The remembered directories: named string values kept between runs. On
// Windows they live in the registry under SOFTWARE\NORVANE\VELMORA: written
// under HKEY_CURRENT_USER (a user without administrator rights cannot write
// HKEY_LOCAL_MACHINE), read from there first and then from
// HKEY_LOCAL_MACHINE, so values an older installation left there keep
// working. Elsewhere they live in a small INI-style file.
#pragma once

#include <string>
#include <vector>

/// Whole seconds an erase may go unanswered before its entry is given up.
inline constexpr const char* kEraseLimitSetting = "ERASE_LIMIT_S";
inline constexpr int kDefaultEraseLimitS = 300;
/// Milliseconds the receive thread sleeps before each read of a burst, for
/// a handset that needs the classic cadence; 0 (and anything out of
/// 0..50) reads each byte as it comes.
inline constexpr const char* kRxSettleSetting = "RX_SETTLE_MS";
/// The window's DownLoad runs the flow line (1) or a batch (0, the default).
inline constexpr const char* kFlowModeSetting = "FLOW_MODE";
/// Seconds a handset's port must have been there, unchanged, before the
/// flow line starts it.
inline constexpr const char* kFlowSettleSetting = "FLOW_SETTLE_S";
inline constexpr int kDefaultFlowSettleS = 3;

class CRegistry {
 public:
  /// Longest value stored; longer values are refused, never cut.
  static constexpr size_t MAX_VALUE_LENGTH = 127;

  /// The value's text, or empty text when the store or the value does not
  /// exist or cannot be read, or is longer than `maxLength` (values written
  /// by hand, such as a database's address, may be longer than the
  /// program's own). Never shows a message.
  static std::string ReadString(const std::string& valueName, size_t maxLength = MAX_VALUE_LENGTH);

  /// The value as a whole number of seconds, at least 1 and small enough
  /// to count in milliseconds on a 32-bit clock; `fallback` when the value
  /// is missing, empty or anything else.
  static int ReadSeconds(const std::string& valueName, int fallback);

  /// The value as a whole number from `lowest` to `highest` (both at least
  /// 0); `fallback` when it is missing, empty, out of range or anything else.
  static int ReadNumber(const std::string& valueName, int lowest, int highest, int fallback);

  /// Creates the store if needed and sets the value, keeping the others.
  /// False on any failure, including a value over MAX_VALUE_LENGTH
  /// characters or a name/value holding a line break. Never shows a message.
  static bool WriteString(const std::string& valueName, const std::string& value);

  /// The lines of section `name` ("PORTS" for "[PORTS]"), none when the
  /// store or the section does not exist. (On Windows a section is one
  /// multi-string value named "[PORTS]".) False when the store exists but
  /// cannot be read.
  static bool ReadSection(const std::string& name, std::vector<std::string>& lines);

  /// Replaces the lines of section `name` (no lines: the section goes),
  /// keeping everything else, in one step as WriteString does. False on any
  /// failure, including a line that holds a line break or opens a section.
  static bool WriteSection(const std::string& name, const std::vector<std::string>& lines);

  /// The file the values are kept in. By default
  /// $VELMORA_SETTINGS, else $XDG_CONFIG_HOME/velmora/settings.ini, else
  /// ~/.config/velmora/settings.ini. On Windows the key below HKCU and HKLM
  /// instead, SOFTWARE\NORVANE\VELMORA by default. Tests point it elsewhere.
  static void SetStorePath(const std::string& path);
  static std::string StorePath();
};
