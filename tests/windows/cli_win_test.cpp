// velmora-cli.exe under Wine against the Linux simulated handsets: their
// ptys stand behind Wine's COM ports, so the Windows serial backend, the
// Windows CLI and the engine built for Windows run against the handsets the
// Linux tiers use, and the flash they end with is compared byte for byte.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "ChildProcess.h"
#include "PhoneImage.h"
#include "RunProgram.h"
#include "TempDir.h"
#include "sim/SimBench.h"

namespace {

namespace fs = std::filesystem;

/// The Wine prefix the tier runs in (Wine's own default without one).
fs::path WinePrefix() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
  const char* home = std::getenv("HOME");
  return fs::path(home ? home : "/root") / ".wine";
}

/// COM n of the prefix made to open `device`. Wine resolves \\.\COMn through
/// the prefix's dosdevices link at every open: a link made now works at
/// once, without the wineserver restart a HKLM\Software\Wine\Ports value
/// needs (which would pull the server from under the tier's other tests).
class CWineComPorts {
 public:
  ~CWineComPorts() {
    for (const fs::path& link : m_links) {
      std::error_code ec;
      fs::remove(link, ec);
    }
  }
  bool Map(int n, const std::string& device) {
    const fs::path link = WinePrefix() / "dosdevices" / ("com" + std::to_string(n));
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(device, link, ec);
    if (ec) return false;
    m_links.push_back(link);
    return true;
  }

 private:
  std::vector<fs::path> m_links;
};

/// The test's values in the prefix's serial device map, written as a
/// port's driver would, through Wine's own reg.
class CDeviceMapValues {
 public:
  explicit CDeviceMapValues(const CTempDir& scratch) : m_scratch(scratch) {}
  ~CDeviceMapValues() {
    for (const std::string& name : std::vector<std::string>(m_names.begin(), m_names.end())) Remove(name);
  }
  bool Add(const std::string& name, const std::string& port) {
    m_names.push_back(name);
    return Reg("add " + Key() + " /v '\\Device\\VelmoraTest " + name + "' /t REG_SZ /d " + port + " /f");
  }
  bool Remove(const std::string& name) {
    std::erase(m_names, name);
    return Reg("delete " + Key() + " /v '\\Device\\VelmoraTest " + name + "' /f");
  }

 private:
  static std::string Key() { return "'HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM'"; }
  bool Reg(const std::string& args) { return RunProgram(VELMORA_WINE, "reg " + args, m_scratch).status == 0; }
  const CTempDir& m_scratch;
  std::vector<std::string> m_names;
};

/// The program's text as Linux would show it: a Windows program's text
/// output ends its lines with CR LF.
std::string Unix(std::string text) {
  std::erase(text, '\r');
  return text;
}

/// Waits for `text` in the program's output, line ends aside.
bool WaitForText(CChildProcess& cli, const std::string& text, int timeoutMs) {
  return cli.WaitForOutput([&](const std::string& out) { return Unix(out).find(text) != std::string::npos; },
                           timeoutMs);
}

std::vector<uint8_t> Padded(const std::vector<uint8_t>& image, size_t from) {
  std::vector<uint8_t> v(image.begin() + static_cast<long>(from), image.end());
  v.resize((v.size() + 1023) / 1024 * 1024, 0xFF);
  return v;
}

