// Adding to the end of a file so that what was added survives a crash the
// moment the call returns: the run reports of a station, one line a batch.
#pragma once

#include <string>

/// Appends `content` to the file at `path` (created when missing) in one
/// write and flushes it to the disk before returning. A file that does not
/// end with a line break (its last line torn by a crash) gets one first, so
/// that the new line stands on a line of its own. False on any error, which
/// OsLastErrorText then tells.
bool AppendSynced(const std::string& path, const std::string& content);
