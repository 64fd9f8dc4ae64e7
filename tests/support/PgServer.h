// A PostgreSQL server of the test's own: initdb and pg_ctl of Debian's
// postgresql in a temporary folder, listening on a free port of 127.0.0.1
// (and a socket in that folder). The server refuses to run as root, so when
// the tests do (as CI runs them) it runs as the postgres user.
#pragma once

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "TempDir.h"

class CPgServer {
 public:
  static constexpr const char* kSuperuser = "velmora";
  static constexpr const char* kPassword = "pw;with@odd/chars";

  CPgServer() : m_dir("velmora-pg-") {}
  ~CPgServer() { Stop(); }
  CPgServer(const CPgServer&) = delete;
  CPgServer& operator=(const CPgServer&) = delete;

  /// Makes the cluster and starts it. False with the reason in `error`.
  bool Start(std::string& error) {
    m_bin = BinDir();
    if (m_bin.empty()) {
      error = "no /usr/lib/postgresql/*/bin/initdb (scripts/bootstrap installs postgresql)";
      return false;
    }
    if (getuid() == 0) {
      const passwd* pg = getpwnam("postgres");
      if (pg == nullptr || chown(m_dir.path().c_str(), pg->pw_uid, pg->pw_gid) != 0) {
        error = "cannot hand " + m_dir.path() + " to the postgres user";
        return false;
      }
      m_as = "runuser -u postgres -- ";
    }
    m_port = FreePort();
    const std::string pw = m_dir / "pw";
    if (!Shell("printf '%s' '" + std::string(kPassword) + "' > " + pw, error)) return false;
    if (!Shell(m_as + m_bin + "/initdb -D " + (m_dir / "data") + " -U " + kSuperuser +
                   " --auth-local=trust --auth-host=scram-sha-256 --pwfile=" + pw +
                   " -E UTF8 --locale=C --no-sync --no-instructions",
               error))
      return false;
    return Resume(error) && Sql("CREATE DATABASE line", error);
  }

  /// Starts the stopped server again on the same port.
  bool Resume(std::string& error) {
    return Shell(m_as + m_bin + "/pg_ctl -D " + (m_dir / "data") + " -l " + (m_dir / "log") + " -w -t 120 -o \"-p " +
                     std::to_string(m_port) + " -k " + m_dir.path() +
                     " -c listen_addresses=127.0.0.1 -c fsync=off\" start",
                 error);
  }

  /// Stops the server (fast: sessions are cut, as in a restart).
  bool Stop() {
    if (m_bin.empty() || !std::filesystem::exists(m_dir / "data/postmaster.pid")) return true;
    std::string error;
    return Shell(m_as + m_bin + "/pg_ctl -D " + (m_dir / "data") + " -w -t 120 -m fast stop", error);
  }

  /// Runs `sql` as the superuser in database `db`; its output (-At).
  bool Sql(const std::string& sql, std::string& out, const std::string& db = "postgres") {
    return Shell(m_as + m_bin + "/psql -X -q -At -v ON_ERROR_STOP=1 -h " + m_dir.path() + " -p " +
                     std::to_string(m_port) + " -U " + kSuperuser + " -d " + db + " -c \"" + sql + "\"",
                 out);
  }
  bool Sql(const std::string& sql, const std::string& db = "postgres") {
    std::string out;
    return Sql(sql, out, db);
  }

  /// A connection URI for `user` with `password` (percent-encoded as given).
  std::string Uri(const std::string& user, const std::string& password, const std::string& extra = "") const {
    return "postgresql://" + user + ":" + password + "@127.0.0.1:" + std::to_string(m_port) + "/line" + extra;
  }
  std::string SuperUri() const { return Uri(kSuperuser, "pw%3Bwith%40odd%2Fchars"); }
  int Port() const { return m_port; }

 private:
  static std::string BinDir() {
    std::string best;
    std::error_code ec;
    for (const auto& v : std::filesystem::directory_iterator("/usr/lib/postgresql", ec))
      if (std::filesystem::exists(v.path() / "bin/initdb") && v.path().string() > best) best = v.path().string();
    return best.empty() ? best : best + "/bin";
  }

  static int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
  }

  /// Runs `command` through the shell; its output (with standard error) in
  /// `out`, which on failure also says what failed.
  static bool Shell(const std::string& command, std::string& out) {
    out.clear();
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return false;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    if (pclose(pipe) == 0) return true;
    out = command + ": " + out;
    return false;
  }

  CTempDir m_dir;
  std::string m_bin, m_as;
  int m_port = 0;
};
