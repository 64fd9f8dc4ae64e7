// velmora-cli as a station, batch after batch or socket by socket, on a fake
// port tree, with simulated handsets plugged in and pulled out between (and
// during) the runs, and the signals that end it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "JsonValue.h"
#include "PhoneImage.h"
#include "PortTree.h"
#include "RunProgram.h"
#include "platform/SerialPort.h"
#include "pty/PtyPair.h"
#include "sim/SimBench.h"

namespace {

constexpr int kBatchMs = 90000;
constexpr int kStopMs = 3000;
constexpr uint32_t kImageStart = 0x10000;
constexpr size_t kImageSize = kImageStart + 12 * 1024 + 77;
// The first entry to finish a step drops those whose first block is not yet
// answered. Replies are taken as they come, so an unpaced handset gets this
// image through in a few milliseconds, less than a loaded machine may hold
// another entry's thread: its handsets take 5 ms a block instead.
const SimHandsetConfig kBatchLine{.paceBps = 200000};
const std::string kTwoCompleted =
    "Entry 1 [COM1]: completed\nEntry 2 [COM2]: completed\nBatch 1: 2 completed, 0 failed\n";

class StationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VELMORA_SETTINGS", (m_scratch.path() + "/settings.ini").c_str(), 1);
    m_image = MakePhoneImage(m_scratch.path(), kImageSize, kImageStart);
    const std::vector<uint8_t> bytes = ReadFile(m_image);
    m_want.assign(bytes.begin() + kImageStart, bytes.end());
    m_want.resize((m_want.size() + 1023) / 1024 * 1024, 0xFF);
  }
  void TearDown() override { unsetenv("VELMORA_SETTINGS"); }

  /// Handset k appears as tty `name`: sysfs first, then its node.
  void Plug(const std::string& name, int k) {
    m_tree.AddSysTty(name, "kvxuart");
    m_tree.AddNode(name, m_sims.Handset(k).SlavePath());
  }
  /// Handset k in hub socket `s` as tty `name`: the socket's link is there
  /// before the node appears, as udev leaves it.
  void PlugAt(const std::string& name, int s, int k) {
    m_tree.AddSysTty(name, "kvxuart");
    m_tree.AddByPath("pci-0000:00:14.0-usb-0:1." + std::to_string(s) + ":1.0", name);
    m_tree.AddNode(name, m_sims.Handset(k).SlavePath());
  }
  /// Handset k as tty `name`, its USB device carrying serial `serial`.
  void PlugSerial(const std::string& name, int k, const std::string& serial) {
    m_tree.AddSysTty(name, "kvxuart");
    const std::string device = m_tree.SysRoot() + "/class/tty/" + name + "/device/";
    std::ofstream(device + "idVendor") << "1d6b\n";
    std::ofstream(device + "serial") << serial << "\n";
    m_tree.AddNode(name, m_sims.Handset(k).SlavePath());
  }
  /// Handset k on tty `name` is pulled out: the node goes, the line dies.
  void Pull(const std::string& name, int k) {
    m_tree.Unplug(name);
    m_sims.Handset(k).Stop();
  }
  /// The handset holds the image and was sent the jump in its first step
  /// (between the step's opening request and its erase).
  void ExpectDownloaded(int k) {
    SCOPED_TRACE("handset " + std::to_string(k));
    const SimRecord r = m_sims.Handset(k).Record();
    EXPECT_EQ(r.transfersDone, 1);
    EXPECT_TRUE(r.violations.empty()) << (r.violations.empty() ? "" : r.violations[0]);
    EXPECT_EQ(r.flash.Read(kImageStart, static_cast<uint32_t>(m_want.size())), m_want);
    bool jumped = false;
    for (const auto& req : r.requests) {
      if (req.empty() || req[0] == 0xEE) break;
      jumped = jumped || req[0] == 0xC0;
    }
    EXPECT_TRUE(jumped) << "no jump request C0 before the first erase";
  }
  /// The output from the start of batch `k`'s result lines to its summary.
  /// velmora-cli in station mode on the fake tree, downloading the image.
  bool StartStation(CChildProcess& cli, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {VELMORA_CLI, "--station", "--settle", "0.8", "--sysfs-root", m_tree.SysRoot(),
                                     "--dev-root", m_tree.DevRoot(), "--phone", m_image, "--timeout", "120"};
    args.insert(args.end(), more.begin(), more.end());
    return cli.Start(args);
  }

  /// The lines of the file at `path`.
  static std::vector<std::string> FileLines(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }

  static std::string BatchLines(const std::string& out, int k) {
    const std::string summary = "Batch " + std::to_string(k) + ": ";
    const size_t end = out.find(summary);
    if (end == std::string::npos) return "";
    const size_t prev = k > 1 ? out.find("Batch " + std::to_string(k - 1) + ": ") : std::string::npos;
    std::string lines;
    size_t at = prev == std::string::npos ? 0 : out.find('\n', prev) + 1;
    while (at < out.size()) {
      const size_t nl = out.find('\n', at);
      const std::string line = out.substr(at, nl - at);
      if ((line.rfind("Entry ", 0) == 0 && line.find("]: ") != std::string::npos) || line.rfind(summary, 0) == 0)
        lines += line + "\n";
      if (line.rfind(summary, 0) == 0 || nl == std::string::npos) break;
      at = nl + 1;
    }
    return lines;
  }

  /// Batch `k` ends within kBatchMs, and its result lines and summary are
  /// `want`.
  static ::testing::AssertionResult BatchEnds(CChildProcess& cli, int k, const std::string& want) {
    if (!cli.WaitForText("Batch " + std::to_string(k) + ": ", kBatchMs))
      return ::testing::AssertionFailure() << "batch " << k << " did not end\n" << cli.Output();
    const std::string got = BatchLines(cli.Output(), k);
    if (got == want) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "batch " << k << " said\n" << got << "not\n" << want << cli.Output();
  }

  /// Result lines without their entry numbers, in COM order, then the
  /// summary.
  static std::string ByPort(const std::string& lines) {
    std::vector<std::pair<int, std::string>> results;
    std::string rest;
    size_t at = 0;
    for (size_t nl; (nl = lines.find('\n', at)) != std::string::npos; at = nl + 1) {
      const std::string line = lines.substr(at, nl + 1 - at);
      const size_t com = line.find("[COM");
      if (line.rfind("Entry ", 0) == 0 && com != std::string::npos)
        results.emplace_back(std::atoi(line.c_str() + com + 4), line.substr(com));
      else
        rest += line;
    }
    std::sort(results.begin(), results.end());
    std::string out;
    for (const auto& r : results) out += r.second;
    return out + rest;
  }

  /// Once handset k is two blocks into its image, `sig` stops the program,
  /// which must end within kStopMs; its exit status.
  int StopMidImage(CChildProcess& cli, int k, int sig) {
    if (!m_sims.Handset(k).WaitFor([](const SimRecord& r) { return r.blocksWritten >= 2; }, kBatchMs)) {
      ADD_FAILURE() << "handset " << k << " never took two blocks\n" << cli.Output();
      return -1;
    }
    const auto stopped = std::chrono::steady_clock::now();
    if (!cli.Signal(sig)) return -1;
    const int status = cli.Wait(kBatchMs);
    EXPECT_LE(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(kStopMs));
    return status;
  }
  /// Waits until the output holds `n` result lines ending in `tail`.
  static bool WaitForResults(CChildProcess& cli, const std::string& tail, int n) {
    return cli.WaitForOutput([&](const std::string& out) { return Count(out, tail) >= n; }, kBatchMs);
  }
  static int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  CTempDir m_scratch;
  CPortTree m_tree;
  CSimBench m_sims;
  std::string m_image;
  std::vector<uint8_t> m_want;
};

