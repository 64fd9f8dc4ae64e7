#include "CentralHistory.h"

#include <libpq-fe.h>

#include <cctype>
#include <cstdlib>
#include <optional>

#include <nlohmann/json.hpp>

#include "ImagesJson.h"
#include "SocketWait.h"

namespace {

using Clock = std::chrono::steady_clock;

// Bump with every change of the tables; a station never writes into a
// newer schema than it knows.
constexpr int kCentralSchemaVersion = 1;
// The advisory lock's number is any number, the same for every station: two
// stations creating the schema at once take turns.
constexpr const char* kCreateSchema =
    "BEGIN;"
    "SELECT pg_advisory_xact_lock(7215309);"
    "CREATE TABLE IF NOT EXISTS velmora_schema (version integer NOT NULL);"
    "INSERT INTO velmora_schema (version) SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM velmora_schema);"
    "CREATE TABLE IF NOT EXISTS velmora_handsets ("
    " id text PRIMARY KEY,"
    " station text NOT NULL, version text NOT NULL, mode text NOT NULL, run text NOT NULL,"
    " entry integer NOT NULL, com integer NOT NULL,"
    " socket text NOT NULL, usb_serial text NOT NULL, device text NOT NULL,"
    " images jsonb NOT NULL,"
    " result text NOT NULL, reason text NOT NULL, blocks integer NOT NULL, retries integer NOT NULL,"
    " started text NOT NULL, ended text NOT NULL,"
    " started_at timestamptz NOT NULL, ended_at timestamptz NOT NULL,"
    " received_at timestamptz NOT NULL DEFAULT now());"
    "CREATE INDEX IF NOT EXISTS velmora_handsets_started ON velmora_handsets (started_at);"
    "COMMIT";

constexpr const char* kInsert =
    "INSERT INTO velmora_handsets (id, station, version, mode, run, entry, com, socket, usb_serial, device, images,"
    " result, reason, blocks, retries, started, ended, started_at, ended_at)"
    " SELECT id, station, version, mode, run, entry, com, socket, usb_serial, device, images,"
    " result, reason, blocks, retries, started, ended, started::timestamptz, ended::timestamptz"
    " FROM jsonb_to_recordset($1::jsonb) AS x(id text, station text, version text, mode text, run text,"
    " entry integer, com integer, socket text, usb_serial text, device text, images jsonb,"
    " result text, reason text, blocks integer, retries integer, started text, ended text)"
    " ON CONFLICT (id) DO NOTHING";

constexpr const char* kSelect =
    "SELECT id, station, version, mode, run, entry, com, socket, usb_serial, device, images::text,"
    " result, reason, blocks, retries, started, ended FROM velmora_handsets"
    " WHERE ($1::bigint IS NULL OR started_at >= to_timestamp($1::bigint / 1000.0))"
    " AND ($2::bigint IS NULL OR started_at < to_timestamp($2::bigint / 1000.0))"
    " ORDER BY started_at, station, entry";

/// The password of a URI or a key=value connection string, as written.
std::string PasswordOf(const std::string& uri) {
  const size_t scheme = uri.find("://");
  if (scheme != std::string::npos) {
    const size_t authority = scheme + 3;
    const size_t end = uri.find_first_of("/?", authority);
    const size_t at = uri.rfind('@', end == std::string::npos ? std::string::npos : end);
    std::string password;
    if (at != std::string::npos && at >= authority) {
      const size_t colon = uri.find(':', authority);
      if (colon != std::string::npos && colon < at) password = uri.substr(colon + 1, at - colon - 1);
    }
    if (!password.empty()) return password;
    for (size_t p = uri.find_first_of("?&", authority); p != std::string::npos; p = uri.find('&', p + 1)) {
      if (uri.compare(p + 1, 9, "password=") == 0) {
        const size_t from = p + 10;
        return uri.substr(from, uri.find('&', from) - from);
      }
    }
    return {};
  }
  // key=value form: password=secret or password='sec ret'
  for (size_t p = uri.find("password"); p != std::string::npos; p = uri.find("password", p + 1)) {
    if (p > 0 && uri[p - 1] != ' ') continue;
    size_t v = uri.find_first_not_of(' ', p + 8);
    if (v == std::string::npos || uri[v] != '=') continue;
    v = uri.find_first_not_of(' ', v + 1);
    if (v == std::string::npos) return {};
    if (uri[v] == '\'') {
      const size_t close = uri.find('\'', v + 1);
      return uri.substr(v + 1, close == std::string::npos ? std::string::npos : close - v - 1);
    }
    return uri.substr(v, uri.find(' ', v) - v);
  }
  return {};
}

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (size_t k = 0; k < text.size(); ++k) {
    if (text[k] == '%' && k + 2 < text.size() && isxdigit(static_cast<unsigned char>(text[k + 1])) &&
        isxdigit(static_cast<unsigned char>(text[k + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(k + 1, 2), nullptr, 16));
      k += 2;
    } else {
      out += text[k];
    }
  }
  return out;
}

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  if (what.empty()) return;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

std::string TrimmedError(const char* text) {
  std::string out = text ? text : "";
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out.empty() ? "unknown error" : out;
}

std::string RecordsJson(const std::vector<HandsetRecord>& records) {
  nlohmann::json all = nlohmann::json::array();
  for (const HandsetRecord& r : records)
    all.push_back({{"id", r.id},           {"station", r.station},   {"version", r.version},
                   {"mode", r.mode},       {"run", r.run},           {"entry", r.entry},
                   {"com", r.com},         {"socket", r.socket},     {"usb_serial", r.usbSerial},
                   {"device", r.device},   {"images", nlohmann::json::parse(ImagesToJson(r.images))},
                   {"result", r.result},   {"reason", r.reason},     {"blocks", r.blocks},
                   {"retries", r.retries}, {"started", r.started},   {"ended", r.ended}});
  return all.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

struct CCentralHistory::Impl {
  std::string uri;
  const CWakeEvent* wake = nullptr;
  std::chrono::milliseconds limit;
  PGconn* conn = nullptr;

  bool Fail(std::string& error, const std::string& what) {
    error = ScrubPassword(RedactUri(uri) + ": " + what, uri);
    return false;
  }

  /// Waits for the socket in the direction libpq asks for; false with the
  /// reason when the wait ended otherwise.
  bool Wait(bool forWrite, Clock::time_point deadline, std::string& error) {
    static const CWakeEvent never;  // without a wake event nothing cuts a wait short
    switch (WaitForSocket(PQsocket(conn), forWrite, wake ? *wake : never, deadline)) {
      case SocketWait::Ready: return true;
      case SocketWait::Woken: return Fail(error, "stopped");
      case SocketWait::TimedOut: return Fail(error, "no answer within " + std::to_string(limit.count() / 1000) + " s");
      default: return Fail(error, "cannot wait for the server");
    }
  }

  bool Open(std::string& error) {
    // Ours first: what the URI says wins (sslmode, connect_timeout, ...).
    const char* keys[] = {"application_name", "client_encoding", "dbname", nullptr};
    const char* values[] = {"velmora", "UTF8", uri.c_str(), nullptr};
    conn = PQconnectStartParams(keys, values, 1);
    if (conn == nullptr) return Fail(error, "out of memory");
    if (PQstatus(conn) == CONNECTION_BAD) return Fail(error, TrimmedError(PQerrorMessage(conn)));
    // "relation already exists, skipping" and the like: not for the console.
    PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
    const auto deadline = Clock::now() + limit;
    for (PostgresPollingStatusType poll = PGRES_POLLING_WRITING;;) {
      if (poll == PGRES_POLLING_OK) break;
      if (poll == PGRES_POLLING_FAILED) return Fail(error, TrimmedError(PQerrorMessage(conn)));
      if (!Wait(poll == PGRES_POLLING_WRITING, deadline, error)) return false;
      poll = PQconnectPoll(conn);
    }
    return PQsetnonblocking(conn, 1) == 0 || Fail(error, TrimmedError(PQerrorMessage(conn)));
  }

  /// Sends a statement and collects its results; the last one's rows in
  /// `rows` (text values, null as nothing).
  bool Run(const char* sql, const std::vector<std::optional<std::string>>& params,
           std::vector<std::vector<std::optional<std::string>>>* rows, std::string& error) {
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
    const bool sent = params.empty() ? PQsendQuery(conn, sql) == 1
                                     : PQsendQueryParams(conn, sql, static_cast<int>(values.size()), nullptr,
                                                         values.data(), nullptr, nullptr, 0) == 1;
    if (!sent) return Fail(error, TrimmedError(PQerrorMessage(conn)));
    const auto deadline = Clock::now() + limit;
    for (int flushed; (flushed = PQflush(conn)) != 0;) {
      if (flushed < 0) return Fail(error, TrimmedError(PQerrorMessage(conn)));
      if (!Wait(true, deadline, error)) return false;
    }
    std::string failure;
    for (;;) {
      while (PQisBusy(conn)) {
        if (!Wait(false, deadline, error)) return false;
        if (PQconsumeInput(conn) != 1) return Fail(error, TrimmedError(PQerrorMessage(conn)));
      }
      PGresult* result = PQgetResult(conn);
      if (result == nullptr) break;
      const ExecStatusType status = PQresultStatus(result);
      if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && failure.empty())
        failure = TrimmedError(PQresultErrorMessage(result));
      if (status == PGRES_TUPLES_OK && rows) {
        rows->clear();
        for (int r = 0; r < PQntuples(result); ++r) {
          auto& row = rows->emplace_back();
          for (int c = 0; c < PQnfields(result); ++c)
            row.push_back(PQgetisnull(result, r, c) ? std::nullopt
                                                    : std::optional<std::string>(PQgetvalue(result, r, c)));
        }
      }
      PQclear(result);
    }
    return failure.empty() || Fail(error, failure);
  }

  bool EnsureSchema(std::string& error) {
    std::vector<std::vector<std::optional<std::string>>> rows;
    // A station's own role may only insert and read: it never tries to
    // create what an owner has created already.
    if (!Run("SELECT to_regclass('velmora_handsets') IS NOT NULL, to_regclass('velmora_schema') IS NOT NULL", {},
             &rows, error))
      return false;
    if (rows.empty() || rows[0].size() != 2 || rows[0][0] != "t" || rows[0][1] != "t") {
      if (!Run(kCreateSchema, {}, nullptr, error)) return false;
    }
    if (!Run("SELECT max(version) FROM velmora_schema", {}, &rows, error)) return false;
    const int version = rows.empty() || rows[0].empty() || !rows[0][0] ? 0 : std::stoi(*rows[0][0]);
    if (version > kCentralSchemaVersion)
      return Fail(error, "central schema " + std::to_string(version) + " is newer than this program's (" +
                             std::to_string(kCentralSchemaVersion) + ")");
    return true;
  }
};

CCentralHistory::CCentralHistory(std::string uri, const CWakeEvent* wake, std::chrono::milliseconds operationLimit)
    : m(std::make_unique<Impl>()) {
  m->uri = std::move(uri);
  m->wake = wake;
  m->limit = operationLimit;
}

CCentralHistory::~CCentralHistory() { Disconnect(); }

void CCentralHistory::Disconnect() {
  if (m->conn) PQfinish(m->conn);
  m->conn = nullptr;
}

bool CCentralHistory::Connect(std::string& error) {
  if (m->conn && PQstatus(m->conn) == CONNECTION_OK) return true;
  Disconnect();
  if (m->Open(error) && m->EnsureSchema(error)) return true;
  Disconnect();
  return false;
}

bool CCentralHistory::Deliver(const std::vector<HandsetRecord>& records, std::string& error) {
  if (records.empty()) return true;
  if (!Connect(error)) return false;
  if (m->Run(kInsert, {RecordsJson(records)}, nullptr, error)) return true;
  Disconnect();
  return false;
}

bool CCentralHistory::Query(const HistoryPeriod& period, std::vector<HandsetRecord>& out, std::string& error) {
  if (!Connect(error)) return false;
  auto number = [](const std::optional<int64_t>& ms) {
    return ms ? std::optional<std::string>(std::to_string(*ms)) : std::nullopt;
  };
  std::vector<std::vector<std::optional<std::string>>> rows;
  if (!m->Run(kSelect, {number(period.sinceMs), number(period.untilMs)}, &rows, error)) return false;
  for (const auto& row : rows) {
    if (row.size() != 17) continue;
    auto text = [&](int c) { return row[static_cast<size_t>(c)].value_or(""); };
    auto integer = [&](int c) -> int64_t { return std::atoi(text(c).c_str()); };
    out.push_back(RecordFromColumns(text, integer));
  }
  return true;
}

std::string RedactUri(const std::string& uri) {
  std::string out = uri;
  const std::string password = PasswordOf(uri);
  if (password.empty()) return out;
  // Only where the password stands, not every equal text (a host may be
  // named like it).
  const size_t scheme = uri.find("://");
  if (scheme != std::string::npos) {
    const size_t end = uri.find_first_of("/?", scheme + 3);
    const size_t at = uri.rfind('@', end == std::string::npos ? std::string::npos : end);
    const size_t colon = uri.find(':', scheme + 3);
    if (at != std::string::npos && colon != std::string::npos && colon < at && at > scheme + 3)
      return out.replace(colon + 1, at - colon - 1, "***");
    const size_t key = out.find("password=", scheme);
    if (key != std::string::npos) return out.replace(key + 9, password.size(), "***");
    return out;
  }
  ReplaceAll(out, password, "***");
  return out;
}

std::string ScrubPassword(const std::string& text, const std::string& uri) {
  std::string out = text;
  const std::string password = PasswordOf(uri);
  ReplaceAll(out, password, "***");
  ReplaceAll(out, PercentDecoded(password), "***");
  return out;
}
