#include "comm/Trace.h"

#include <cstdio>
#include <mutex>
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

}  // namespace

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
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

TraceSink SetTraceSink(TraceSink sink) {
  std::lock_guard<std::mutex> guard(TraceLock());
  return std::exchange(CurrentSink(), std::move(sink));
}