TEST_F(StationTest, ThreeBatchesAsHandsetsAreSwappedOneOldAndOnePulledMidBatch) {
  // 0, 1: batch 1; 2, 3, 4: batch 2 (3 pulled mid-image); 5 (old boot
  // version), 6: batch 3.
  ASSERT_TRUE(m_sims.Start(7, kBatchLine));
  // Batch 2 goes slowly enough for handset 3 to be pulled in the middle of
  // its image; the others not so fast that they finish the step before its
  // first block is answered (it would be dropped then, not pulled).
  m_sims.Handset(2).SetPace(4000);
  m_sims.Handset(3).SetPace(2000);
  m_sims.Handset(4).SetPace(4000);
  m_sims.Handset(5).AddFault(SimFault{SimFaultKind::OldBoot, 0, 0});
  Plug("ttyACM0", 0);  // present at the start: found by the search
  Plug("ttyACM1", 1);
  CChildProcess cli;
  ASSERT_TRUE(StartStation(cli));

  ASSERT_TRUE(BatchEnds(cli, 1, kTwoCompleted));

  // The next handsets come in before the last ones leave, so they take new
  // numbers. Not necessarily new entries: an entry whose handset is pulled
  // is freed by whichever comes first, the removal (queued behind these
  // arrivals) or its line hanging up (which may overtake them).
  Plug("ttyACM5", 2);
  Plug("ttyACM3", 3);
  Plug("ttyACM4", 4);
  Pull("ttyACM0", 0);
  Pull("ttyACM1", 1);
  ASSERT_TRUE(m_sims.Handset(3).WaitFor([](const SimRecord& r) { return r.blocksWritten >= 2; }, kBatchMs))
      << cli.Output();
  Pull("ttyACM3", 3);
  ASSERT_TRUE(cli.WaitForText("Batch 2: ", kBatchMs)) << cli.Output();
  // The pull mid-image is seen twice as well: the reason is the removal's,
  // or the hang-up's line when that came first.
  const std::string batch2 = ByPort(BatchLines(cli.Output(), 2));
  const auto expect2 = [](const std::string& reason) {
    return "[COM3]: completed\n[COM4]: failed (" + reason + ")\n[COM5]: completed\nBatch 2: 2 completed, 1 failed\n";
  };
  EXPECT_TRUE(batch2 == expect2("USB 연결 상태를 확인하세요.") ||
              batch2 == expect2(m_tree.DevRoot() + "/ttyACM3: device gone"))
      << batch2 << cli.Output();

  Pull("ttyACM5", 2);
  Pull("ttyACM4", 4);
  Plug("ttyACM0", 5);  // a name seen before, on another handset
  Plug("ttyACM7", 6);
  // The old boot version is refused: the version is asked in this run too.
  ASSERT_TRUE(BatchEnds(cli, 3,
                        "Entry 1 [COM1]: failed (version이 다릅니다.다른 tool을 이용하세요.)\nEntry 2 [COM2]: completed\n"
                        "Batch 3: 1 completed, 1 failed\n"));

  const auto stopped = std::chrono::steady_clock::now();
  ASSERT_TRUE(cli.Signal(SIGTERM));
  EXPECT_EQ(cli.Wait(kBatchMs), 143) << cli.Output();
  EXPECT_LE(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(kStopMs));
  EXPECT_NE(cli.Output().find("\nTotal: 3 batches, 5 completed, 2 failed\n"), std::string::npos) << cli.Output();

  for (int k : {0, 1, 2, 4, 6}) ExpectDownloaded(k);
  EXPECT_EQ(m_sims.Handset(3).Record().transfersDone, 0);
  const SimRecord old = m_sims.Handset(5).Record();
  EXPECT_EQ(old.transfersDone, 0);
  EXPECT_TRUE(old.erases.empty());
  bool asked = false;
  for (const auto& req : old.requests) asked = asked || (!req.empty() && req[0] == 0xAB);
  EXPECT_TRUE(asked) << "the old handset was never asked for its boot version";
}

