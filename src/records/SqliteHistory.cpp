// The local history in SQLite. WAL with a full sync at each commit and one
// transaction per record: a crash or a power loss loses at most the
// handsets still running, and readers (velmora-cli history, the delivery
// thread) never wait for the writer.
#include <sqlite3.h>

#include <filesystem>
#include <system_error>

#include "HistoryStore.h"
#include "ImagesJson.h"
#include "platform/OsFile.h"

namespace {

constexpr int kBusyMs = 5000;

// Column order of every SELECT; Row() reads them back in this order.
constexpr const char* kColumns =
    "id, station, version, mode, run, entry, com, socket, usb_serial, device, images, result, reason, blocks, "
    "retries, started, ended";

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS handsets ("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " id TEXT NOT NULL UNIQUE,"
    " station TEXT NOT NULL, version TEXT NOT NULL, mode TEXT NOT NULL, run TEXT NOT NULL,"
    " entry INTEGER NOT NULL, com INTEGER NOT NULL,"
    " socket TEXT NOT NULL, usb_serial TEXT NOT NULL, device TEXT NOT NULL,"
    " images TEXT NOT NULL,"
    " result TEXT NOT NULL, reason TEXT NOT NULL, blocks INTEGER NOT NULL, retries INTEGER NOT NULL,"
    " started TEXT NOT NULL, ended TEXT NOT NULL,"
    " started_ms INTEGER NOT NULL,"
    " delivered INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX IF NOT EXISTS handsets_started ON handsets (started_ms);"
    "CREATE INDEX IF NOT EXISTS handsets_outbox ON handsets (seq) WHERE delivered = 0;";

class CStatement {
 public:
  CStatement(sqlite3* db, const char* sql) { m_ok = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) == SQLITE_OK; }
  ~CStatement() { sqlite3_finalize(m_stmt); }
  CStatement(const CStatement&) = delete;
  CStatement& operator=(const CStatement&) = delete;

  bool Ok() const { return m_ok; }
  void Bind(int at, const std::string& text) {
    sqlite3_bind_text(m_stmt, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Bind(int at, int64_t number) { sqlite3_bind_int64(m_stmt, at, number); }
  void Bind(int at, const std::optional<int64_t>& number) {
    if (number)
      Bind(at, *number);
    else
      sqlite3_bind_null(m_stmt, at);
  }
  /// SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return sqlite3_step(m_stmt); }
  void Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
  }
  std::string Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column))) : std::string();
  }
  int64_t Int(int column) const { return sqlite3_column_int64(m_stmt, column); }

 private:
  sqlite3_stmt* m_stmt = nullptr;
  bool m_ok = false;
};

HandsetRecord Row(const CStatement& s) {
  return RecordFromColumns([&](int c) { return s.Text(c); }, [&](int c) { return s.Int(c); });
}

class CSqliteHistory : public IHistoryStore {
 public:
  CSqliteHistory(sqlite3* db, std::string path) : m_db(db), m_path(std::move(path)) {}
  ~CSqliteHistory() override { sqlite3_close_v2(m_db); }

  bool Add(const HandsetRecord& r, std::string& error) override {
    CStatement s(m_db,
                 "INSERT INTO handsets (id, station, version, mode, run, entry, com, socket, usb_serial, device, "
                 "images, result, reason, blocks, retries, started, ended, started_ms) "
                 "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18)");
    if (!s.Ok()) return Fail(error);
    const std::string texts[] = {r.id, r.station, r.version, r.mode, r.run};
    for (int k = 0; k < 5; ++k) s.Bind(k + 1, texts[k]);
    s.Bind(6, int64_t{r.entry});
    s.Bind(7, int64_t{r.com});
    s.Bind(8, r.socket);
    s.Bind(9, r.usbSerial);
    s.Bind(10, r.device);
    s.Bind(11, ImagesToJson(r.images));
    s.Bind(12, r.result);
    s.Bind(13, r.reason);
    s.Bind(14, int64_t{r.blocks});
    s.Bind(15, int64_t{r.retries});
    s.Bind(16, r.started);
    s.Bind(17, r.ended);
    // A start the history cannot place in time still counts in "everything".
    s.Bind(18, IsoToEpochMs(r.started).value_or(0));
    return s.Step() == SQLITE_DONE || Fail(error);
  }

