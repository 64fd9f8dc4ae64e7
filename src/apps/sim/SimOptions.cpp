#include "sim/SimOptions.h"

#include <cerrno>
#include <cstdlib>

#include "platform/PortMap.h"

namespace {

bool Number(const char* text, long lo, long hi, long& out) {
  if (!text || !*text) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

// [COM/]MS or [COM/]MIN-MAX.
bool ParseEraseDelay(const std::string& text, SimEraseDelay& out) {
  constexpr long kMaxMs = 3600000;
  std::string rest = text;
  long v = 0;
  out = SimEraseDelay{};
  if (const auto slash = rest.find('/'); slash != std::string::npos) {
    if (!Number(rest.substr(0, slash).c_str(), 1, MAX_COM_PORT, v)) return false;
    out.com = static_cast<int>(v);
    rest = rest.substr(slash + 1);
  }
  std::string hi = rest;
  if (const auto dash = rest.find('-'); dash != std::string::npos) {
    hi = rest.substr(dash + 1);
    rest = rest.substr(0, dash);
  }
  if (!Number(rest.c_str(), 0, kMaxMs, v)) return false;
  out.minMs = static_cast<uint32_t>(v);
  if (!Number(hi.c_str(), out.minMs, kMaxMs, v)) return false;
  out.maxMs = static_cast<uint32_t>(v);
  return true;
}

// splitmix64: spreads neighbouring COM numbers over the whole range.
uint64_t Mix(uint64_t z) {
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

uint32_t SimEraseDelayFor(const SimOptions& options, int com) {
  const SimEraseDelay* own = nullptr;
  const SimEraseDelay* all = nullptr;
  // The last one given wins, as with any option given twice.
  for (const SimEraseDelay& d : options.eraseDelays) {
    if (d.com == com) own = &d;
    else if (d.com == 0) all = &d;
  }
  const SimEraseDelay* d = own ? own : all;
  if (d == nullptr) return 0;
  const uint64_t span = uint64_t{d->maxMs} - d->minMs + 1;
  return d->minMs + static_cast<uint32_t>(Mix(Mix(options.seed) ^ static_cast<uint64_t>(com)) % span);
}

SimHandsetConfig SimHandsetConfigFor(const SimOptions& options, int com) {
  SimHandsetConfig config = options.handset;
  config.eraseDelayMs = SimEraseDelayFor(options, com);
  for (const auto& [target, fault] : options.faults)
    if (target == 0) config.faults.push_back(fault);
  for (const auto& [target, fault] : options.faults)
    if (target == com) config.faults.push_back(fault);
  return config;
}

bool SimEraseDelaysDrawn(const SimOptions& options) {
  for (const SimEraseDelay& d : options.eraseDelays)
    if (d.minMs != d.maxMs) return true;
  return false;
}

std::string SimUsage() {
  return std::string(
             "usage: velmora-sim --count N [--first-com K] [--erase-delay [COM/]MS[-MS] ...]\n"
             "                   [--seed N] [--pace BPS] [--program-us US] [--fault SPEC ...]\n"
             "                   [--stdin-stop] | --help | --version\n"
             "Simulated handsets in download mode, one pseudo-terminal each. Prints one\n"
             "line COM<n>=<device> per handset (velmora-cli --port takes these lines as they\n"
             "are), then serves until SIGINT or SIGTERM (or, with --stdin-stop, until standard\n"
             "input ends) and prints a summary per handset to standard error.\n"
             "  --count N         handsets (1..30)\n"
             "  --first-com K     COM number of the first handset (default 1)\n"
             "  --erase-delay [COM/]MS[-MS]\n"
             "                    time an erase takes before it is acknowledged (default\n"
             "                    0); COM/ for that handset only; MIN-MAX draws each\n"
             "                    handset's own time from the range (listed on standard\n"
             "                    error); may be given many times, a handset's own wins\n"
             "  --seed N          seed of the drawn erase times (default 1)\n"
             "  --pace BPS        bytes per second each way (5760 = 57600 baud 8N1)\n"
             "  --program-us US   time programming one data block takes before its ACK\n"
             "  --fault SPEC      a misbehaviour; may be given many times\n"
             "  --stdin-stop      also stop when standard input ends\n"
             "  --version         print the program's name and version\n"
             "  --help            print this text\n") +
         SimFaultHelp() +
         "Exit status: 0 after a stop, 1 when the handsets could not be set up, 2 for a\n"
         "wrong command line.\n"
         "Examples:\n"
         "  velmora-sim --count 2\n"
         "  velmora-sim --count 4 --first-com 3 --pace 5760 --fault 4/silence:5,2 --stdin-stop\n"
         "  velmora-sim --count 20 --erase-delay 0-5000 --seed 7 --fault 3/late-reply:C0\n"
         "              --fault 9/chatter:1000\n";
}

bool ParseSimOptions(int argc, const char* const* argv, SimOptions& options, std::string& error) {
  options = SimOptions{};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    long n = 0;
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return true;
    } else if (arg == "--version") {
      options.version = true;
      return true;
    } else if (arg == "--stdin-stop") {
      options.stdinStop = true;
      continue;
    } else if (arg == "--count") {
      if (!Number(value, 1, MAX_COM_PORT, n)) {
        error = "--count needs a number from 1 to 30";
        return false;
      }
      options.count = static_cast<int>(n);
    } else if (arg == "--first-com") {
      if (!Number(value, 1, MAX_COM_PORT, n)) {
        error = "--first-com needs a number from 1 to 30";
        return false;
      }
      options.firstCom = static_cast<int>(n);
    } else if (arg == "--erase-delay") {
      SimEraseDelay d;
      if (!value || !ParseEraseDelay(value, d)) {
        error = "--erase-delay needs [COM/]MS or [COM/]MIN-MAX, milliseconds up to 3600000";
        return false;
      }
      options.eraseDelays.push_back(d);
    } else if (arg == "--seed") {
      if (!Number(value, 0, 2147483647, n)) {
        error = "--seed needs a number from 0 to 2147483647";
        return false;
      }
      options.seed = static_cast<uint64_t>(n);
    } else if (arg == "--pace") {
      if (!Number(value, 0, 100000000, n)) {
        error = "--pace needs bytes per second (0 = unpaced)";
        return false;
      }
      options.handset.paceBps = static_cast<uint32_t>(n);
    } else if (arg == "--program-us") {
      if (!Number(value, 0, 10000000, n)) {
        error = "--program-us needs microseconds (0..10000000)";
        return false;
      }
      options.handset.programUs = static_cast<uint32_t>(n);
    } else if (arg == "--fault") {
      if (!value) {
        error = "--fault needs a SPEC";
        return false;
      }
      SimFault fault;
      int com = 0;
      if (!ParseSimFault(value, fault, com, error)) return false;
      options.faults.emplace_back(com, fault);
    } else {
      error = "unknown option '" + arg + "'";
      return false;
    }
    ++i;  // the option's value
  }
  if (options.count == 0) {
    error = "--count is required";
    return false;
  }
  const int lastCom = options.firstCom + options.count - 1;
  if (lastCom > MAX_COM_PORT) {
    error = "COM numbers would run past 30";
    return false;
  }
  for (const auto& [com, fault] : options.faults) {
    if (com != 0 && (com < options.firstCom || com > lastCom)) {
      error = "fault for COM" + std::to_string(com) + ", which is not simulated";
      return false;
    }
  }
  for (const SimEraseDelay& d : options.eraseDelays) {
    if (d.com != 0 && (d.com < options.firstCom || d.com > lastCom)) {
      error = "erase delay for COM" + std::to_string(d.com) + ", which is not simulated";
      return false;
    }
  }
  return true;
}
