// Windows has no history yet: Debian ships no SQLite or libpq the static
// programs could link, so the run report files (--report) are the record.
#include <cstdio>

#include "CliHistory.h"
#include "CliOptions.h"

std::unique_ptr<CCliHistory> AttachCliHistory(const std::optional<std::string>& path, CConsoleHost& host,
                                              const CVelmoraDlg& dlg) {
  (void)host;
  (void)dlg;
  if (path)
    std::fprintf(stderr, "velmora-cli: no history is kept on Windows (--history %s); --report keeps the run\n",
                 path->c_str());
  return nullptr;
}

int RunHistoryCommand(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::fprintf(stderr, "velmora-cli history: no history is kept on Windows; the run report files are the record\n");
  return CLI_USAGE;
}
