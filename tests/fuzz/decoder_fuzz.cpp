// The receive-side decoder against a plain model of the framing rules: any
// bytes, cut into any reads, in either framing mode, with bursts ending
// anywhere. Every read must give the model's outcome, the model's packet
// bytes and the model's buffer count.
//
// Script: byte 0 = initial mode (bit 0: boot framing); then reads, each a
// header byte (bit 7: a new burst empties the buffer first, bit 6: the mode
// flips, bits 0-5: length, 63 = a 16-bit length follows) and its bytes.
#include <cstring>

#include "FuzzInput.h"
#include "Frames.h"
#include "link/FrameDecoder.h"

namespace {

using Outcome = CFrameDecoder::Outcome;

// The framing rules written out plainly, with containers instead of fixed
// buffers, so that an index slip in the decoder shows as a difference.
struct Model {
  std::vector<uint8_t> assembly;
  Outcome outcome = Outcome::Incomplete;
  std::vector<uint8_t> packet;
  size_t stuffedLength = 0;

  void Add(const std::vector<uint8_t>& in, bool boot) {
    outcome = Outcome::Incomplete;
    packet.clear();
    bool overflow = false;
    for (uint8_t b : in) {
      if (assembly.size() >= 512) {
        overflow = true;
        assembly.clear();
      } else {
        assembly.push_back(b);
      }
    }
    if (overflow) {
      outcome = Outcome::Overflow;
      return;
    }
    if (assembly.empty() || assembly.front() != 0x7E || assembly.back() != 0x7E) return;
    std::vector<uint8_t> body;
    for (uint8_t b : assembly)
      if (b != 0x7E && b != 0x7F) body.push_back(b);
    assembly.clear();
    outcome = Outcome::Rejected;
    if (body.size() < (boot ? 3u : 4u)) return;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < body.size(); ++i) {
      if (body[i] == 0x7D) {
        const uint8_t next = i + 1 < body.size() ? body[i + 1] : 0x00;
        out.push_back(static_cast<uint8_t>(next ^ 0x20));
        ++i;
      } else {
        out.push_back(body[i]);
      }
    }
    if (!boot) {
      if (out.size() < 4) return;
      const size_t k = out.size() - 4;
      const uint32_t trailer = static_cast<uint32_t>(out[k]) << 24 | static_cast<uint32_t>(out[k + 1]) << 16 |
                               static_cast<uint32_t>(out[k + 2]) << 8 | out[k + 3];
      if (OracleCrc30Cdma(out.data(), k) != trailer) return;
    }
    outcome = Outcome::Packet;
    packet = out;
    stuffedLength = body.size();
  }
};

uint8_t Header(bool newBurst, bool flip, size_t len) {
  return static_cast<uint8_t>((newBurst ? 0x80 : 0) | (flip ? 0x40 : 0) | (len < 63 ? len : 63));
}

void AppendRead(std::vector<uint8_t>& script, const std::vector<uint8_t>& bytes, bool newBurst = false,
                bool flip = false) {
  script.push_back(Header(newBurst, flip, bytes.size()));
  if (bytes.size() >= 63) {
    script.push_back(static_cast<uint8_t>(bytes.size() & 0xFF));
    script.push_back(static_cast<uint8_t>(bytes.size() >> 8));
  }
  script.insert(script.end(), bytes.begin(), bytes.end());
}

}  // namespace

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  auto boot = [&](std::initializer_list<std::vector<uint8_t>> reads) {
    std::vector<uint8_t> s{1};
    for (const auto& r : reads) AppendRead(s, r);
    seeds.push_back(s);
  };
  boot({{0x7E, 0x02, 0x6A, 0xD3, 0x7E}});
  boot({{0x7E, 0x7D, 0x5E, 0x01, 0x02, 0x7E}});
  boot({{0x7E, 0x02}, {0x6A, 0xD3, 0x7E}});
  boot({{0x7E, 0x02, 0x6A, 0xD3, 0x7E, 0x7E, 0x02, 0x6A, 0xD3, 0x7E}});
  boot({{0x7E}, {0x02, 0x6A, 0xD3, 0x7E}});
  boot({{0x7E, 0x03, 0x03, 0x03, 0x7E}, {0x7E, 0xA4, 0x00, 0x00, 0x7E}});
  boot({{0x7E, 0x0D, 'b', '1', '.', '0', '1', 0x12, 0x34, 0x7E}});
  boot({{0x7E, 0x01, 0x7D}, {0x7E}});
  boot({std::vector<uint8_t>(512, 0x55), {0x7E, 0x02, 0x6A, 0xD3, 0x7E}});
  {
    std::vector<uint8_t> s{1};
    AppendRead(s, std::vector<uint8_t>(300, 0x11));
    AppendRead(s, {0x7E, 0x02, 0x6A, 0xD3, 0x7E}, true);
    seeds.push_back(s);
  }
  {
    std::vector<uint8_t> s{0};
    AppendRead(s, DiagFrame({0x02}));
    AppendRead(s, DiagFrame({0x7E, 0x7D, 0x7F, 0x00}));
    AppendRead(s, {0x7E, 0x01, 0x02, 0x03, 0x7E});
    AppendRead(s, DiagFrame({0x02, 0x6A, 0xD3}), false, true);
    seeds.push_back(s);
  }
  {
    std::vector<uint8_t> s{0};
    std::vector<uint8_t> big(450);
    for (size_t k = 0; k < big.size(); ++k) big[k] = static_cast<uint8_t>(k * 13);
    AppendRead(s, DiagFrame(big));
    seeds.push_back(s);
  }
  return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CFuzzInput in(data, size);
  CFrameDecoder decoder;
  Model model;
  bool boot = (in.Byte() & 1) != 0;
  while (in.More()) {
    const uint8_t hdr = in.Byte();
    if (hdr & 0x80) {
      decoder.Clear();
      model.assembly.clear();
    }
    if (hdr & 0x40) boot = !boot;
    size_t len = hdr & 0x3F;
    if (len == 63) len = in.U16() % 1100;
    const std::vector<uint8_t> bytes = in.Bytes(len);
    if (bytes.empty()) continue;
    const CFrameDecoder::Result r = decoder.Add(bytes.data(), static_cast<int>(bytes.size()), boot);
    model.Add(bytes, boot);
    FUZZ_CHECK(r.outcome == model.outcome);
    FUZZ_CHECK(static_cast<size_t>(decoder.Count()) == model.assembly.size());
    FUZZ_CHECK(decoder.Count() >= 0 && decoder.Count() <= CFrameDecoder::ASSEMBLY_SIZE);
    if (r.outcome != Outcome::Packet) continue;
    FUZZ_CHECK(r.body != nullptr);
    FUZZ_CHECK(static_cast<size_t>(r.packetLength) == model.packet.size());
    FUZZ_CHECK(static_cast<size_t>(r.length) == model.stuffedLength);
    FUZZ_CHECK(r.packetLength <= r.length && r.length <= CFrameDecoder::ASSEMBLY_SIZE);
    FUZZ_CHECK(std::memcmp(r.body, model.packet.data(), model.packet.size()) == 0);
  }
  return 0;
}