TEST_F(StationTest, SocketsKeepTheirNumbersFromBatchToBatch) {
  ASSERT_TRUE(m_sims.Start(4, kBatchLine));
  PlugAt("ttyACM0", 2, 0);  // found by the search: numbered in socket order
  PlugAt("ttyACM1", 1, 1);
  CChildProcess cli;
  ASSERT_TRUE(StartStation(cli));
  ASSERT_TRUE(BatchEnds(cli, 1, kTwoCompleted));

  // The next two go into the same sockets, socket 2 first, under new names:
  // each socket's number comes back (the entries follow the arrivals).
  Pull("ttyACM0", 0);
  Pull("ttyACM1", 1);
  PlugAt("ttyACM3", 2, 2);
  PlugAt("ttyACM2", 1, 3);
  ASSERT_TRUE(BatchEnds(cli, 2, "Entry 1 [COM2]: completed\nEntry 2 [COM1]: completed\nBatch 2: 2 completed, 0 failed\n"));
  ASSERT_TRUE(cli.Signal(SIGTERM));
  EXPECT_EQ(cli.Wait(kBatchMs), 143) << cli.Output();
  for (int k = 0; k < 4; ++k) ExpectDownloaded(k);
}

TEST_F(StationTest, SignalMidRunReportsTheRunAndFreesThePort) {
  ASSERT_TRUE(m_sims.Start(1, {}));
  m_sims.Handset(0).SetPace(2000);
  const std::string device = m_sims.Handset(0).SlavePath();
  CChildProcess cli;
  ASSERT_TRUE(cli.Start({VELMORA_CLI, "--port", "1=" + device, "--phone", m_image, "--timeout", "120"}));
  EXPECT_EQ(StopMidImage(cli, 0, SIGINT), 130) << cli.Output();
  const std::string out = cli.Output();
  EXPECT_NE(out.find("Entry 1: Download interrupted.\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\nEntry 1 [COM1]: failed (Download interrupted.)\nCompleted 0, failed 1\n"), std::string::npos) << out;
  EXPECT_EQ(m_sims.Handset(0).Record().transfersDone, 0);

  auto port = CreateSerialPort();
  EXPECT_TRUE(port->Open(device)) << port->LastError();
}

