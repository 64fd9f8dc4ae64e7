#include "sim/SimFault.h"

#include <cerrno>
#include <cstdlib>

namespace {

struct KindInfo {
  SimFaultKind kind;
  const char* name;
  enum { None, Block, Code, CodeAndMs, Period } arg;
};

constexpr KindInfo kKinds[] = {
    {SimFaultKind::Silence, "silence", KindInfo::Block},
    {SimFaultKind::NakRetry, "nak-retry", KindInfo::Block},
    {SimFaultKind::NakFailed, "nak-failed", KindInfo::Block},
    {SimFaultKind::BadNakFailed, "bad-nak-failed", KindInfo::Block},
    {SimFaultKind::BadAck, "bad-ack", KindInfo::Code},
    {SimFaultKind::OldBoot, "old-boot", KindInfo::None},
    {SimFaultKind::RefuseJump, "refuse-jump", KindInfo::None},
    {SimFaultKind::Dead, "dead", KindInfo::None},
    {SimFaultKind::HangUp, "hangup", KindInfo::Block},
    {SimFaultKind::Hostile, "hostile", KindInfo::None},
    {SimFaultKind::LoseReply, "lose-reply", KindInfo::Code},
    {SimFaultKind::Garble, "garble", KindInfo::Block},
    {SimFaultKind::LateReply, "late-reply", KindInfo::CodeAndMs},
    {SimFaultKind::Chatter, "chatter", KindInfo::Period},
};

// A stray every few milliseconds would leave no quiet gap for the real
// replies between them.
constexpr int kMinChatterMs = 200;
constexpr int kMaxMs = 3600000;

// Whole-string number in `base`, within [lo, hi].
bool Number(const std::string& s, int base, long lo, long hi, int& out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

const char* SimFaultName(SimFaultKind kind) {
  for (const auto& k : kKinds)
    if (k.kind == kind) return k.name;
  return "?";
}

const char* SimFaultHelp() {
  return "  SPEC = [COM/]KIND[:ARG][,TIMES]   COM: only that handset (default all)\n"
         "    silence:K        drop block K (no reply)\n"
         "    nak-retry:K      answer block K with A1\n"
         "    nak-failed:K     answer block K with A4 00 00\n"
         "    bad-nak-failed:K answer block K with A4 12 34\n"
         "    hangup:K         close the line when block K arrives\n"
         "    bad-ack:CC       answer request code CC (hex) with 02 00 00\n"
         "    old-boot         report boot version b1.00\n"
         "    refuse-jump      answer the jump with A3 9E 4C\n"
         "    dead             never answer\n"
         "    hostile          answer every block with 03 03 03\n"
         "    lose-reply:CC    carry out request code CC (hex) but send no reply\n"
         "    garble:K         write block K, cut the closing flag off its ACK\n"
         "    late-reply:CC[:MS]\n"
         "                     hold the reply to request code CC (hex) back MS ms\n"
         "                     (default 3500, past the tool's 3 s request timer); a\n"
         "                     repeat of CC meanwhile is answered 10 ms after it,\n"
         "                     so the tool gets two replies for one request\n"
         "    chatter:MS       every MS ms (200 or more) send a reply that answers\n"
         "                     nothing, RSP_IGNORED (A2) and the unknown code 5A by\n"
         "                     turns, from the tool's first byte on; always\n"
         "  K counts blocks from 0 after each erase; TIMES (default 1, 0 = always)\n"
         "  says how often the fault fires. Example: 2/silence:5,2\n";
}

bool ParseSimFault(const std::string& text, SimFault& fault, int& com, std::string& error) {
  std::string rest = text;
  com = 0;
  fault = SimFault{};
  if (const auto slash = rest.find('/'); slash != std::string::npos) {
    if (!Number(rest.substr(0, slash), 10, 1, 999, com)) {
      error = "bad COM number in fault '" + text + "'";
      return false;
    }
    rest = rest.substr(slash + 1);
  }
  if (const auto comma = rest.find(','); comma != std::string::npos) {
    if (!Number(rest.substr(comma + 1), 10, 0, 1000000, fault.times)) {
      error = "bad count in fault '" + text + "'";
      return false;
    }
    rest = rest.substr(0, comma);
  }
  std::string name = rest, arg;
  bool hasArg = false;
  if (const auto colon = rest.find(':'); colon != std::string::npos) {
    name = rest.substr(0, colon);
    arg = rest.substr(colon + 1);
    hasArg = true;
  }
  for (const auto& k : kKinds) {
    if (name != k.name) continue;
    fault.kind = k.kind;
    if (k.arg == KindInfo::None) {
      if (hasArg) {
        error = std::string("fault '") + k.name + "' takes no argument";
        return false;
      }
    } else if (k.arg == KindInfo::Block) {
      if (!hasArg || !Number(arg, 10, 0, 4194304, fault.arg)) {
        error = std::string("fault '") + k.name + "' needs a block number, as in " + k.name + ":3";
        return false;
      }
    } else if (k.arg == KindInfo::Period) {
      if (!hasArg || !Number(arg, 10, kMinChatterMs, kMaxMs, fault.arg)) {
        error = std::string("fault '") + k.name + "' needs a period of 200 ms or more, as in " + k.name + ":1000";
        return false;
      }
    } else {
      std::string code = arg;
      if (const auto colon = arg.find(':'); k.arg == KindInfo::CodeAndMs && colon != std::string::npos) {
        code = arg.substr(0, colon);
        if (!Number(arg.substr(colon + 1), 10, 1, kMaxMs, fault.ms)) {
          error = std::string("fault '") + k.name + "' needs milliseconds after the code, as in " + k.name + ":A0:3500";
          return false;
        }
      }
      if (!hasArg || !Number(code, 16, 0, 255, fault.arg)) {
        error = std::string("fault '") + k.name + "' needs a request code in hex, as in " + k.name + ":EE";
        return false;
      }
    }
    if (k.kind == SimFaultKind::Dead || k.kind == SimFaultKind::Hostile || k.kind == SimFaultKind::Chatter)
      fault.times = 0;
    return true;
  }
  error = "unknown fault '" + name + "'";
  return false;
}
