#include "Registry.h"

int CRegistry::ReadSeconds(const std::string& valueName, int fallback) {
  const std::string text = ReadString(valueName);
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return fallback;
  const size_t last = text.find_last_not_of(" \t");
  // A 32-bit millisecond clock wraps after this many seconds.
  constexpr unsigned long kMaxSeconds = 0xFFFFFFFFul / 1000;
  unsigned long seconds = 0;
  for (size_t k = first; k <= last; ++k) {
    const char c = text[k];
    if (c < '0' || c > '9') return fallback;
    seconds = seconds * 10 + static_cast<unsigned long>(c - '0');
    if (seconds > kMaxSeconds) return fallback;
  }
  return seconds == 0 ? fallback : static_cast<int>(seconds);
}
