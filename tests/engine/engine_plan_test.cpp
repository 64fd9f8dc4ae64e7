// The plan's step values, headers and address checks.
#include "EngineFixture.h"

#include "ControlIds.h"

TEST_F(EngineTest, PhoneStepValuesFollowTheStartAddress) {
  auto& b = Bench(1);
  std::string path = MakePhoneImage(m_tmp.path(), 0x180000, 0x20000);
  b.BindAll();
  b.ChoosePhone(path);
  CVelmoraDlg& d = b.dlg();
  for (const bool changeDownloader : {false, true}) {
    SCOPED_TRACE(changeDownloader);
    ChangeChoices(d, [&](ImageChoices& c) { c.m_bChangeDownloader = changeDownloader ? 1 : 0; });
    CDownloadRun run(d.PlanFromChoices(), {0}, &b.host());
    ASSERT_TRUE(d.AdvanceStep(run));
    EXPECT_EQ(run.m_nStep, IMAGE_PHONE_CODE);
    const uint32_t start = changeDownloader ? 0 : 0x20000;
    EXPECT_EQ(run.m_nEraseStart, start);
    EXPECT_EQ(run.m_nBaseOffset, start);
    EXPECT_EQ(run.m_nEraseLength, 0x180000u - start);
    EXPECT_EQ(run.m_nEraseArg, start);
  }
}

TEST_F(EngineTest, StepHeadersGoToEveryConnectedEntry) {
  auto& b = Bench(2);
  b.BindAll();
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), 0x10000 + 1024, 0x10000));
  b.DownLoad();
  b.Pump();
  for (int k = 0; k < 2; ++k) {
    const auto& lines = b.host().m_logs[k];
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "Phone Code Download");
    EXPECT_EQ(lines[1].text, "---------------------");
    EXPECT_EQ(lines[0].colour, MakeRgb(0, 0, 255));
  }
}

TEST_F(EngineTest, CheckAddressBounds) {
  EXPECT_TRUE(CVelmoraDlg::CheckAddress(0x10000));
  EXPECT_TRUE(CVelmoraDlg::CheckAddress(0xBFFFFF));
  EXPECT_FALSE(CVelmoraDlg::CheckAddress(0x8000));
  EXPECT_FALSE(CVelmoraDlg::CheckAddress(0xC00000));
  EXPECT_FALSE(CVelmoraDlg::CheckAddress(0xFFFFFFFF));
}

TEST_F(EngineTest, InputAddressRefusesAStartOutOfRangeBeforeAnyRequest) {
  auto& b = Bench(1);
  b.BindAll();
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), 0x20000, 0x8000));
  ChangeChoices(b.dlg(), [](ImageChoices& c) { c.m_bInputAddress = 1; });
  b.DownLoad();
  b.Pump();
  EXPECT_EQ(CountBoxes(b.host(), "입력한 주소값이 범위에 맞지 않습니다."), 1);
  EXPECT_TRUE(b.handset(0).requests.empty());
  EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
}

TEST_F(EngineTest, StartAddressBeyondTheImageIsRefused) {
  auto& b = Bench(1);
  b.BindAll();
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), 0x8000, 0x10000));
  b.DownLoad();
  b.Pump();
  EXPECT_TRUE(b.handset(0).requests.empty());
  EXPECT_FALSE(b.dlg().Running());
}

TEST_F(EngineTest, BootLoaderAloneEndsThePlanAfterIt) {
  auto& b = Bench(1);
  CVelmoraDlg& d = b.dlg();
  RunPlan plan;
  plan.m_bBootLoader = 1;
  plan.m_strBootPath = m_tmp.Write("boot.bin", PatternBytes(3000));
  CDownloadRun run(plan, {0}, &b.host());
  ASSERT_TRUE(d.PrepareStep(run));
  EXPECT_EQ(d.ImageSize(), 3072u);
  ASSERT_TRUE(d.AdvanceStep(run));
  EXPECT_EQ(run.m_nStep, IMAGE_BOOTLOADER);
}

