#include "HandsetRecord.h"

#include <cstdio>
#include <random>

#include "CivilTime.h"
#include "ImagesJson.h"

std::string NewRecordId() {
  // random_device reads the kernel's source (getrandom) here; two stations
  // must never draw the same key.
  std::random_device source;
  std::string id;
  char part[9];
  for (int k = 0; k < 4; ++k) {
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(source()));
    id += part;
  }
  return id;
}

std::optional<int64_t> IsoToEpochMs(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &used) != 6 || used != 19)
    return std::nullopt;
  size_t at = 19;
  int millis = 0;
  if (at < text.size() && text[at] == '.') {
    int digits = 0;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits)
      if (digits < 3) millis = millis * 10 + (text[at] - '0');
    if (digits == 0) return std::nullopt;
    for (; digits < 3; ++digits) millis *= 10;
  }
  long offsetMinutes = 0;
  if (at < text.size() && text[at] == 'Z') {
    ++at;
  } else if (at + 6 == text.size() && (text[at] == '+' || text[at] == '-') && text[at + 3] == ':') {
    int oh = 0, om = 0;
    if (std::sscanf(text.c_str() + at + 1, "%2d:%2d", &oh, &om) != 2) return std::nullopt;
    offsetMinutes = (text[at] == '-' ? -1 : 1) * (oh * 60L + om);
    at += 6;
  } else {
    return std::nullopt;
  }
  if (at != text.size() || !ValidCivil(y, mo, d, h, mi, s)) return std::nullopt;
  return (CivilToEpochSeconds(y, mo, d, h, mi, s) - offsetMinutes * 60) * 1000 + millis;
}

HandsetRecord RecordFromColumns(const std::function<std::string(int)>& text,
                                const std::function<int64_t(int)>& number) {
  HandsetRecord r;
  r.id = text(0);
  r.station = text(1);
  r.version = text(2);
  r.mode = text(3);
  r.run = text(4);
  r.entry = static_cast<int>(number(5));
  r.com = static_cast<int>(number(6));
  r.socket = text(7);
  r.usbSerial = text(8);
  r.device = text(9);
  r.images = ImagesFromJson(text(10));
  r.result = text(11);
  r.reason = text(12);
  r.blocks = static_cast<int>(number(13));
  r.retries = static_cast<int>(number(14));
  r.started = text(15);
  r.ended = text(16);
  return r;
}
