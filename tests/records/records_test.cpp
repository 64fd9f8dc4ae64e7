// The history on its own: the local store against known records, the
// summary and the exports, the times a supervisor types, and the
// database address that must never show its password.
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include <nlohmann/json.hpp>

#include "HistoryRecords.h"
#include "TempDir.h"
#include "records/CentralHistory.h"
#include "records/HistoryDelivery.h"
#include "records/HistoryExport.h"
#include "records/HistoryWhen.h"

namespace {

int64_t Ms(const std::string& iso) { return IsoToEpochMs(iso).value_or(-1); }

std::string SqliteText(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK)
    sqlite3_exec(
        db, sql.c_str(),
        [](void* text, int, char** values, char**) {
          *static_cast<std::string*>(text) += values[0] ? values[0] : "";
          return 0;
        },
        &out, nullptr);
  sqlite3_close(db);
  return out;
}

TEST(HistoryStoreTest, RecordsComeBackWholeAndPeriodsSelectByStart) {
  CTempDir dir;
  const std::string path = dir / "state/velmora/history.sqlite3";  // its folders are made
  std::vector<HandsetRecord> made = {
      MadeUpRecord("bench-1", 1, "2025-03-01T08:00:00.000+01:00"),
      MadeUpRecord("bench-1", 2, "2025-03-01T23:30:00.000+01:00", "Flash error!!", "pci-0:1.2"),
      MadeUpRecord("bench-1", 3, "2025-03-02T00:30:00.000+01:00", "a \"quoted\", odd\nreason"),
      MadeUpRecord("bench-1", 4, "2025-03-02T10:00:00.000Z"),
  };
  made[3].images.push_back({"efs2", "/img/efs/전화번호.dat", -1, ""});  // an image that could not be read
  {
    std::string error;
    auto store = OpenLocalHistory(path, error);
    ASSERT_TRUE(store) << error;
    for (const auto& r : made) ASSERT_TRUE(store->Add(r, error)) << error;
    EXPECT_FALSE(store->Add(made[0], error)) << "an id is stored once";
  }
  EXPECT_EQ(ReadHistory(path), made);  // reopened: every field, in the order written
  EXPECT_EQ(SqliteText(path, "PRAGMA user_version"), "1");
  EXPECT_EQ(SqliteText(path, "PRAGMA journal_mode"), "wal");

  struct Case {
    std::optional<int64_t> since, until;
    std::vector<int> want;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, {0, 1, 2, 3}},
      {Ms("2025-03-01T23:30:00.000+01:00"), std::nullopt, {1, 2, 3}},  // the start is in
      {std::nullopt, Ms("2025-03-01T23:30:00.000+01:00"), {0}},        // the end is out
      {Ms("2025-03-01T23:00:00.000Z"), Ms("2025-03-02T10:00:00.000Z"), {2}},
      {Ms("2025-03-03T00:00:00.000Z"), std::nullopt, {}},
  };
  std::string error;
  auto store = OpenLocalHistory(path, error);
  ASSERT_TRUE(store) << error;
  for (const Case& c : cases) {
    std::vector<HandsetRecord> got;
    ASSERT_TRUE(store->Query({c.since, c.until}, got, error)) << error;
    std::vector<int> coms;
    for (const auto& r : got) coms.push_back(r.com - 1);
    EXPECT_EQ(coms, c.want) << c.since.value_or(-1) << ".." << c.until.value_or(-1);
  }
}

TEST(HistoryStoreTest, AFileThatIsNoHistoryOrANewerOneIsRefused) {
  CTempDir dir;
  std::string error;
  std::ofstream(dir / "text.sqlite3") << std::string(4096, 'x');
  EXPECT_FALSE(OpenLocalHistory(dir / "text.sqlite3", error));
  EXPECT_NE(error.find("not a database"), std::string::npos) << error;

  ASSERT_TRUE(OpenLocalHistory(dir / "newer.sqlite3", error));
  SqliteText(dir / "newer.sqlite3", "PRAGMA user_version=2");
  EXPECT_FALSE(OpenLocalHistory(dir / "newer.sqlite3", error));
  EXPECT_NE(error.find("newer program"), std::string::npos) << error;
}