TEST(WindowsCliTest, TwentyHandsetsBehindWineComPortsTakeThePhoneImageByteForByte) {
  ASSERT_TRUE(fs::exists(VELMORA_WINDOWS_CLI)) << VELMORA_WINDOWS_CLI << " is missing: make windows builds it";
  ASSERT_TRUE(fs::is_directory(WinePrefix() / "dosdevices")) << "no Wine prefix at " << WinePrefix();
  // At line speed, as on a bench: the first handset to finish the flash
  // step gives up one that has had no block acknowledged yet, and a loaded
  // machine starting twenty Wine threads could stall one that long at pty
  // speed.
  SimHandsetConfig line;
  line.paceBps = 5760;
  CSimBench sims;
  ASSERT_TRUE(sims.Start(20, line));
  CWineComPorts ports;
  std::string args;
  for (int k = 0; k < 20; ++k) {
    ASSERT_TRUE(ports.Map(k + 1, sims.Handset(k).SlavePath()));
    args += " --port " + std::to_string(k + 1);
  }
  CTempDir scratch;
  const uint32_t start = 0x10000;
  const std::string path = MakePhoneImage(scratch.path(), start + 15 * 1024 + 17, start);
  ASSERT_FALSE(path.empty());
  const std::vector<uint8_t> image = ReadFile(path);

  ProgramResult r =
      RunProgram(VELMORA_WINE, std::string(VELMORA_WINDOWS_CLI) + " --phone Z:" + path + args + " --timeout 300", scratch);
  r.out = Unix(r.out);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Completed 20, failed 0\n"), std::string::npos) << r.out << r.err;
  const std::vector<uint8_t> want = Padded(image, start);
  for (int k = 0; k < 20; ++k) {
    SCOPED_TRACE(k);
    EXPECT_NE(r.out.find("Entry " + std::to_string(k + 1) + " [COM" + std::to_string(k + 1) + "]: completed\n"),
              std::string::npos);
    const SimRecord rec = sims.Handset(k).Record();
    EXPECT_EQ(rec.transfersDone, 1);
    EXPECT_EQ(rec.flash.Read(start, static_cast<uint32_t>(want.size())), want);
    EXPECT_TRUE(rec.violations.empty()) << (rec.violations.empty() ? "" : rec.violations[0]);
  }
}

TEST(WindowsCliTest, TheStationFollowsHandsetsThroughTheDeviceMapUntilCtrlC) {
  ASSERT_TRUE(fs::exists(VELMORA_WINDOWS_CLI)) << VELMORA_WINDOWS_CLI << " is missing: make windows builds it";
  ASSERT_TRUE(fs::is_directory(WinePrefix() / "dosdevices")) << "no Wine prefix at " << WinePrefix();
  SimHandsetConfig line;
  line.paceBps = 5760;
  CSimBench sims;
  ASSERT_TRUE(sims.Start(3, line));
  CWineComPorts ports;
  for (int k = 0; k < 3; ++k) ASSERT_TRUE(ports.Map(21 + k, sims.Handset(k).SlavePath()));
  CTempDir scratch;
  const uint32_t start = 0x10000;
  const std::string path = MakePhoneImage(scratch.path(), start + 6 * 1024 + 5, start);
  ASSERT_FALSE(path.empty());
  CDeviceMapValues map(scratch);
  ASSERT_TRUE(map.Add("kvxuart1", "COM21"));
  ASSERT_TRUE(map.Add("kvxuart2", "COM22"));

  CChildProcess cli;
  ASSERT_TRUE(cli.Start({VELMORA_WINE, VELMORA_WINDOWS_CLI, "--station", "--phone", "Z:" + path, "--settle", "1"}));
  ASSERT_TRUE(WaitForText(cli, "Batch 1: 2 completed, 0 failed\n", 180000)) << cli.Output();
  // The batch's handsets are pulled out and another one is plugged in.
  ASSERT_TRUE(map.Remove("kvxuart1"));
  ASSERT_TRUE(map.Remove("kvxuart2"));
  ASSERT_TRUE(map.Add("kvxuart3", "COM23"));
  ASSERT_TRUE(WaitForText(cli, "Batch 2: 1 completed, 0 failed\n", 180000)) << cli.Output();
  EXPECT_NE(Unix(cli.Output()).find("Entry 1 [COM23]: completed\n"), std::string::npos) << cli.Output();
  // Wine hands SIGINT to the program as Ctrl+C.
  ASSERT_TRUE(cli.Signal(SIGINT));
  EXPECT_EQ(cli.Wait(30000), 130) << cli.Output();
  EXPECT_NE(Unix(cli.Output()).find("Total: 2 batches, 3 completed, 0 failed\n"), std::string::npos) << cli.Output();
  const std::vector<uint8_t> want = Padded(ReadFile(path), start);
  for (int k = 0; k < 3; ++k)
    EXPECT_EQ(sims.Handset(k).Record().flash.Read(start, static_cast<uint32_t>(want.size())), want) << k;
}

}  // namespace