  bool Query(const HistoryPeriod& period, std::vector<HandsetRecord>& out, std::string& error) override {
    const std::string sql = std::string("SELECT ") + kColumns +
                            " FROM handsets WHERE (?1 IS NULL OR started_ms >= ?1) AND (?2 IS NULL OR started_ms < ?2)"
                            " ORDER BY seq";
    CStatement s(m_db, sql.c_str());
    if (!s.Ok()) return Fail(error);
    s.Bind(1, period.sinceMs);
    s.Bind(2, period.untilMs);
    return Collect(s, out, error);
  }

  bool Undelivered(size_t limit, std::vector<HandsetRecord>& out, std::string& error) override {
    const std::string sql =
        std::string("SELECT ") + kColumns + " FROM handsets WHERE delivered = 0 ORDER BY seq LIMIT ?1";
    CStatement s(m_db, sql.c_str());
    if (!s.Ok()) return Fail(error);
    s.Bind(1, static_cast<int64_t>(limit));
    return Collect(s, out, error);
  }

  bool MarkDelivered(const std::vector<std::string>& ids, std::string& error) override {
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    CStatement s(m_db, "UPDATE handsets SET delivered = 1 WHERE id = ?1");
    bool ok = s.Ok();
    for (size_t k = 0; ok && k < ids.size(); ++k) {
      s.Bind(1, ids[k]);
      ok = s.Step() == SQLITE_DONE;
      s.Reset();
    }
    if (!ok) {
      Fail(error);
      Exec("ROLLBACK", error);
      return false;
    }
    return Exec("COMMIT", error);
  }

  bool Exec(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = m_path + ": " + (message ? message : sqlite3_errmsg(m_db));
    sqlite3_free(message);
    return false;
  }

  /// The schema, created on first use; a file of a newer program is refused.
  bool Prepare(std::string& error) {
    sqlite3_busy_timeout(m_db, kBusyMs);
    // WAL first (it needs no transaction); a file system that cannot share
    // memory keeps the rollback journal, which is still safe, only slower.
    if (!Exec("PRAGMA journal_mode=WAL", error) || !Exec("PRAGMA synchronous=FULL", error)) return false;
    int version = 0;
    if (!UserVersion(version, error)) return false;
    if (version == 0) {
      // IMMEDIATE: two programs opening a new file at once create it once.
      if (!Exec("BEGIN IMMEDIATE", error)) return false;
      const std::string create = std::string(kSchema) + "PRAGMA user_version=" + std::to_string(kHistorySchemaVersion);
      if (!UserVersion(version, error) || (version == 0 && !Exec(create.c_str(), error))) {
        std::string ignored;
        Exec("ROLLBACK", ignored);
        return false;
      }
      if (!Exec("COMMIT", error)) return false;
      version = kHistorySchemaVersion;
    }
    if (version > kHistorySchemaVersion) {
      error = m_path + ": written by a newer program (history schema " + std::to_string(version) + ", this one reads " +
              std::to_string(kHistorySchemaVersion) + ")";
      return false;
    }
    return true;
  }

 private:
  bool UserVersion(int& version, std::string& error) {
    CStatement s(m_db, "PRAGMA user_version");
    if (!s.Ok() || s.Step() != SQLITE_ROW) return Fail(error);
    version = static_cast<int>(s.Int(0));
    return true;
  }

  bool Collect(CStatement& s, std::vector<HandsetRecord>& out, std::string& error) {
    for (int rc; (rc = s.Step()) != SQLITE_DONE;) {
      if (rc != SQLITE_ROW) return Fail(error);
      out.push_back(Row(s));
    }
    return true;
  }

  bool Fail(std::string& error) {
    error = m_path + ": " + sqlite3_errmsg(m_db);
    return false;
  }

  sqlite3* m_db;
  std::string m_path;
};

}  // namespace

std::unique_ptr<IHistoryStore> OpenLocalHistory(const std::string& path, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path parent = fs::path(path).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);
  if (ec) {
    error = parent.string() + ": " + ec.message();
    return nullptr;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    error = path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close_v2(db);
    return nullptr;
  }
  auto store = std::make_unique<CSqliteHistory>(db, path);
  if (!store->Prepare(error)) return nullptr;
  return store;
}

std::string DefaultHistoryPath() {
  const std::string chosen = OsEnvironment("VELMORA_HISTORY");
  if (!chosen.empty()) return chosen;
  const std::string state = OsEnvironment("XDG_STATE_HOME");
  if (!state.empty() && state[0] == '/') return state + "/velmora/history.sqlite3";
  const std::string home = OsEnvironment("HOME");
  if (!home.empty() && home[0] == '/') return home + "/.local/state/velmora/history.sqlite3";
  return {};
}