std::vector<HandsetRecord> Shift() {
  return {
      MadeUpRecord("bench-1", 1, "2025-03-01T08:00:00.000+01:00", "", "usb-0:1.1"),
      MadeUpRecord("bench-1", 1, "2025-03-01T08:10:00.000+01:00", "Flash error!!", "usb-0:1.1"),
      MadeUpRecord("bench-1", 2, "2025-03-01T08:00:00.000+01:00", "Flash error!!"),
      MadeUpRecord("bench-1", 2, "2025-03-01T08:10:00.000+01:00", "USB 연결 상태를 확인하세요."),
      MadeUpRecord("bench-1", 2, "2025-03-01T08:20:00.000+01:00", "Flash error!!", "usb-0:1.2"),
      MadeUpRecord("bench-1", 3, "2025-03-01T08:00:00.000+01:00", "", "usb-0:1.3"),
  };
}

TEST(HistoryExportTest, SummaryGivesYieldPerComNumberAndTheCommonestFailures) {
  EXPECT_EQ(FormatSummary(Summarize(Shift()), "Today"),
            "Today\n"
            "Completed 2, failed 4, yield 33.3%\n"
            "\n"
            "COM    Socket     Completed  Failed   Yield  Most common failure\n"
            "COM1   usb-0:1.1          1       1   50.0%  Flash error!! (1)\n"
            "COM2   usb-0:1.2          0       3    0.0%  Flash error!! (2)\n"
            "COM3   usb-0:1.3          1       0  100.0%\n"
            "\n"
            "Top failure reasons:\n"
            "     3  Flash error!!\n"
            "     1  USB 연결 상태를 확인하세요.\n");

  EXPECT_EQ(FormatSummary(Summarize({}), "None"), "None\nCompleted 0, failed 0, yield -\n");
}

TEST(HistoryExportTest, CsvQuotesAsRfc4180AndJsonLinesCarryTheSameFields) {
  HandsetRecord r = MadeUpRecord("bench-1", 7, "2025-03-01T08:00:00.000+01:00", "Bad \"ack\", then\r\nsilence");
  r.id = "0123456789abcdef0123456789abcdef";
  r.socket = "pci-0000:00:14.0-usb-0:1.7:1.0";
  EXPECT_EQ(CsvHeader(),
            "id,station,started,ended,mode,run,entry,com,socket,usb_serial,result,reason,blocks,retries,images\r\n");
  EXPECT_EQ(CsvLine(r), "0123456789abcdef0123456789abcdef,bench-1,2025-03-01T08:00:00.000+01:00,"
                        "2025-03-01T08:00:00.000+01:00,batch,run-2025-03-01,7,7,pci-0000:00:14.0-usb-0:1.7:1.0,,"
                        "failed,\"Bad \"\"ack\"\", then\r\nsilence\",4,2,boot=" +
                            std::string(64, 'b') + ";phone=" + std::string(64, 'a') + "\r\n");

  const std::string line = JsonLine(r);
  ASSERT_EQ(line.find('\n'), line.size() - 1);
  const auto j = nlohmann::ordered_json::parse(line);
  std::vector<std::string> keys;
  for (const auto& item : j.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"id", "station", "started", "ended", "mode", "run", "entry", "com",
                                            "socket", "usb_serial", "result", "reason", "blocks", "retries",
                                            "images"}));
  EXPECT_EQ(j["reason"], r.reason);
  EXPECT_TRUE(j["usb_serial"].is_null());
  EXPECT_EQ(j["com"], 7);
  EXPECT_EQ(j["images"][1]["sha256"], std::string(64, 'a'));
  EXPECT_EQ(j["images"][1]["size"], 4096);
}

