#include "sim/SimRequestScanner.h"

#include <cstdio>

#include "sim/SimFraming.h"

namespace sim {
namespace {

SimScan Bad(size_t consumed, std::string problem) {
  SimScan s;
  s.kind = SimScan::BadFrame;
  s.consumed = consumed;
  s.problem = std::move(problem);
  return s;
}

}  // namespace

SimScan ScanRequest(const uint8_t* data, size_t n) {
  SimScan s;
  if (n == 0) return s;
  if (data[0] != kFlag && data[0] != kFlag2) {
    size_t k = 1;
    while (k < n && data[k] != kFlag && data[k] != kFlag2) ++k;
    s.kind = SimScan::Garbage;
    s.consumed = k;
    s.problem = "bytes outside a frame";
    return s;
  }
  size_t end = 1;
  while (end < n && data[end] != kFlag) ++end;
  if (end == n) {
    if (n > kMaxFrameBytes) return Bad(1, "frame without a closing flag");
    return s;
  }
  const size_t frameLen = end + 1;
  const size_t fill = (4 - frameLen % 4) % 4;
  if (n < frameLen + fill) {
    // A non-zero byte where the fill belongs settles it before the rest comes.
    for (size_t k = frameLen; k < n; ++k)
      if (data[k] != 0) return Bad(k, "zero fill missing or wrong");
    return s;
  }
  for (size_t k = frameLen; k < frameLen + fill; ++k)
    if (data[k] != 0) return Bad(k, "zero fill missing or wrong");
  const size_t total = frameLen + fill;

  std::vector<uint8_t> body;
  body.reserve(end);
  for (size_t k = 1; k < end; ++k) {
    uint8_t b = data[k];
    if (b == kFlag2) return Bad(total, "unescaped 7F inside a frame");
    if (b == kEscape) {
      if (k + 1 >= end) return Bad(total, "escape byte before the closing flag");
      b = static_cast<uint8_t>(data[++k] ^ 0x20);
    }
    body.push_back(b);
  }
  if (body.size() < 3) return Bad(total, "frame too short");
  const size_t reqLen = body.size() - 2;
  const uint16_t want = Fcs16(body.data(), reqLen);
  const uint16_t got = static_cast<uint16_t>(body[reqLen] | (body[reqLen + 1] << 8));
  if (want != got) {
    char text[64];
    std::snprintf(text, sizeof text, "bad FCS %04X (expected %04X)", got, want);
    return Bad(total, text);
  }
  s.kind = SimScan::Frame;
  s.consumed = total;
  s.request.assign(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(reqLen));
  return s;
}

}  // namespace sim
