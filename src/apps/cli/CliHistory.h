// velmora-cli and the bench's history: every handset of a download run (of
// each batch with --station) is recorded as its result is known, and
// `velmora-cli history` reads the records back. On Windows the run report
// files stay the record for now.
#pragma once

#include <memory>
#include <optional>
#include <string>

class CConsoleHost;
class CVelmoraDlg;

/// Records the handsets of `dlg`'s runs while it lives.
class CCliHistory {
 public:
  virtual ~CCliHistory() = default;
};

/// Starts recording `dlg`'s handsets into `path` (--history; the default
/// history without it) through `host`. A history that cannot be written
/// costs one line on standard error per run, never the run.
std::unique_ptr<CCliHistory> AttachCliHistory(const std::optional<std::string>& path, CConsoleHost& host,
                                              const CVelmoraDlg& dlg);

/// `velmora-cli history ...`: `argv[0]` is "history". The exit status.
int RunHistoryCommand(int argc, char** argv);
