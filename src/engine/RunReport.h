// The report of one download run: a JSON document that says which images
// went into which handsets, on which ports, with what outcome and why, so
// that a shift's work can be traced handset by handset afterwards. Both
// hosts write it: velmora-cli where --report says, the window into the
// user's state directory.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "DownloadRun.h"

/// SHA-256 of a byte stream, fed in pieces.
class CSha256 {
 public:
  CSha256();
  void Update(const void* data, size_t length);
  /// The digest; the object is spent afterwards.
  std::array<uint8_t, 32> Final();
  /// Lower-case hexadecimal digest of `data`.
  static std::string Hex(const std::string& data);

 private:
  void Block(const uint8_t* block);

  uint32_t m_h[8];
  uint8_t m_buffer[64];
  size_t m_nBuffered = 0;
  uint64_t m_nLength = 0;
};

/// Size and lower-case hexadecimal SHA-256 of the file at `path`; false
/// when it cannot be read.
bool HashFile(const std::string& path, uint64_t& size, std::string& sha256);

/// ISO 8601 local time with milliseconds and zone: 2024-05-01T14:03:07.215+02:00.
std::string IsoTime(std::chrono::system_clock::time_point t);

/// The report of `run` as one line of JSON (no line break),
/// written by `program` ("velmora-cli", "velmora"). Every string in it is
/// UTF-8: bytes that are not are written as U+FFFD.
std::string BuildRunReport(const CDownloadRun& run, const std::string& program);

/// Writes `content` to a temporary file beside `path` and renames it over
/// `path`, so that a reader never sees half a report. False with the
/// reason in `error`.
bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error);

/// Adds `content` at the end of the file at `path` (created when missing)
/// and has it on the disk before returning, so that a crash afterwards
/// loses none of it. False with the reason in `error`.
bool AppendFileDurably(const std::string& path, const std::string& content, std::string& error);

/// $XDG_STATE_HOME/velmora/runs, or ~/.local/state/velmora/runs when it is
/// unset or not absolute; on Windows %LOCALAPPDATA%\velmora\runs. Empty
/// when none can be told.
std::string DefaultRunReportDir();

/// Writes the report of `run` into `dir` (created when missing)
/// as one file named by the run's start time. False with the reason in
/// `error`.
bool WriteRunReportInto(const std::string& dir, const CDownloadRun& run, const std::string& program,
                        std::string& error);
