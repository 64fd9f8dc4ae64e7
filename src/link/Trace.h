// The diagnostic output stream: port and I/O errors and internal conditions
// the operator does not see ("Failt to open Comm\n", "TEXT QUEUE FULL\n").
// Quiet unless asked for (--trace or VELMORA_TRACE=1), so that a console's
// standard output and its live table carry only the program's own lines.
#pragma once

#include <functional>
#include <string_view>

/// Receives every trace text exactly as written (line breaks included).
using TraceSink = std::function<void(std::string_view)>;

/// Hands `text` to the current sink; without one, writes it to standard
/// error when tracing is on (each trace then ends its line) and drops it
/// otherwise. Safe to call from any thread; texts never interleave.
void Trace(std::string_view text);

/// Replaces the sink; an empty function restores standard error. Tests use
/// it to capture trace lines, whether tracing is on or not. Returns the
/// previous sink.
TraceSink SetTraceSink(TraceSink sink);

/// Turns the standard error output of traces on or off. It starts on when
/// the environment holds VELMORA_TRACE=1.
void SetTraceEnabled(bool on);
bool TraceEnabled();
