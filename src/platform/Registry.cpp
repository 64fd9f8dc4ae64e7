#include "platform/Registry.h"

int CRegistry::ReadSeconds(const std::string& valueName, int fallback) {
  // A 32-bit millisecond clock wraps after this many seconds.
  constexpr int kMaxSeconds = static_cast<int>(0xFFFFFFFFul / 1000);
  return ReadNumber(valueName, 1, kMaxSeconds, fallback);
}

int CRegistry::ReadNumber(const std::string& valueName, int lowest, int highest, int fallback) {
  const std::string text = ReadString(valueName);
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return fallback;
  const size_t last = text.find_last_not_of(" \t");
  long long value = 0;
  for (size_t k = first; k <= last; ++k) {
    const char c = text[k];
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
    if (value > highest) return fallback;
  }
  return value < lowest ? fallback : static_cast<int>(value);
}
