#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <tuple>
#include <vector>

#include "CliHistory.h"
#include "CliOptions.h"
#include "ConsoleHost.h"
#include "VelmoraDlg.h"
#include "records/CentralHistory.h"
#include "records/HistoryExport.h"
#include "records/HistoryKeeper.h"
#include "records/HistoryWhen.h"

namespace {

constexpr const char* kUsage =
    "usage: velmora-cli history [--history FILE] [--since WHEN] [--until WHEN] [--csv | --json] [--url URI]\n"
    "(velmora-cli --help tells more)\n";

class CRecordingHistory : public CCliHistory {
 public:
  CRecordingHistory(const std::optional<std::string>& path, CConsoleHost& host, const CVelmoraDlg& dlg)
      : m_host(host), m_keeper(dlg, path.value_or("")) {
    m_host.SetEntryResultSink([this](int entry) {
      if (auto problem = m_keeper.Record(entry)) {
        std::fprintf(stderr, "velmora-cli: %s\n", problem->c_str());
        std::fflush(stderr);
      }
    });
  }
  ~CRecordingHistory() override { m_host.SetEntryResultSink(nullptr); }

 private:
  CConsoleHost& m_host;
  CHistoryKeeper m_keeper;
};

struct HistoryArgs {
  std::optional<std::string> file, since, until, url;
  bool csv = false, json = false;
};

std::optional<HistoryArgs> ParseHistoryArgs(int argc, char** argv, std::string& error) {
  HistoryArgs a;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    auto value = [&](std::optional<std::string>& out) { return TakeOptionValue(argc, argv, k, out, error); };
    bool ok = true;
    if (arg == "--history")
      ok = value(a.file);
    else if (arg == "--since")
      ok = value(a.since);
    else if (arg == "--until")
      ok = value(a.until);
    else if (arg == "--url")
      ok = value(a.url);
    else if (arg == "--csv")
      a.csv = true;
    else if (arg == "--json")
      a.json = true;
    else {
      error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
    if (!ok) return std::nullopt;
  }
  if (a.csv && a.json) {
    error = "--csv and --json exclude each other";
    return std::nullopt;
  }
  if (a.file && a.url) {
    error = "--history and --url exclude each other";
    return std::nullopt;
  }
  return a;
}

}  // namespace

std::unique_ptr<CCliHistory> AttachCliHistory(const std::optional<std::string>& path, CConsoleHost& host,
                                              const CVelmoraDlg& dlg) {
  return std::make_unique<CRecordingHistory>(path, host, dlg);
}

int RunHistoryCommand(int argc, char** argv) {
  std::string error;
  const std::optional<HistoryArgs> a = ParseHistoryArgs(argc, argv, error);
  if (!a) {
    std::fprintf(stderr, "velmora-cli history: %s\n%s", error.c_str(), kUsage);
    return CLI_USAGE;
  }
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  HistoryPeriod period;
  for (const auto& [option, when, endOfDay, out] :
       {std::tuple{"--since", &a->since, false, &period.sinceMs}, std::tuple{"--until", &a->until, true, &period.untilMs}}) {
    if (!*when) continue;
    *out = ParseWhen(**when, endOfDay, now);
    if (!*out) {
      std::fprintf(stderr, "velmora-cli history: %s needs an ISO date (2025-03-01), date-time (2025-03-01T14:00) or today, not '%s'\n%s",
                   option, (*when)->c_str(), kUsage);
      return CLI_USAGE;
    }
  }

  std::vector<HandsetRecord> records;
  std::string source;
  if (a->url) {
    source = RedactUri(*a->url);
    CCentralHistory central(*a->url);
    if (!central.Query(period, records, error)) {
      std::fprintf(stderr, "velmora-cli history: %s\n", error.c_str());
      return CLI_FAILED;
    }
  } else {
    source = a->file.value_or(DefaultHistoryPath());
    std::error_code ec;
    // Reading never creates a history where there was none.
    if (source.empty() || !std::filesystem::exists(source, ec)) {
      std::fprintf(stderr, "velmora-cli history: %s: no history recorded there\n",
                   source.empty() ? "(no place: neither VELMORA_HISTORY nor HOME is set)" : source.c_str());
      return CLI_FAILED;
    }
    std::unique_ptr<IHistoryStore> store = OpenLocalHistory(source, error);
    if (!store || !store->Query(period, records, error)) {
      std::fprintf(stderr, "velmora-cli history: %s\n", error.c_str());
      return CLI_FAILED;
    }
  }

  if (a->csv) {
    std::fputs(CsvHeader().c_str(), stdout);
    for (const HandsetRecord& r : records) std::fputs(CsvLine(r).c_str(), stdout);
  } else if (a->json) {
    for (const HandsetRecord& r : records) std::fputs(JsonLine(r).c_str(), stdout);
  } else {
    // A day given as --until is taken whole.
    const bool wholeDay = a->until && (*a->until == "today" || a->until->size() == 10);
    const std::string heading = "History of " + source + ", from " + a->since.value_or("the first record") +
                                (wholeDay ? " through " : " until ") + a->until.value_or("now");
    std::fputs(FormatSummary(Summarize(records), heading).c_str(), stdout);
  }
  return std::fflush(stdout) == 0 ? CLI_COMPLETED : CLI_FAILED;
}
