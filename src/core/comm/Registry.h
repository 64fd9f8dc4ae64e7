// The remembered directories: named string values kept between runs. On
// this platform they live in a small INI-style file instead of a registry.
#pragma once

#include <string>

class CRegistry {
 public:
  /// Longest value stored; longer values are refused, never cut.
  static constexpr size_t MAX_VALUE_LENGTH = 127;

  /// The value's text, or empty text when the store or the value does not
  /// exist or cannot be read. Never shows a message.
  static std::string ReadString(const std::string& valueName);

  /// Creates the store if needed and sets the value, keeping the others.
  /// False on any failure, including a value over MAX_VALUE_LENGTH
  /// characters or a name/value holding a line break. Never shows a message.
  static bool WriteString(const std::string& valueName, const std::string& value);

  /// The file the values are kept in. By default
  /// $VELMORA_SETTINGS, else $XDG_CONFIG_HOME/velmora/settings.ini, else
  /// ~/.config/velmora/settings.ini. Tests point it elsewhere.
  static void SetStorePath(const std::string& path);
  static std::string StorePath();
};