TEST_F(StationTest, ALaterStationAddsItsBatchesToTheReportOfAnEarlierOne) {
  ASSERT_TRUE(m_sims.Start(2, kBatchLine));
  const std::string report = m_scratch.path() + "/shift.jsonl";
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE("station " + std::to_string(k + 1));
    const std::string name = "ttyACM" + std::to_string(k);
    Plug(name, k);
    CChildProcess cli;
    ASSERT_TRUE(StartStation(cli, {"--report", report}));
    ASSERT_TRUE(cli.WaitForText("Batch 1: ", kBatchMs)) << cli.Output();
    // On the disk as the batch ends, not only when the station does.
    EXPECT_EQ(FileLines(report).size(), static_cast<size_t>(k + 1));
    ASSERT_TRUE(cli.Signal(SIGTERM));
    EXPECT_EQ(cli.Wait(kBatchMs), 143) << cli.Output();
    Pull(name, k);
  }
  const std::vector<std::string> lines = FileLines(report);
  ASSERT_EQ(lines.size(), 2u);
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE("line " + std::to_string(k + 1));
    const std::optional<JsonValue> batch = JsonValue::Parse(lines[static_cast<size_t>(k)]);
    ASSERT_TRUE(batch) << lines[static_cast<size_t>(k)];
    ASSERT_EQ((*batch)["entries"].a.size(), 1u);
    EXPECT_EQ((*batch)["entries"].a[0]["device"].s, m_tree.Node("ttyACM" + std::to_string(k)));
    EXPECT_EQ((*batch)["completed"].Int(), 1);
  }
}

