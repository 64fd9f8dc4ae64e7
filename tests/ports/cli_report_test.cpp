// velmora-cli --report: the report of a run read back and held against what
// the simulated handsets recorded and what the program printed.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "FakeBench.h"
#include "JsonValue.h"
#include "PortTree.h"
#include "sim/SimBench.h"

namespace {

std::string Slurp(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

/// Output of a shell command (the system's own tools are the oracle).
std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  pclose(pipe);
  return out;
}

/// Requests the handset got twice in a row: the tool's repeated requests.
int RepeatedRequests(const SimRecord& r) {
  int repeats = 0;
  for (size_t k = 1; k < r.requests.size(); ++k) repeats += r.requests[k] == r.requests[k - 1] ? 1 : 0;
  return repeats;
}

/// "Entry n: text" lines the program printed for entry n, in order.
std::vector<std::string> PrintedLog(const std::string& out, int entry) {
  std::vector<std::string> lines;
  const std::string prefix = "Entry " + std::to_string(entry) + ": ";
  std::istringstream in(out);
  // Anywhere in the line: a trace without its line break may stand before it.
  for (std::string line; std::getline(in, line);)
    if (const size_t at = line.find(prefix); at != std::string::npos) lines.push_back(line.substr(at + prefix.size()));
  return lines;
}

TEST(CliReportTest, TheReportHoldsWhatTheHandsetsRecorded) {
  CPortTree tree;
  CTempDir scratch;
  CSimBench sims;
  ASSERT_TRUE(sims.Start(3, {}));
  sims.Handset(1).AddFault(SimFault{SimFaultKind::NakFailed, 2, 1});
  sims.Handset(2).AddFault(SimFault{SimFaultKind::Silence, 1, 1});  // one retry marker
  for (int k = 0; k < 3; ++k) tree.AddTty("ttyACM" + std::to_string(k), "kvxuart", sims.Handset(k).SlavePath());
  // Only the first port is known by its socket, its name and its serial number.
  tree.AddByPath("pci-0000:00:14.0-usb-0:1.2:1.0", "ttyACM0");
  tree.AddById("usb-Norvane_kvxuart_SN0042-if00", "ttyACM0");
  std::ofstream(tree.SysRoot() + "/class/tty/ttyACM0/idVendor") << "1d6b\n";
  std::ofstream(tree.SysRoot() + "/class/tty/ttyACM0/serial") << "SN0042\n";

  const size_t size = 0x10000 + 6 * 1024 + 100;
  const std::string image = MakePhoneImage(scratch.path(), size, 0x10000);
  const std::string reportPath = scratch.path() + "/run.json";
  const std::string out =
      Shell(std::string(VELMORA_CLI) + " --search --sysfs-root " + tree.SysRoot() + " --dev-root " + tree.DevRoot() +
            " --phone " + image + " --report " + reportPath + " --timeout 120 2>/dev/null");
  EXPECT_NE(out.find("Entry 2 [COM2]: failed (Flash error!!)\n"), std::string::npos) << out;
  // The box lists it too, indented so that it does not read as a result line.
  EXPECT_NE(out.find("Message: Download Completed.\n         2 completed, 1 failed\n         Entry 2 [COM2]: Flash error!!\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1), "Completed 2, failed 1\n") << out;

  const std::string text = Slurp(reportPath);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.find('\n'), text.size() - 1);  // one document, one line
  const std::optional<JsonValue> parsed = JsonValue::Parse(text);
  ASSERT_TRUE(parsed) << text;
  const JsonValue& r = *parsed;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 2);  // image and report

  EXPECT_EQ(r["program"].s, "velmora-cli");
  EXPECT_EQ(r["version"].s, VELMORA_VERSION);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(r["host"].s, host);
  const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)");
  EXPECT_TRUE(std::regex_match(r["start"].s, iso)) << r["start"].s;
  EXPECT_TRUE(std::regex_match(r["end"].s, iso)) << r["end"].s;
  EXPECT_LE(r["start"].s, r["end"].s);
  EXPECT_EQ(r["completed"].Int(), 2);
  EXPECT_EQ(r["failed"].Int(), 1);

  ASSERT_EQ(r["images"].a.size(), 1u);
  const JsonValue& img = r["images"].a[0];
  EXPECT_EQ(img["kind"].s, "phone");
  EXPECT_EQ(img["path"].s, image);
  EXPECT_EQ(img["size"].Int(), static_cast<long>(size));
  EXPECT_EQ(img["sha256"].s, Shell("sha256sum " + image).substr(0, 64));

  const std::vector<uint8_t> bytes = ReadFile(image);
  ASSERT_EQ(r["entries"].a.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    const JsonValue& e = r["entries"].a[static_cast<size_t>(k)];
    const SimRecord rec = sims.Handset(k).Record();
    EXPECT_EQ(e["entry"].Int(), k + 1);
    EXPECT_EQ(e["com"].Int(), k + 1);
    EXPECT_EQ(e["device"].s, tree.Node("ttyACM" + std::to_string(k)));
    EXPECT_EQ(e["result"].s, k == 1 ? "failed" : "completed");
    EXPECT_EQ(e["reason"].kind, k == 1 ? JsonValue::String : JsonValue::Null);
    if (k == 1) {
      EXPECT_EQ(e["reason"].s, "Flash error!!");
    }
    // Every marker is answered by the last block once more.
    EXPECT_EQ(e["blocks_sent"].Int(), rec.blocksReceived - rec.markers);
    EXPECT_EQ(e["retries"].Int(), rec.markers + RepeatedRequests(rec));
    EXPECT_TRUE(std::regex_match(e["start"].s, iso));
    EXPECT_TRUE(std::regex_match(e["end"].s, iso));
    EXPECT_LE(r["start"].s, e["start"].s);
    EXPECT_LE(e["start"].s, e["end"].s);
    EXPECT_LE(e["end"].s, r["end"].s);
    std::vector<std::string> log;
    for (const auto& line : e["log"].a) log.push_back(line.s);
    EXPECT_EQ(log, PrintedLog(out, k + 1));
    if (k != 1) {
      // What the report's hash names is what the handset holds.
      const std::vector<uint8_t> held = rec.flash.Read(0x10000, static_cast<uint32_t>(size - 0x10000));
      EXPECT_TRUE(std::equal(held.begin(), held.end(), bytes.begin() + 0x10000));
    }
  }
  EXPECT_EQ(sims.Handset(2).Record().markers, 1);
  const JsonValue& first = r["entries"].a[0];
  ASSERT_EQ(first["by_path"].a.size(), 1u);
  EXPECT_EQ(first["by_path"].a[0].s, tree.DevRoot() + "/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0");
  ASSERT_EQ(first["by_id"].a.size(), 1u);
  EXPECT_EQ(first["by_id"].a[0].s, tree.DevRoot() + "/serial/by-id/usb-Norvane_kvxuart_SN0042-if00");
  EXPECT_EQ(first["usb_serial"].s, "SN0042");
  const JsonValue& second = r["entries"].a[1];
  EXPECT_TRUE(second["by_path"].a.empty() && second["by_id"].a.empty());
  EXPECT_EQ(second["usb_serial"].kind, JsonValue::Null);
}

}  // namespace
