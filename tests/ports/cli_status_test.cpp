// What velmora-cli, velmora-sim and the window tell the operator outside the
// download itself: --help and --version, the checks made before a port is
// opened, a port that fails by its cause, and the exit status of each case.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "FakeBench.h"
#include "RunProgram.h"
#include "VelmoraVersion.h"
#include "platform/SerialPortNative.h"
#include "pty/PtyPair.h"
#include "sim/SimBench.h"
#include "sim/SimFault.h"

namespace {

class CliStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Readable for nobody too, for the runs without root's rights.
    ASSERT_EQ(chmod(m_scratch.path().c_str(), 0755), 0);
    m_image = MakePhoneImage(m_scratch.path(), 0x10000 + 3 * 1024, 0x10000);
    ASSERT_EQ(chmod(m_image.c_str(), 0644), 0);
  }
  ProgramResult Cli(const std::string& args, bool unprivileged = false) {
    return RunProgram(VELMORA_CLI, args, m_scratch, unprivileged);
  }
  bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

  CTempDir m_scratch;
  std::string m_image;
};

TEST_F(CliStatusTest, HelpAndVersionOfTheThreePrograms) {
  std::vector<std::pair<std::string, std::string>> programs = {{VELMORA_CLI, "velmora-cli"},
                                                               {VELMORA_SIM, "velmora-sim"}};
#ifdef VELMORA_WINDOW
  programs.emplace_back(VELMORA_WINDOW, "velmora");
#endif
  for (const auto& [path, name] : programs) {
    // No display is needed for either, as on an install without a desktop.
    ProgramResult r = RunProgram("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + path, "--version",
                                 m_scratch);
    EXPECT_EQ(r.status, 0) << name << r.err;
    EXPECT_EQ(r.out, name + " " + VELMORA_VERSION + "\n");
    r = RunProgram("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + path, "--help", m_scratch);
    EXPECT_EQ(r.status, 0) << name << r.err;
    EXPECT_EQ(r.err, "") << name;
    for (const char* part : {"--help", "--version", "Exit status", "Examples:\n  " })
      EXPECT_TRUE(Has(r.out, part)) << name << " lacks " << part;
  }
  const ProgramResult r = Cli("--help");
  for (const char* option : {"--phone FILE", "--change-downloader", "--input-address", "--boot FILE", "--qbfs FILE",
                             "--resource FILE", "--efs2 DIR", "--create-resource DIR", "--port N=DEVICE", "--search",
                             "--station", "--settle SECONDS", "--sysfs-root DIR", "--dev-root DIR", "--yes",
                             "--timeout SECONDS", "--trace", "  4    --timeout", "  3    nothing"})
    EXPECT_TRUE(Has(r.out, option)) << option;
}

TEST_F(CliStatusTest, WhatCanBeCheckedBeforeAPortOpensIsCheckedFirst) {
  const std::string missing = m_scratch.path() + "/missing.bin";
  const std::string unreadable = m_scratch.Write("locked.bin", {1, 2, 3});
  ASSERT_EQ(chmod(unreadable.c_str(), 0), 0);
  PtyPair pty;  // a port that would open: none of these runs may reach it
  ASSERT_TRUE(pty.Ok());
  const std::string port = " --port COM1=" + pty.SlavePath();
  // A second name of the same device node, as a udev alias is.
  const std::string alias = m_scratch.path() + "/ttyHANDSET";
  ASSERT_EQ(symlink(pty.SlavePath().c_str(), alias.c_str()), 0);
  struct Case {
    std::string args;
    int status;
    std::string message;
    bool unprivileged = false;
  };
  const Case cases[] = {
      {"--phone " + missing + port, 3, "--phone " + missing + ": No such file or directory"},
      {"--boot " + m_scratch.path() + port, 3, "--boot " + m_scratch.path() + ": is a directory, not a file"},
      {"--efs2 " + m_image + port, 3, "--efs2 " + m_image + ": not a directory"},
      {"--qbfs " + unreadable + port, 3, "--qbfs " + unreadable + ": cannot read the file: Permission denied", true},
      {"--phone " + m_image + port + " --port 1=/dev/null", 2, "--port: COM1 is given twice"},
      {"--phone " + m_image + " --port COM31=/dev/null", 2, "--port COM number 31 is out of range (1..30)"},
      {"--phone " + m_image + port + " --port 2=" + pty.SlavePath(), 2,
       "--port: " + pty.SlavePath() + " is given for two COM numbers (COM1, COM2)"},
      {"--phone " + m_image + port + " --port 2=" + alias, 2,
       "--port: " + alias + " is given for two COM numbers (COM1, COM2)"},
  };
  for (const Case& c : cases) {
    const ProgramResult r = Cli(c.args, c.unprivileged);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "velmora-cli: " + c.message)) << c.args << "\n" << r.err;
    EXPECT_EQ(r.out, "") << c.args;  // nothing was started, nothing opened
  }
}