TEST_F(EngineTest, EfsPartEndsTheFileListAndSkipsQbfs) {
  auto& b = Bench(1);
  CVelmoraDlg& d = b.dlg();
  for (const char* n : {"x1", "x2", "x3"}) m_tmp.Write(std::string("e/") + n, PatternBytes(100));
  b.host().m_folderAnswers.push_back(m_tmp.path() + "/e");
  b.host().Click(IDC_EFS2, 1);
  ASSERT_EQ(d.Choices().efs.lastIndex, 4);
  const std::string qbfs = m_tmp.Write("q.bin", PatternBytes(10));
  ChangeChoices(d, [&](ImageChoices& c) {
    c.m_bQbfs = 1;
    c.m_strQbfsPath = qbfs;
  });
  CDownloadRun run(d.PlanFromChoices(), {0}, &b.host());
  std::vector<std::string> files;
  ASSERT_TRUE(d.AdvanceStep(run));
  while (run.m_nStep == IMAGE_EFS_FILE) {
    files.push_back(run.EfsFileName());
    run.SelectNextEfsFile();
    ASSERT_TRUE(d.AdvanceStep(run));
  }
  EXPECT_EQ(files, (std::vector<std::string>{"x1", "x2", "x3"}));
  EXPECT_EQ(run.m_nStep, IMAGE_BOOTLOADER);  // QBFS not run, no phone code chosen
  EXPECT_EQ(d.Choices().m_bEfs2, 0);
  EXPECT_EQ(d.Choices().efs.nextIndex, 0);
}

TEST_F(EngineTest, EmptyEfsFolderIsRefusedWhenChosen) {
  auto& b = Bench(1);
  std::filesystem::create_directories(m_tmp.path() + "/empty");
  m_tmp.Write("empty/CVS/x", PatternBytes(3));
  b.host().m_folderAnswers.push_back(m_tmp.path() + "/empty");
  b.host().Click(IDC_EFS2, 1);
  EXPECT_EQ(b.dlg().Choices().m_bEfs2, 0);
  EXPECT_EQ(b.host().m_controls[IDC_EFS2].check, 0);
  ASSERT_EQ(b.host().m_boxes.size(), 1u);
  EXPECT_EQ(b.host().m_boxes[0].text, "해당 EFS 파일이 존재하지 않습니다. - 토리몽");
  EXPECT_EQ(b.host().m_boxes[0].type, MB_YESNO | MB_ICONHAND);
}

TEST_F(EngineTest, PhoneCodeButtonRemembersTheDirectoryAndChecksTheExtension) {
  auto& b = Bench(1);
  std::string img = m_tmp.Write("img/Phone.BIN", PatternBytes(100));
  b.host().m_fileAnswers.push_back(img);
  b.host().Click(IDC_PHONE_CODE, 1);
  EXPECT_EQ(b.dlg().Choices().m_strPhonePath, img);
  EXPECT_EQ(CRegistry::ReadString("NEW_PHONE_BIN_PATH"), m_tmp.path() + "/img/");
  EXPECT_TRUE(b.host().m_controls[IDC_CHANGE_DOWNLOADER].enabled);
  EXPECT_EQ(b.host().m_fileDialogs[0].initialName, DefaultImageDirectory() + "*.bin");

  b.host().Click(IDC_PHONE_CODE, 0);  // released
  EXPECT_TRUE(b.dlg().Choices().m_strPhonePath.empty());
  EXPECT_FALSE(b.host().m_controls[IDC_CHANGE_DOWNLOADER].enabled);

  b.host().m_fileAnswers.push_back(m_tmp.Write("a.txt", PatternBytes(5)));
  b.host().Click(IDC_PHONE_CODE, 1);
  EXPECT_EQ(b.host().m_fileDialogs[1].initialName, m_tmp.path() + "/img/*.bin");
  EXPECT_EQ(b.host().m_boxes.back().text, "다운로드용 파일이 아닙니다.");
  EXPECT_EQ(b.dlg().Choices().m_bPhoneCode, 0);
}
