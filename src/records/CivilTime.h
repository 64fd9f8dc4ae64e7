// Calendar arithmetic without the C library's time zone state: the
// history's times carry their own zone.
#pragma once

#include <cstdint>

/// Seconds since 1970-01-01 of a proleptic Gregorian date and time taken as
/// UTC (H. Hinnant's days-from-civil).
constexpr int64_t CivilToEpochSeconds(int y, int mo, int d, int h, int mi, int s) {
  const int64_t yy = static_cast<int64_t>(y) - (mo <= 2 ? 1 : 0);
  const int64_t era = (yy >= 0 ? yy : yy - 399) / 400;
  const int64_t yoe = yy - era * 400;
  const int64_t doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return (era * 146097 + doe - 719468) * 86400 + h * 3600LL + mi * 60LL + s;
}

constexpr bool ValidCivil(int y, int mo, int d, int h, int mi, int s) {
  constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1970 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1]) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (mo == 2 && d == 29 && !leap) return false;
  return h >= 0 && h <= 23 && mi >= 0 && mi <= 59 && s >= 0 && s <= 60;
}
