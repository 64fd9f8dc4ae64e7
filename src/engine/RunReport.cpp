#include "RunReport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "platform/AppendFile.h"
#include "platform/AtomicWrite.h"
#include "platform/OsFile.h"
#include "ports/PortSearchOptions.h"
#include "VelmoraDlg.h"
#include "platform/PortDiscovery.h"
#include "platform/PortMap.h"
#include "platform/Utf8Path.h"

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "unknown"
#endif

namespace fs = std::filesystem;

// ---- SHA-256 (FIPS 180-4) ----

namespace {
constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

std::string ToHex(const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t k = 0; k < n; ++k) {
    out += kDigits[bytes[k] >> 4];
    out += kDigits[bytes[k] & 0xF];
  }
  return out;
}
}  // namespace

CSha256::CSha256()
    : m_h{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void CSha256::Block(const uint8_t* p) {
  uint32_t w[64];
  for (int t = 0; t < 16; ++t)
    w[t] = (uint32_t{p[4 * t]} << 24) | (uint32_t{p[4 * t + 1]} << 16) | (uint32_t{p[4 * t + 2]} << 8) | p[4 * t + 3];
  for (int t = 16; t < 64; ++t) {
    const uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  uint32_t a = m_h[0], b = m_h[1], c = m_h[2], d = m_h[3], e = m_h[4], f = m_h[5], g = m_h[6], h = m_h[7];
  for (int t = 0; t < 64; ++t) {
    const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[t] + w[t];
    const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  m_h[0] += a;
  m_h[1] += b;
  m_h[2] += c;
  m_h[3] += d;
  m_h[4] += e;
  m_h[5] += f;
  m_h[6] += g;
  m_h[7] += h;
}

void CSha256::Update(const void* data, size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  m_nLength += length;
  while (length > 0) {
    const size_t take = std::min(length, sizeof m_buffer - m_nBuffered);
    std::memcpy(m_buffer + m_nBuffered, p, take);
    m_nBuffered += take;
    p += take;
    length -= take;
    if (m_nBuffered == sizeof m_buffer) {
      Block(m_buffer);
      m_nBuffered = 0;
    }
  }
}

std::array<uint8_t, 32> CSha256::Final() {
  const uint64_t bits = m_nLength * 8;
  const uint8_t one = 0x80, zero = 0;
  Update(&one, 1);
  while (m_nBuffered != 56) Update(&zero, 1);
  uint8_t tail[8];
  for (int k = 0; k < 8; ++k) tail[k] = static_cast<uint8_t>(bits >> (56 - 8 * k));
  Update(tail, 8);
  std::array<uint8_t, 32> out{};
  for (int k = 0; k < 8; ++k)
    for (int j = 0; j < 4; ++j) out[4 * k + j] = static_cast<uint8_t>(m_h[k] >> (24 - 8 * j));
  return out;
}

std::string CSha256::Hex(const std::string& data) {
  CSha256 sha;
  sha.Update(data.data(), data.size());
  const auto digest = sha.Final();
  return ToHex(digest.data(), digest.size());
}

bool HashFile(const std::string& path, uint64_t& size, std::string& sha256) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  CSha256 sha;
  char buf[65536];
  size = 0;
  while (in) {
    in.read(buf, sizeof buf);
    const std::streamsize n = in.gcount();
    if (n <= 0) break;
    sha.Update(buf, static_cast<size_t>(n));
    size += static_cast<uint64_t>(n);
  }
  if (in.bad()) return false;
  const auto digest = sha.Final();
  sha256 = ToHex(digest.data(), digest.size());
  return true;
}

// ---- times and JSON ----

namespace {
struct LocalTime {
  std::tm tm{};
  int millis = 0;
  long zoneSeconds = 0;  ///< local time minus UTC
};

// Seconds from 1970-01-01 of a calendar date and time taken as UTC.
long long SecondsOfCivil(const std::tm& tm) {
  // Days from civil (proleptic Gregorian), H. Hinnant's algorithm.
  const long long y = tm.tm_year + 1900LL - (tm.tm_mon < 2 ? 1 : 0);
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long m = tm.tm_mon + 1;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + tm.tm_mday - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long days = era * 146097 + doe - 719468;
  return days * 86400 + tm.tm_hour * 3600LL + tm.tm_min * 60LL + tm.tm_sec;
}

LocalTime Local(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  LocalTime out;
  const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
  std::time_t secs = static_cast<std::time_t>(ms / 1000);
  out.millis = static_cast<int>(ms % 1000);
  if (out.millis < 0) {
    out.millis += 1000;
    --secs;
  }
  OsLocalTime(secs, out.tm);
  out.zoneSeconds = static_cast<long>(SecondsOfCivil(out.tm) - static_cast<long long>(secs));
  return out;
}

/// "+0200": worked out from the local time, as not every C library's %z
/// gives the offset (some give the zone's name).
std::string Zone(const LocalTime& lt) {
  const long minutes = (lt.zoneSeconds >= 0 ? lt.zoneSeconds : -lt.zoneSeconds) / 60;
  char z[8] = {};
  std::snprintf(z, sizeof z, "%c%02ld%02ld", lt.zoneSeconds < 0 ? '-' : '+', minutes / 60 % 100, minutes % 60);
  return z;
}

using Json = nlohmann::ordered_json;  // the fields keep the order they are written in

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

std::string HostName() { return OsHostName(); }

const char* ResultName(int result) {
  switch (result) {
    case RESULT_COMPLETED: return "completed";
    case RESULT_FAILED: return "failed";
    case RESULT_RUNNING: return "running";
    default: return "none";
  }
}

Json Image(const RunImage& image) {
  uint64_t size = 0;
  std::string sha;
  const bool read = HashFile(image.path, size, sha);
  Json out;
  out["kind"] = image.kind;
  out["path"] = image.path;
  out["size"] = read ? Json(size) : Json(nullptr);
  out["sha256"] = read ? Json(sha) : Json(nullptr);
  return out;
}

Json Entry(int i, const RunEntry& e) {
  const std::string device = CPortMap::Instance().Device(e.m_nRunPort).value_or("");
  const PortDiscoveryOptions options = PortSearchOptions();
  PortIdentity id;
  const bool known = !device.empty() && CPortDiscovery(options).IdentifyDevice(device, id);
  Json byPath = Json::array(), byId = Json::array();
  if (known) {
    for (const auto& n : id.byPath) byPath.push_back((fs::path(options.devRoot) / "serial" / "by-path" / n).string());
    for (const auto& n : id.byId) byId.push_back((fs::path(options.devRoot) / "serial" / "by-id" / n).string());
  }
  Json log = Json::array();
  for (const auto& item : e.m_runLog) log.push_back(item.text);
  Json out;
  out["entry"] = i + 1;
  out["com"] = e.m_nRunPort;
  out["device"] = TextOrNull(device);
  out["by_path"] = std::move(byPath);
  out["by_id"] = std::move(byId);
  out["usb_serial"] = TextOrNull(known ? id.usbSerial : "");
  out["result"] = ResultName(e.m_nResult);
  out["reason"] = TextOrNull(e.m_strReason);
  out["blocks_sent"] = e.m_nBlocksSent;
  out["retries"] = e.m_nRetries;
  out["start"] = IsoTime(e.m_runStart);
  out["end"] = IsoTime(e.m_runEnd);
  out["log"] = std::move(log);
  return out;
}
}  // namespace

std::string IsoTime(std::chrono::system_clock::time_point t) {
  const LocalTime lt = Local(t);
  char text[48];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &lt.tm);
  const std::string zone = Zone(lt);
  char tail[24];
  std::snprintf(tail, sizeof tail, ".%03d%.3s:%s", lt.millis, zone.c_str(), zone.size() >= 5 ? zone.c_str() + 3 : "00");
  return std::string(text) + tail;
}

std::string BuildRunReport(const CDownloadRun& run, const std::string& program) {
  int completed = 0, failed = 0;
  Json entries = Json::array();
  for (int i : run.Members()) {
    const RunEntry& e = run.Entry(i);
    if (e.m_nResult == RESULT_NONE) continue;
    completed += e.m_nResult == RESULT_COMPLETED ? 1 : 0;
    failed += e.m_nResult == RESULT_FAILED ? 1 : 0;
    entries.push_back(Entry(i, e));
  }
  Json images = Json::array();
  for (const RunImage& image : run.Plan().Images()) images.push_back(Image(image));
  Json report;
  report["program"] = program;
  report["version"] = VELMORA_VERSION;
  report["start"] = IsoTime(run.m_runStart);
  report["end"] = IsoTime(run.m_runEnd);
  report["host"] = TextOrNull(HostName());
  report["images"] = std::move(images);
  report["entries"] = std::move(entries);
  report["completed"] = completed;
  report["failed"] = failed;
  // A handset's reply lands in the log as it came, and a file name may be
  // any bytes: what is not UTF-8 is written as U+FFFD, so that the line
  // stays JSON that every reader takes.
  return report.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// ---- files ----

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error) {
  // On disk before the name points at it: a crash leaves the old report or
  // the new one, never an empty file.
  CAtomicFile file(path);
  if (!file.Create(0644)) {
    error = path + ": " + OsLastErrorText();
    return false;
  }
  if (!WriteFully(file.Fd(), content.data(), content.size()) || !file.Sync()) {
    error = path + ": " + OsLastErrorText();
    return false;
  }
  if (!file.Close() || !file.Replace()) {
    error = path + ": " + OsLastErrorText();
    return false;
  }
  return true;
}

bool AppendFileDurably(const std::string& path, const std::string& content, std::string& error) {
  if (AppendSynced(path, content)) return true;
  error = path + ": " + OsLastErrorText();
  return false;
}

std::string DefaultRunReportDir() {
#ifdef _WIN32
  const std::string local = OsEnvironment("LOCALAPPDATA");
  if (!local.empty()) return Utf8FromPath(PathFromUtf8(local) / "velmora" / "runs");
#else
  const std::string state = OsEnvironment("XDG_STATE_HOME");
  if (!state.empty() && state[0] == '/') return (fs::path(state) / "velmora" / "runs").string();
  const std::string home = OsEnvironment("HOME");
  if (!home.empty() && home[0] == '/') return (fs::path(home) / ".local" / "state" / "velmora" / "runs").string();
#endif
  return {};
}

bool WriteRunReportInto(const std::string& dir, const CDownloadRun& run, const std::string& program,
                        std::string& error) {
  std::error_code ec;
  fs::create_directories(PathFromUtf8(dir), ec);
  if (ec) {
    error = dir + ": " + ec.message();
    return false;
  }
  // Named by the start time in the basic ISO 8601 form (no colons), so
  // that the files sort by time.
  const LocalTime lt = Local(run.m_runStart);
  char name[64];
  std::strftime(name, sizeof name, "%Y%m%dT%H%M%S", &lt.tm);
  std::string base = std::string(name) + "." + std::to_string(1000 + lt.millis).substr(1) + Zone(lt);
  fs::path path = PathFromUtf8(dir) / (base + ".json");
  for (int n = 2; fs::exists(path, ec) && n < 100; ++n)
    path = PathFromUtf8(dir) / (base + "-" + std::to_string(n) + ".json");
  return WriteFileAtomically(Utf8FromPath(path), BuildRunReport(run, program) + "\n", error);
}
