#include "HistoryWhen.h"

#include <cstdio>
#include <ctime>

#include "CivilTime.h"
#include "HandsetRecord.h"
#include "platform/OsFile.h"

namespace {

/// Local calendar time to an instant, the zone's rules (and summer time)
/// as the C library knows them.
std::optional<int64_t> LocalToEpochMs(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<int64_t>(t) * 1000;
}

std::optional<int64_t> DayStart(int y, int mo, int d, bool endOfDay) {
  if (!ValidCivil(y, mo, d, 0, 0, 0)) return std::nullopt;
  if (endOfDay) {
    // The next calendar day through UTC arithmetic (no zone takes part).
    const std::time_t next = static_cast<std::time_t>(CivilToEpochSeconds(y, mo, d, 0, 0, 0) + 86400);
    std::tm tm{};
    if (gmtime_r(&next, &tm) == nullptr) return std::nullopt;
    y = tm.tm_year + 1900;
    mo = tm.tm_mon + 1;
    d = tm.tm_mday;
  }
  return LocalToEpochMs(y, mo, d, 0, 0, 0);
}

}  // namespace

std::optional<int64_t> DaysBackStart(int days, int64_t nowMs) {
  std::tm local{};
  if (!OsLocalTime(static_cast<std::time_t>(nowMs / 1000), local)) return std::nullopt;
  // Counted in calendar days through UTC arithmetic: a change to or from
  // summer time on the way moves no day boundary.
  const std::time_t day = static_cast<std::time_t>(
      CivilToEpochSeconds(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, 0, 0, 0) - int64_t{86400} * days);
  std::tm date{};
  if (gmtime_r(&day, &date) == nullptr) return std::nullopt;
  return DayStart(date.tm_year + 1900, date.tm_mon + 1, date.tm_mday, false);
}

std::optional<int64_t> ParseWhen(const std::string& when, bool endOfDay, int64_t nowMs) {
  if (when == "today") {
    std::tm local{};
    if (!OsLocalTime(static_cast<std::time_t>(nowMs / 1000), local)) return std::nullopt;
    return DayStart(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, endOfDay);
  }
  int y = 0, mo = 0, d = 0, used = 0;
  if (std::sscanf(when.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3 || used != 10) return std::nullopt;
  if (when.size() == 10) return DayStart(y, mo, d, endOfDay);
  if (when[10] != 'T' && when[10] != ' ') return std::nullopt;
  std::string full = when;
  full[10] = 'T';
  // A time without seconds reads as its minute's start.
  if (full.size() == 16 || (full.size() > 16 && full[16] != ':')) full.insert(16, ":00");
  if (auto zoned = IsoToEpochMs(full)) return zoned;
  int h = 0, mi = 0, s = 0;
  if (std::sscanf(full.c_str() + 11, "%2d:%2d:%2d%n", &h, &mi, &s, &used) != 3 || used != 8 || full.size() != 19 ||
      !ValidCivil(y, mo, d, h, mi, s))
    return std::nullopt;
  return LocalToEpochMs(y, mo, d, h, mi, s);
}