// The first ~100 ms of a run open its links. A stop then ends the run as it
// would a moment later: every entry of it reported interrupted, the totals,
// 130 or 143.
TEST_F(StationTest, AStopWhileTheLinksOpenEndsTheRunAsAnyStop) {
  struct Case {
    bool station;
    int signal, status;
    std::string tail;
  };
  const std::string entry = "Entry 1 [COM1]: failed (Download interrupted.)\n";
  const Case cases[] = {
      {false, SIGINT, 130, entry + "Completed 0, failed 1\n"},
      {true, SIGTERM, 143, entry + "Batch 1: 0 completed, 1 failed\nTotal: 1 batches, 0 completed, 1 failed\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.station ? "station" : "single run");
    // The handset's end is the test's: its master hangs up while nobody
    // has the port open, so it tells the moment the tool opens it.
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    ::close(::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY));
    CChildProcess cli;
    if (c.station) {
      m_tree.AddTty("ttyACM0", "kvxuart", pty.SlavePath());
      ASSERT_TRUE(StartStation(cli));
    } else {
      ASSERT_TRUE(cli.Start({VELMORA_CLI, "--port", "1=" + pty.SlavePath(), "--phone", m_image}));
    }
    const auto opened = [&] {
      pollfd p{pty.Master(), POLLIN, 0};
      return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBatchMs);
    while (!opened() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(opened()) << cli.Output();
    ASSERT_TRUE(cli.Signal(c.signal));
    EXPECT_EQ(cli.Wait(kBatchMs), c.status) << cli.Output();
    EXPECT_TRUE(cli.Output().ends_with(c.tail)) << cli.Output();
    if (c.station) m_tree.Unplug("ttyACM0");
  }
}

// The flow line: three sockets on their own. Socket A's handset takes 20 s
// to erase; meanwhile socket B serves handset after handset (one
// refusing a block, one pulled mid-image), and socket C's handset, left in
// after it ended and shown anew under its serial (as one that restarts after
// its jump), is never flashed again.
TEST_F(StationTest, FlowSocketsRunOnTheirOwn) {
  ASSERT_TRUE(m_sims.Start(8, {}));
  // Socket B's five handsets take a few seconds on an idle machine.
  m_sims.Handset(0).SetEraseDelayMs(20000);
  m_sims.Handset(3).AddFault(SimFault{SimFaultKind::NakFailed, 2, 1});
  // Slow to program, so that it can be pulled mid-image; its replies come
  // whole, however loaded the machine.
  m_sims.Handset(4).SetProgramUs(200000);
  Plug("ttyACM0", 0);  // socket A: COM1
  PlugSerial("ttyACM1", 1, "SN-C");  // socket C: COM2
  Plug("ttyACM2", 2);  // socket B: COM3, handset after handset
  CChildProcess cli;
  ASSERT_TRUE(StartStation(cli, {"--flow", "--settle", "0.3"}));

  ASSERT_TRUE(WaitForResults(cli, "[COM2]: completed\n", 1)) << cli.Output();
  Pull("ttyACM1", 1);
  PlugSerial("ttyACM1", 7, "SN-C");
  ASSERT_TRUE(WaitForResults(cli, "[COM3]: completed\n", 1)) << cli.Output();
  Pull("ttyACM2", 2);
  Plug("ttyACM2", 3);
  ASSERT_TRUE(WaitForResults(cli, "[COM3]: failed (Flash error!!)\n", 1)) << cli.Output();
  Pull("ttyACM2", 3);
  Plug("ttyACM2", 4);
  ASSERT_TRUE(m_sims.Handset(4).WaitFor([](const SimRecord& r) { return r.blocksWritten >= 2; }, kBatchMs))
      << cli.Output();
  Pull("ttyACM2", 4);
  ASSERT_TRUE(WaitForResults(cli, "[COM3]: failed (", 2)) << cli.Output();
  Plug("ttyACM2", 5);
  ASSERT_TRUE(WaitForResults(cli, "[COM3]: completed\n", 2)) << cli.Output();
  Pull("ttyACM2", 5);
  Plug("ttyACM2", 6);
  ASSERT_TRUE(WaitForResults(cli, "[COM3]: completed\n", 3)) << cli.Output();
  // Socket B has served three handsets while A's first still erases.
  EXPECT_EQ(m_sims.Handset(0).Record().transfersDone, 0) << cli.Output();
  ASSERT_TRUE(WaitForResults(cli, "[COM1]: completed\n", 1)) << cli.Output();

  ASSERT_TRUE(cli.Signal(SIGTERM));
  EXPECT_EQ(cli.Wait(kBatchMs), 143) << cli.Output();
  EXPECT_TRUE(cli.Output().ends_with("Total: 7 handsets, 5 completed, 2 failed\n")) << cli.Output();
  EXPECT_EQ(Count(cli.Output(), "[COM2]: "), 1) << cli.Output();
  for (int k : {0, 1, 2, 5, 6}) ExpectDownloaded(k);
  for (int k : {3, 4}) EXPECT_EQ(m_sims.Handset(k).Record().transfersDone, 0) << k;
  EXPECT_TRUE(m_sims.Handset(7).Record().requests.empty());
}

// A plan of several steps runs whole for each handset, its EFS2 folder file
// by file; a stop mid-image fails the running handset and ends the line.
TEST_F(StationTest, FlowRunsTheWholePlanPerHandsetAndStopsOnASignal) {
  ASSERT_TRUE(m_sims.Start(2, {}));
  m_sims.Handset(1).SetProgramUs(200000);
  const std::vector<uint8_t> boot = PatternBytes(5000, 2);
  const std::string bootPath = m_scratch.Write("boot.bin", boot);
  m_scratch.Write("efs/one.dat", PatternBytes(2500, 4));
  m_scratch.Write("efs/two.dat", PatternBytes(1024, 5));
  const std::string report = m_scratch.path() + "/flow.jsonl";
  const std::string history = m_scratch.path() + "/history.sqlite3";
  Plug("ttyACM0", 0);
  CChildProcess cli;
  ASSERT_TRUE(StartStation(cli, {"--flow", "--settle", "0.3", "--yes", "--boot", bootPath, "--efs2",
                                 m_scratch.path() + "/efs", "--report", report, "--history", history}));
  ASSERT_TRUE(WaitForResults(cli, "]: completed\n", 1)) << cli.Output();
  // The boot loader, each EFS2 file, then the phone code, byte for byte.
  const SimRecord first = m_sims.Handset(0).Record();
  EXPECT_TRUE(first.violations.empty()) << (first.violations.empty() ? "" : first.violations[0]);
  ASSERT_EQ(first.erases.size(), 4u);
  EXPECT_EQ(first.erases[0].length, 5120u);
  ASSERT_EQ(first.efsNames.size(), 2u);
  EXPECT_EQ(first.efsNames[0].name, "one.dat");
  EXPECT_EQ(first.efsNames[1].name, "two.dat");
  EXPECT_EQ(first.flash.Read(kImageStart, static_cast<uint32_t>(m_want.size())), m_want);

  Pull("ttyACM0", 0);
  Plug("ttyACM0", 1);
  EXPECT_EQ(StopMidImage(cli, 1, SIGINT), 130) << cli.Output();
  EXPECT_TRUE(cli.Output().ends_with("]: failed (Download interrupted.)\nTotal: 2 handsets, 1 completed, 1 failed\n"))
      << cli.Output();
  EXPECT_EQ(m_sims.Handset(1).Record().transfersDone, 0);
  // Each handset has its report line and its record, of the flow line.
  EXPECT_EQ(FileLines(report).size(), 2u);
  const ProgramResult h = RunProgram(VELMORA_CLI, "history --history " + history + " --csv", m_scratch);
  ASSERT_EQ(h.status, 0) << h.err;
  EXPECT_EQ(Count(h.out, ",flow,"), 2) << h.out;
  EXPECT_EQ(Count(h.out, ",completed,"), 1) << h.out;
  EXPECT_EQ(Count(h.out, ",failed,Download interrupted.,"), 1) << h.out;
}

// An operator quicker than the station: the handset is pulled and another
// plugged into the same socket while the station is held up, so that both
// changes reach it together. The old one has still left the batch.
TEST_F(StationTest, AHandsetSwappedWhileTheStationIsBusyStillStartsTheNextBatch) {
  ASSERT_TRUE(m_sims.Start(2, kBatchLine));
  Plug("ttyACM0", 0);
  CChildProcess cli;
  ASSERT_TRUE(StartStation(cli));
  ASSERT_TRUE(BatchEnds(cli, 1, "Entry 1 [COM1]: completed\nBatch 1: 1 completed, 0 failed\n"));

  ASSERT_TRUE(cli.Signal(SIGSTOP));
  Pull("ttyACM0", 0);
  Plug("ttyACM0", 1);
  ASSERT_TRUE(cli.Signal(SIGCONT));
  ASSERT_TRUE(BatchEnds(cli, 2, "Entry 1 [COM1]: completed\nBatch 2: 1 completed, 0 failed\n"));
  ASSERT_TRUE(cli.Signal(SIGTERM));
  EXPECT_EQ(cli.Wait(kBatchMs), 143) << cli.Output();
  for (int k = 0; k < 2; ++k) ExpectDownloaded(k);
}

}  // namespace
