// velmora-cli --search over a fake sysfs/dev tree: the program itself, run
// as the operator's scripts run it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "PhoneImage.h"
#include "PortTree.h"
#include "RunProgram.h"
#include "sim/SimBench.h"

namespace {

using CliResult = ProgramResult;

CliResult RunCli(const std::string& args, const CTempDir& scratch) { return RunProgram(VELMORA_CLI, args, scratch); }

class CliSearchTest : public ::testing::Test {
 protected:
  // The kept COM numbers go to a settings file of the test's own.
  void SetUp() override { setenv("VELMORA_SETTINGS", (m_scratch.path() + "/settings.ini").c_str(), 1); }
  void TearDown() override { unsetenv("VELMORA_SETTINGS"); }
  std::string Roots() const { return "--sysfs-root " + m_tree.SysRoot() + " --dev-root " + m_tree.DevRoot(); }

  CPortTree m_tree;
  CTempDir m_scratch;
};

TEST_F(CliSearchTest, ListsTheHandsetsPortsInSocketOrder) {
  m_tree.AddTty("ttyACM0", "kvxuart");
  m_tree.AddTty("ttyACM1", "cdc_acm");
  m_tree.AddById("usb-Norvane_kvxuart_77-if00", "ttyACM1");
  m_tree.AddTty("ttyS0", "serial8250");
  m_tree.AddByPath("pci-0000:00:14.0-usb-0:1.10:1.0", "ttyACM0");
  m_tree.AddByPath("pci-0000:00:14.0-usb-0:1.9:1.0", "ttyACM1");
  const CliResult r = RunCli("--search " + Roots(), m_scratch);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Entry 1 [COM1] " + m_tree.Node("ttyACM1") + " pci-0000:00:14.0-usb-0:1.9:1.0\nEntry 2 [COM2] " +
                       m_tree.Node("ttyACM0") + " pci-0000:00:14.0-usb-0:1.10:1.0\n");
}

TEST_F(CliSearchTest, SocketsKeepTheirNumbersFromOneRunToTheNextUntilForgotten) {
  const std::string a = "pci-0000:00:14.0-usb-0:1.1:1.0", b = "pci-0000:00:14.0-usb-0:1.2:1.0",
                    c = "pci-0000:00:14.0-usb-0:1.3:1.0";
  m_tree.AddTty("ttyACM0", "kvxuart");
  m_tree.AddByPath(a, "ttyACM0");
  m_tree.AddTty("ttyACM1", "kvxuart");
  m_tree.AddByPath(b, "ttyACM1");
  CliResult r = RunCli("--search " + Roots(), m_scratch);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Entry 1 [COM1] " + m_tree.Node("ttyACM0") + " " + a + "\nEntry 2 [COM2] " +
                       m_tree.Node("ttyACM1") + " " + b + "\n");

  // Socket 1 empties, socket 3 fills, socket 2's handset comes back under
  // another name: socket 2 keeps COM2, socket 3 takes COM3.
  m_tree.Unplug("ttyACM0");
  m_tree.Unplug("ttyACM1");
  m_tree.AddTty("ttyACM0", "kvxuart");
  m_tree.AddByPath(c, "ttyACM0");
  m_tree.AddTty("ttyACM5", "kvxuart");
  m_tree.AddByPath(b, "ttyACM5");
  const std::string kept = "Entry 1 [COM2] " + m_tree.Node("ttyACM5") + " " + b + "\nEntry 2 [COM3] " +
                           m_tree.Node("ttyACM0") + " " + c + "\n";
  r = RunCli("--search " + Roots(), m_scratch);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kept);

  // Forgetting asks; no answer keeps the numbers.
  r = RunCli("--forget-ports </dev/null", m_scratch);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "Forget the 3 kept COM numbers? [y/N] Nothing forgotten\n");
  EXPECT_EQ(RunCli("--search " + Roots(), m_scratch).out, kept);
  r = RunCli("--forget-ports --yes", m_scratch);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Forgot 3 kept COM numbers\n");
  r = RunCli("--search " + Roots(), m_scratch);
  EXPECT_EQ(r.out, "Entry 1 [COM1] " + m_tree.Node("ttyACM5") + " " + b + "\nEntry 2 [COM2] " +
                       m_tree.Node("ttyACM0") + " " + c + "\n");
  EXPECT_EQ(RunCli("--forget-ports --search", m_scratch).status, 2);
}

TEST_F(CliSearchTest, NoHandsetIsAFailure) {
  m_tree.AddTty("ttyS0", "serial8250");
  const CliResult r = RunCli("--search " + Roots(), m_scratch);
  EXPECT_EQ(r.status, 3) << r.err;  // no port usable
  EXPECT_EQ(r.out, "Message: no handset port found\n");
}

TEST_F(CliSearchTest, HelpAndMisuse) {
  CliResult r = RunCli("--help", m_scratch);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--sysfs-root DIR"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--dev-root DIR"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--search"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--station"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--settle SECONDS"), std::string::npos) << r.out;

  r = RunCli("--dev-root " + m_tree.DevRoot(), m_scratch);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--sysfs-root and --dev-root go with --search"), std::string::npos) << r.err;
  r = RunCli("--search --port 1=/dev/null", m_scratch);
  EXPECT_EQ(r.status, 2);
  for (const char* misuse : {"--settle 1 --phone x.bin", "--station", "--station --settle 0.5x --phone x.bin",
                             "--station --search --phone x.bin", "--station --port 1=/dev/null --phone x.bin"}) {
    r = RunCli(misuse, m_scratch);
    EXPECT_EQ(r.status, 2) << misuse;
  }
  r = RunCli("--search --sysfs-root", m_scratch);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--sysfs-root needs an argument"), std::string::npos) << r.err;
}

TEST_F(CliSearchTest, FoundHandsetsTakeTheImage) {
  // The first handset to finish the flash step drops one that has had no
  // block acknowledged yet. At full pty speed a loaded machine can stall
  // one handset that long; on the paced line of a real handset, the other
  // handset's fifteen more blocks take 2.7 s of wire time.
  SimHandsetConfig line;
  line.paceBps = 5760;
  CSimBench sims;
  ASSERT_TRUE(sims.Start(2, line));
  m_tree.AddTty("ttyACM0", "kvxuart", sims.Handset(0).SlavePath());
  m_tree.AddTty("ttyACM1", "kvxuart", sims.Handset(1).SlavePath());
  const std::string image = MakePhoneImage(m_scratch.path(), 0x10000 + 15 * 1024 + 17, 0x10000);
  const CliResult r = RunCli("--search " + Roots() + " --phone " + image + " --timeout 120", m_scratch);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Entry 1 [COM1] " + m_tree.Node("ttyACM0") + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Entry 1 [COM1]: completed\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Entry 2 [COM2]: completed\n"), std::string::npos) << r.out;
  for (int k = 0; k < 2; ++k) EXPECT_EQ(sims.Handset(k).Record().transfersDone, 1) << k;
}

}  // namespace
