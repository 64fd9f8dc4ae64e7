// Real links on pseudo-terminals: the dialog on the headless host with the
// real clock, receive threads, and simulated handsets.
#include <gtest/gtest.h>

#include "SimRig.h"
#include "TestUtil.h"
#include "platform/Registry.h"

namespace {
constexpr uint32_t kRunLimitMs = 180000;

class IntegrationTest : public ::testing::Test, protected CSimRig {
 protected:
  void SetUp() override { ResetProgramState(m_tmp.path()); }
  void TearDown() override { StopRig(); }

  void StartBench(int count) {
    ASSERT_TRUE(StartHandsets(count));
    OpenDialog(count);
  }
  bool Run() { return RunToEnd(kRunLimitMs); }
  std::vector<uint8_t> Flash(int k, uint32_t at, uint32_t n) { return m_sims.Handset(k).Record().flash.Read(at, n); }
  /// Entry k completed and its handset saw nothing amiss; what it saw.
  SimRecord Completed(int k) {
    EXPECT_EQ(m_dlg->Outcome(k).m_nResult, RESULT_COMPLETED);
    SimRecord r = m_sims.Handset(k).Record();
    EXPECT_TRUE(r.violations.empty()) << (r.violations.empty() ? "" : r.violations[0]);
    return r;
  }
  static std::vector<uint8_t> Padded(const std::vector<uint8_t>& image, size_t from) {
    std::vector<uint8_t> v(image.begin() + static_cast<long>(from), image.end());
    v.resize((v.size() + 1023) / 1024 * 1024, 0xFF);
    return v;
  }

  CTempDir m_tmp;
};

TEST_F(IntegrationTest, TwentyHandsetsTakeTheWholePhoneCodeImage) {
  StartBench(20);
  const size_t size = 0x20000 + 60 * 1024 + 321;
  std::string path = MakePhoneImage(m_tmp.path(), size, 0x20000);
  std::vector<uint8_t> image = ReadFile(path);
  Choose(IDC_PHONE_CODE, path);
  ASSERT_TRUE(Run());
  const std::vector<uint8_t> want = Padded(image, 0x20000);
  for (int k = 0; k < 20; ++k) {
    SCOPED_TRACE(k);
    const SimRecord r = Completed(k);
    EXPECT_EQ(r.flash.Read(0x20000, static_cast<uint32_t>(want.size())), want);
    EXPECT_EQ(m_host.m_bars[k].m_strText, "Download Completed.");
  }
}

TEST_F(IntegrationTest, BootLoaderQbfsAndPhoneCodeInOneRun) {
  StartBench(2);
  std::vector<uint8_t> boot = PatternBytes(5000, 2), qbfs = PatternBytes(9000, 3);
  std::string phone = MakePhoneImage(m_tmp.path(), 0x10000 + 8 * 1024 + 5, 0x10000);
  m_host.m_nYesNoAnswer = IDYES;
  Choose(IDC_BOOTLOADER, m_tmp.Write("boot.bin", boot));
  Choose(IDC_QBFS, m_tmp.Write("qbfs.bin", qbfs));
  Choose(IDC_PHONE_CODE, phone);
  ASSERT_TRUE(Run());
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    const SimRecord r = Completed(k);
    ASSERT_EQ(r.erases.size(), 3u);
    EXPECT_EQ(r.erases[0].code, 0xEF);
    EXPECT_EQ(r.erases[0].length, 5120u);
    EXPECT_EQ(r.erases[1].code, 0xEE);
    EXPECT_EQ(r.erases[1].length, 9000u);
  }
}

TEST_F(IntegrationTest, EfsFilesThenPhoneCode) {
  StartBench(2);
  m_tmp.Write("efs/one.dat", PatternBytes(2500, 4));
  m_tmp.Write("efs/two.dat", PatternBytes(1024, 5));
  std::string phone = MakePhoneImage(m_tmp.path(), 0x10000 + 3000, 0x10000);
  m_host.m_folderAnswers.push_back(m_tmp.path() + "/efs");
  m_host.Click(IDC_EFS2, 1);
  Choose(IDC_PHONE_CODE, phone);
  ASSERT_TRUE(Run());
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    const SimRecord r = Completed(k);
    ASSERT_EQ(r.efsNames.size(), 2u);
    EXPECT_EQ(r.efsNames[0].name, "one.dat");
    EXPECT_EQ(r.efsNames[1].folder, "efs");
  }
}

TEST_F(IntegrationTest, FaultsOnSomeHandsetsLeaveTheOthersComplete) {
  // Six handsets, four of them with a fault each.
  StartBench(6);
  m_sims.Handset(1).AddFault(SimFault{SimFaultKind::Silence, 3, 1});
  m_sims.Handset(2).AddFault(SimFault{SimFaultKind::NakFailed, 2, 1});
  m_sims.Handset(3).AddFault(SimFault{SimFaultKind::NakRetry, 1, 1});
  m_sims.Handset(4).AddFault(SimFault{SimFaultKind::BadNakFailed, 4, 1});
  const size_t size = 0x10000 + 30 * 1024;
  std::string path = MakePhoneImage(m_tmp.path(), size, 0x10000);
  std::vector<uint8_t> image = ReadFile(path);
  Choose(IDC_PHONE_CODE, path);
  ASSERT_TRUE(Run());
  for (int k : {0, 1, 3, 4, 5}) {
    SCOPED_TRACE(k);
    EXPECT_EQ(m_dlg->Outcome(k).m_nResult, RESULT_COMPLETED);
    EXPECT_EQ(Flash(k, 0x10000, 30 * 1024), Padded(image, 0x10000));
  }
  EXPECT_EQ(m_dlg->Outcome(2).m_nResult, RESULT_FAILED);
  EXPECT_EQ(m_host.m_bars[2].m_strText, "Error!");
  EXPECT_TRUE(HasLog(m_host, 2, "Flash error!!"));
  EXPECT_TRUE(HasLog(m_host, 1, "재전송 ACK 받음"));
}
}  // namespace
