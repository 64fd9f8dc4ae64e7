#include "link/Trace.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

namespace {

// Function-local statics: traces may be written while other translation
// units are still being initialised or already torn down.
std::mutex& TraceLock() {
  static std::mutex lock;
  return lock;
}

TraceSink& CurrentSink() {
  static TraceSink sink;
  return sink;
}

std::atomic<bool>& Enabled() {
  static std::atomic<bool> enabled{[] {
    const char* value = std::getenv("VELMORA_TRACE");
    return value != nullptr && std::strcmp(value, "1") == 0;
  }()};
  return enabled;
}

}  // namespace

void SetTraceEnabled(bool on) { Enabled() = on; }

bool TraceEnabled() { return Enabled().load(); }

void Trace(std::string_view text) {
  // The sink is called with the lock held, so a sink that is being replaced
  // is never called after SetTraceSink has returned, and texts never mix.
  // A sink must therefore not trace itself.
  std::lock_guard<std::mutex> guard(TraceLock());
  TraceSink& sink = CurrentSink();
  if (sink) {
    sink(text);
    return;
  }
  if (!Enabled().load()) return;
  // Some texts open with a line break to end what was written before them
  // ("\nEND__RX"); here every trace ends its own line instead, so those
  // would only leave blank lines.
  while (!text.empty() && text.front() == '\n') text.remove_prefix(1);
  if (text.empty()) return;
  std::string line(text);
  if (line.back() != '\n') line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

TraceSink SetTraceSink(TraceSink sink) {
  std::lock_guard<std::mutex> guard(TraceLock());
  return std::exchange(CurrentSink(), std::move(sink));
}
