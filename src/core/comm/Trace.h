// The diagnostic output stream: port and I/O errors and internal conditions
// the operator does not see ("Failt to open Comm\n", "TEXT QUEUE FULL\n").
#pragma once

#include <functional>
#include <string_view>

/// Receives every trace text exactly as written (line breaks included).
using TraceSink = std::function<void(std::string_view)>;

/// Writes `text` to the current sink (standard error unless replaced).
/// Safe to call from any thread; texts never interleave.
void Trace(std::string_view text);

/// Replaces the sink; an empty function restores standard error. Tests use
/// it to capture trace lines. Returns the previous sink.
TraceSink SetTraceSink(TraceSink sink);
