#include "SoakPlan.h"

#include <algorithm>

uint64_t CSoakRandom::Next() {
  uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

int SoakHandsetPlan::Injected() const {
  return static_cast<int>(faults.size()) + (eraseDelayMs ? 1 : 0) + (vanishAtBlock >= 0 ? 1 : 0);
}

namespace {

// A port missing at DownLoad is not drawn: it keeps the whole run from
// starting, by design, so it would end the round before anything happened.
enum Draw { SILENCE, NAK_RETRY, BAD_NAK, BAD_ACK, LOSE_REPLY, GARBLE, NAK_FAILED, HANG_UP, VANISH_MID, SLOW_ERASE,
            DRAWS };

// Weights: recoverable faults are common, fatal ones rare enough that most
// handsets of a round still have something to complete.
constexpr uint32_t kWeights[DRAWS] = {14, 10, 10, 8, 8, 10, 4, 4, 5, 10};

Draw Pick(CSoakRandom& r) {
  uint32_t total = 0;
  for (uint32_t w : kWeights) total += w;
  uint32_t x = r.Below(total);
  for (int d = 0; d < DRAWS; ++d) {
    if (x < kWeights[d]) return static_cast<Draw>(d);
    x -= kWeights[d];
  }
  return SILENCE;
}

}  // namespace

SoakRoundPlan DrawSoakRound(uint64_t seed, int handsets) {
  CSoakRandom r(seed);
  SoakRoundPlan plan;
  plan.seed = seed;
  // Long enough that every entry reaches its flash programming before the
  // first one is done, even on a busy machine.
  plan.blocks = 96 + static_cast<int>(r.Below(161));
  plan.imageSize = plan.start + static_cast<uint32_t>(plan.blocks) * 1024 - r.Below(1000);
  for (int k = 0; k < handsets; ++k) {
    SoakHandsetPlan h;
    // Timer expiries over the transfer: the third one gives the entry up.
    int expiries = 0;
    bool fatal = false;
    bool late = false;
    const int count = r.Below(100) < 35 ? 0 : 1 + static_cast<int>(r.Below(2));
    for (int f = 0; f < count; ++f) {
      const int block = static_cast<int>(r.Below(static_cast<uint32_t>(plan.blocks)));
      const uint8_t codes[] = {0xA0, 0xC0, 0xEE};
      std::string item;
      switch (Pick(r)) {
        case SILENCE:
          h.faults.push_back({SimFaultKind::Silence, block, 1});
          ++expiries;
          late |= block == 0;  // no block taken yet: not flashing, may be dropped
          break;
        case NAK_RETRY: h.faults.push_back({SimFaultKind::NakRetry, block, 1}); break;
        case BAD_NAK: h.faults.push_back({SimFaultKind::BadNakFailed, block, 1}); break;
        case BAD_ACK: {
          const uint8_t code = codes[r.Below(3)];
          h.faults.push_back({SimFaultKind::BadAck, code, 1});
          late |= code == 0xEE;  // the erase is sent again
          break;
        }
        case LOSE_REPLY: {
          // The erase is left out: a lost erase reply is waited for without
          // limit by design.
          const uint8_t code = codes[r.Below(2)];
          h.faults.push_back({SimFaultKind::LoseReply, code, 1});
          late = true;
          if (code == 0xC0) ++expiries;  // the jump's expiry is counted into the transfer
          break;
        }
        case GARBLE:
          h.faults.push_back({SimFaultKind::Garble, block, 1});
          ++expiries;
          late |= block == 0;
          break;
        case NAK_FAILED:
          h.faults.push_back({SimFaultKind::NakFailed, block, 1});
          fatal = true;
          break;
        case HANG_UP:
          h.faults.push_back({SimFaultKind::HangUp, block, 1});
          fatal = true;
          break;
        case VANISH_MID:
          h.vanishAtBlock = block;
          fatal = true;
          break;
        case SLOW_ERASE:
          h.eraseDelayMs = 1000 + r.Below(5000);
          late = true;
          break;
        case DRAWS: break;
      }
    }
    std::vector<std::string> items;
    for (const SimFault& f : h.faults) items.push_back(std::string(SimFaultName(f.kind)) + ":" + std::to_string(f.arg));
    if (h.eraseDelayMs) items.push_back("slow-erase:" + std::to_string(h.eraseDelayMs));
    if (h.vanishAtBlock >= 0) items.push_back("vanish-at:" + std::to_string(h.vanishAtBlock));
    for (const std::string& item : items) h.text += (h.text.empty() ? "" : " ") + item;
    if (h.text.empty()) h.text = "clean";
    if (fatal || expiries >= 3) h.outcome = SoakOutcome::Fail;
    // A handset held up before its transfer may be dropped when the first
    // entry finishes the step first: either end is right for it.
    else if (late) h.outcome = SoakOutcome::Either;
    else h.outcome = SoakOutcome::Complete;
    plan.handsets.push_back(std::move(h));
  }
  return plan;
}
