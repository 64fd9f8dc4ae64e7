// velmora-cli --search over a fake sysfs/dev tree: the program itself, run
// as the operator's scripts run it.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "FakeBench.h"
#include "PortTree.h"
#include "sim/SimBench.h"

namespace {

struct CliResult {
  int status = -1;
  std::string out, err;
};

/// Runs velmora-cli with `args` (already quoted as the shell needs).
CliResult RunCli(const std::string& args, const CTempDir& scratch) {
  const std::string errPath = scratch.path() + "/stderr.txt";
  const std::string command = std::string(VELMORA_CLI) + " " + args + " 2>" + errPath;
  CliResult r;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) r.out.append(buf, n);
  const int raw = pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream in(errPath);
  std::stringstream err;
  err << in.rdbuf();
  r.err = err.str();
  return r;
}

class CliSearchTest : public ::testing::Test {
 protected:
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
  EXPECT_EQ(r.out, "Entry 1 [COM1] " + m_tree.Node("ttyACM1") + "\nEntry 2 [COM2] " + m_tree.Node("ttyACM0") + "\n");
}

TEST_F(CliSearchTest, NoHandsetIsAFailure) {
  m_tree.AddTty("ttyS0", "serial8250");
  const CliResult r = RunCli("--search " + Roots(), m_scratch);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "Message: no handset port found\n");
}

TEST_F(CliSearchTest, HelpAndMisuse) {
  CliResult r = RunCli("--help", m_scratch);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--sysfs-root DIR"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--dev-root DIR"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--search"), std::string::npos) << r.out;

  r = RunCli("--dev-root " + m_tree.DevRoot(), m_scratch);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--sysfs-root and --dev-root go with --search"), std::string::npos) << r.err;
  r = RunCli("--search --port 1=/dev/null", m_scratch);
  EXPECT_EQ(r.status, 2);
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