TEST(HistoryWhenTest, DatesTimesAndTodayInTheLocalZone) {
  const char* saved = std::getenv("TZ");
  const std::string before = saved ? saved : "";
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);  // no zone database needed
  tzset();
  const int64_t now = Ms("2025-03-01T23:30:00.000Z");  // already 2 March there
  struct Case {
    const char* when;
    bool endOfDay;
    std::optional<int64_t> want;
  };
  const Case cases[] = {
      {"2025-03-01", false, Ms("2025-02-28T23:00:00.000Z")},
      {"2025-03-01", true, Ms("2025-03-01T23:00:00.000Z")},
      {"2025-12-31", true, Ms("2025-12-31T23:00:00.000Z")},
      {"2025-07-01", false, Ms("2025-06-30T22:00:00.000Z")},  // summer time
      {"2025-03-01T14:00", false, Ms("2025-03-01T13:00:00.000Z")},
      {"2025-03-01 14:00:30", true, Ms("2025-03-01T13:00:30.000Z")},
      {"2025-03-01T14:00+03:00", false, Ms("2025-03-01T11:00:00.000Z")},
      {"2025-03-01T14:00:00.25Z", false, Ms("2025-03-01T14:00:00.250Z")},
      {"today", false, Ms("2025-03-01T23:00:00.000Z")},
      {"today", true, Ms("2025-03-02T23:00:00.000Z")},
      {"2025-02-29", false, std::nullopt},
      {"2025-3-1", false, std::nullopt},
      {"2025-03-01T25:00", false, std::nullopt},
      {"2025-03-01T14:00+1", false, std::nullopt},
      {"yesterday", false, std::nullopt},
      {"", false, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseWhen(c.when, c.endOfDay, now), c.want) << c.when << " " << c.endOfDay;
  // Whole days back, across the change to summer time on 30 March.
  const int64_t april = Ms("2025-04-01T22:30:00.000Z");  // 2 April, 00:30 there
  EXPECT_EQ(DaysBackStart(0, april), Ms("2025-04-01T22:00:00.000Z"));
  EXPECT_EQ(DaysBackStart(6, april), Ms("2025-03-26T23:00:00.000Z"));
  if (saved)
    setenv("TZ", before.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();

  EXPECT_EQ(Ms("2025-03-01T00:00:00.000+01:00"), 1740783600000);
  EXPECT_EQ(Ms("1970-01-02T00:00:00.5Z"), 86400500);
}

TEST(CentralAddressTest, ThePasswordNeverShows) {
  struct Case {
    std::string uri, shown, password;  ///< the password as the server and its messages have it
  };
  const Case cases[] = {
      {"postgresql://st:se%40cret@db:5432/line?sslmode=require", "postgresql://st:***@db:5432/line?sslmode=require",
       "se@cret"},
      {"postgres://st@db/line?password=se%40cret&sslmode=verify-full",
       "postgres://st@db/line?password=***&sslmode=verify-full", "se@cret"},
      {"host=db user=st password='se cret' dbname=line", "host=db user=st password='***' dbname=line", "se cret"},
      {"postgresql://st@db/line", "postgresql://st@db/line", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RedactUri(c.uri), c.shown);
    if (c.password.empty()) continue;
    EXPECT_EQ(ScrubPassword("failed for " + c.password + " of " + c.uri, c.uri), "failed for *** of " + c.shown);
  }
}

TEST(HistoryDeliveryTest, AServerThatNeverAnswersDoesNotHoldUpTheProgramsEnd) {
  // Connections to it are made by the kernel; no answer ever follows.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(listener, 8), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &n), 0);
  CTempDir dir;
  std::string error;
  ASSERT_TRUE(OpenLocalHistory(dir / "h.sqlite3", error)->Add(MadeUpRecord("b", 1, "2025-03-01T08:00:00.000Z"), error));

  CHistoryDelivery delivery(dir / "h.sqlite3", "postgresql://u:p@127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/l",
                            {.operationLimit = std::chrono::minutes(10)});
  delivery.Start();
  pollfd arrived{listener, POLLIN, 0};
  ASSERT_EQ(poll(&arrived, 1, 120000), 1);  // it is waiting for the server's first word
  const auto stopping = std::chrono::steady_clock::now();
  delivery.Stop(std::chrono::milliseconds(200));
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(20));
  EXPECT_EQ(delivery.Delivered(), 0u);
  close(listener);
}

}  // namespace