TEST_F(CliStatusTest, APortThatCannotBeOpenedIsNamedWithItsCause) {
  // Permission: a pty whose mode was taken away, opened without root's rights.
  PtyPair locked;
  ASSERT_TRUE(locked.Ok());
  ASSERT_EQ(chmod(locked.SlavePath().c_str(), 0600), 0);
  ASSERT_EQ(chown(locked.SlavePath().c_str(), getuid() == 0 ? 0 : getuid(), getgid()), 0);
  if (getuid() != 0) ASSERT_EQ(chmod(locked.SlavePath().c_str(), 0), 0);
  ProgramResult r = Cli("--phone " + m_image + " --port COM4=" + locked.SlavePath(), true);
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Entry 1: USB 연결 상태를 확인하세요.\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Entry 1: " + locked.SlavePath() + ": permission denied (EACCES); ")) << r.out;
  EXPECT_TRUE(Has(r.out, "contrib/99-velmora.rules")) << r.out;
  // Traces stay off without --trace.
  EXPECT_FALSE(Has(r.err, "Failt to open Comm")) << r.err;

  // Busy: another process holds the port with its lock.
  PtyPair held;
  ASSERT_TRUE(held.Ok());
  CSerialPortNative holder;
  ASSERT_TRUE(holder.Open(held.SlavePath()));
  r = Cli("--trace --phone " + m_image + " --port COM2=" + held.SlavePath());
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Entry 1: " + held.SlavePath() + ": busy (EWOULDBLOCK); held by another process\n"))
      << r.out;
  EXPECT_TRUE(Has(r.err, "Failt to open Comm\n")) << r.err;  // with --trace, on standard error
  EXPECT_FALSE(Has(r.out, "Failt to open Comm")) << r.out;

  // Vanished: the node was there when it was named, gone when opened, as
  // an unplugged handset's is. (A pty's own node would not do: its number
  // is soon another test's.)
  const std::string gone = m_scratch.path() + "/ttyACM9";
  ASSERT_EQ(symlink(held.SlavePath().c_str(), gone.c_str()), 0);
  ASSERT_EQ(unlink(gone.c_str()), 0);
  r = Cli("--phone " + m_image + " --port COM3=" + gone);
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Entry 1: " + gone + ": not found (ENOENT); check that the handset is plugged in\n"))
      << r.out;
}

TEST_F(CliStatusTest, RunsEndWithTheirStatus) {
  CSimBench sims;
  // 5 ms a block: the handset that completes must not finish its image
  // before the other's hang-up is seen, or that entry is dropped by the
  // first to finish (as "Unknown Error!") instead of failing as gone.
  ASSERT_TRUE(sims.Start(2, SimHandsetConfig{.paceBps = 200000}));
  SimFault hangup, dead;
  int com = 0;
  std::string error;
  ASSERT_TRUE(ParseSimFault("hangup:1", hangup, com, error)) << error;
  ASSERT_TRUE(ParseSimFault("dead", dead, com, error)) << error;

  // A handset that goes away in the middle: its entry fails, the other completes.
  sims.Handset(1).AddFault(hangup);
  const std::string both =
      " --port COM1=" + sims.Handset(0).SlavePath() + " --port COM2=" + sims.Handset(1).SlavePath();
  ProgramResult r = Cli("--phone " + m_image + both + " --timeout 120");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Entry 2: " + sims.Handset(1).SlavePath() + ": device gone\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Entry 1 [COM1]: completed")) << r.out;
  EXPECT_FALSE(Has(r.out + r.err, "END__RX")) << r.out << r.err;

  // A refused caution question says how to accept it; nothing is downloaded.
  r = Cli("--boot " + m_image + " --port COM1=" + sims.Handset(0).SlavePath());
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, " (pass --yes to accept)\n")) << r.out;

  // A handset that never answers outlasts --timeout.
  CSimBench silent;
  ASSERT_TRUE(silent.Start(1, {}));
  silent.Handset(0).AddFault(dead);
  // Traces asked for through the environment end their lines, on standard error only.
  r = RunProgram(std::string("env VELMORA_TRACE=1 ") + VELMORA_CLI,
                 "--phone " + m_image + " --port COM1=" + silent.Handset(0).SlavePath() + " --timeout 1", m_scratch);
  EXPECT_EQ(r.status, 4) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, "END__RX\n")) << r.err;
  EXPECT_FALSE(Has(r.out, "END__RX")) << r.out;
}

}  // namespace
