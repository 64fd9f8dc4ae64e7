#include "SoakPlan.h"

#include <algorithm>
#include <cstdio>

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
            LATE_REPLY, CHATTER, DRAWS };

// Weights: recoverable faults are common, fatal ones rare enough that most
// handsets of a round still have something to complete.
constexpr uint32_t kWeights[DRAWS] = {14, 10, 10, 8, 8, 10, 4, 4, 5, 10, 8, 6};

// As velmora-sim --fault takes it, so that a handset of a round can be
// replayed on its own.
std::string FaultText(const SimFault& f) {
  const bool code =
      f.kind == SimFaultKind::BadAck || f.kind == SimFaultKind::LoseReply || f.kind == SimFaultKind::LateReply;
  char arg[16];
  std::snprintf(arg, sizeof arg, code ? "%02X" : "%d", f.arg);
  std::string text = std::string(SimFaultName(f.kind)) + ":" + arg;
  if (f.kind == SimFaultKind::LateReply) text += ":" + std::to_string(f.ms);
  return text;
}

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
    // A handset held up before its transfer (a slow erase, a lost or late
    // reply, a first block lost) is not one of them: it must complete too,
    // however long the others have been done.
    int expiries = 0;
    bool fatal = false;
    const int count = r.Below(100) < 35 ? 0 : 1 + static_cast<int>(r.Below(2));
    for (int f = 0; f < count; ++f) {
      const int block = static_cast<int>(r.Below(static_cast<uint32_t>(plan.blocks)));
      const uint8_t codes[] = {0xA0, 0xC0, 0xEE};
      std::string item;
      switch (Pick(r)) {
        case SILENCE:
          h.faults.push_back({SimFaultKind::Silence, block, 1});
          ++expiries;
          break;
        case NAK_RETRY: h.faults.push_back({SimFaultKind::NakRetry, block, 1}); break;
        case BAD_NAK: h.faults.push_back({SimFaultKind::BadNakFailed, block, 1}); break;
        case BAD_ACK: {
          const uint8_t code = codes[r.Below(3)];
          h.faults.push_back({SimFaultKind::BadAck, code, 1});
          break;
        }
        case LOSE_REPLY: {
          // The erase is left out: a lost erase reply is waited for without
          // limit by design.
          const uint8_t code = codes[r.Below(2)];
          h.faults.push_back({SimFaultKind::LoseReply, code, 1});
          if (code == 0xC0) ++expiries;  // the jump's expiry is counted into the transfer
          break;
        }
        case GARBLE:
          h.faults.push_back({SimFaultKind::Garble, block, 1});
          ++expiries;
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
          // Handsets on a USB bench erase in seconds, each in its own time.
          h.eraseDelayMs = 1 + r.Below(5000);
          break;
        case LATE_REPLY: {
          // A request under the 3 s request timer, repeated once before its
          // first reply comes; the erase has a timer of its own.
          const uint8_t timed[] = {0xA0, 0xAB, 0xC0};
          const uint8_t code = timed[r.Below(3)];
          h.faults.push_back({SimFaultKind::LateReply, code, 1, SimFault::kLateReplyMs});
          if (code == 0xC0) ++expiries;
          break;
        }
        case CHATTER:
          // About one stray a second, as the bench's chattering handsets.
          h.faults.push_back({SimFaultKind::Chatter, 500 + static_cast<int>(r.Below(1000)), 0});
          break;
        case DRAWS: break;
      }
    }
    std::vector<std::string> items;
    for (const SimFault& f : h.faults) items.push_back(FaultText(f));
    if (h.eraseDelayMs) items.push_back("slow-erase:" + std::to_string(h.eraseDelayMs));
    if (h.vanishAtBlock >= 0) items.push_back("vanish-at:" + std::to_string(h.vanishAtBlock));
    for (const std::string& item : items) h.text += (h.text.empty() ? "" : " ") + item;
    if (h.text.empty()) h.text = "clean";
    h.outcome = fatal || expiries >= 3 ? SoakOutcome::Fail : SoakOutcome::Complete;
    plan.handsets.push_back(std::move(h));
  }
  return plan;
}
