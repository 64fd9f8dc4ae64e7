// Whole runs against in-process handsets on virtual time.
#include "EngineFixture.h"

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <fstream>
#include <regex>
#include <sstream>

#include "ControlIds.h"
#include "JsonValue.h"
#include "EngineProbe.h"

namespace {
std::vector<uint8_t> Codes(const FakeHandset& h) {
  std::vector<uint8_t> codes;
  for (const auto& r : h.requests) codes.push_back(r[0]);
  return codes;
}
}  // namespace

TEST_F(EngineTest, PhoneCodeRunWritesEveryByteIncludingThePartialLastBlock) {
  auto& b = Bench(1);
  // 0x20000 boot part + an application part that does not end on a block.
  const size_t size = 0x20000 + 5 * 1024 + 300;
  std::string path = MakePhoneImage(m_tmp.path(), size, 0x20000);
  std::vector<uint8_t> image = ReadFile(path);
  b.BindAll();
  b.ChoosePhone(path);
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());

  const FakeHandset& h = b.handset(0);
  EXPECT_EQ(Codes(h), (std::vector<uint8_t>{0xA0, 0xAB, 0xC0, 0xEE, 0xC0}));
  ASSERT_EQ(h.erases.size(), 1u);
  EXPECT_EQ(h.erases[0], (std::array<uint32_t, 3>{0x20000, static_cast<uint32_t>(size - 0x20000), 0x20000}));
  EXPECT_EQ(h.blocksWritten, 6);  // the trailer's block is not dropped
  EXPECT_EQ(Flash(h, 0x20000, 6 * 1024), Expected(image, 0x20000));
  EXPECT_EQ(h.violations, 0);
  EXPECT_EQ(h.overlaps, 0);
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_COMPLETED);
  EXPECT_EQ(b.dlg().Outcome(0).m_nState, STATE_COMPLETE);
  EXPECT_TRUE(HasLog(b.host(), 0, "Downloading Completed."));
  EXPECT_TRUE(HasLog(b.host(), 0, "Version: b1.01"));
  EXPECT_EQ(CountBoxes(b.host(), "Download Completed.\n1 completed, 0 failed"), 1);
  EXPECT_EQ(b.host().m_bars[0].m_strText, "Download Completed.");
  EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
  EXPECT_EQ(b.dlg().Step(), 2);
}

TEST_F(EngineTest, TwentyEntriesEachGetTheWholeImageAndOneCompletionBox) {
  auto& b = Bench(20);
  const size_t size = 0x10000 + 40 * 1024 + 77;
  std::string path = MakePhoneImage(m_tmp.path(), size, 0x10000);
  std::vector<uint8_t> image = ReadFile(path);
  b.BindAll();
  b.ChoosePhone(path);
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  for (int k = 0; k < 20; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(b.dlg().Outcome(k).m_nResult, RESULT_COMPLETED);
    EXPECT_EQ(Flash(b.handset(k), 0x10000, 41 * 1024), Expected(image, 0x10000));
    EXPECT_EQ(b.handset(k).violations, 0);
  }
  EXPECT_EQ(CountBoxes(b.host(), "Download Completed.\n20 completed, 0 failed"), 1);
  // Every handset is asked for its own boot version, and only its entry's
  // log shows the answer.
  for (int k = 0; k < 20; ++k) {
    SCOPED_TRACE(k);
    const std::vector<uint8_t> codes = Codes(b.handset(k));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0xAB), 1);
    EXPECT_EQ(CountLog(b.host(), k, "Version: b1.01"), 1);
    EXPECT_EQ(CountLog(b.host(), k, "------------------"), 1);
  }
}

TEST_F(EngineTest, SecondRunAsksTheVersionAgainAndTheLinksStayOpen) {
  auto& b = Bench(1);
  std::string path = MakePhoneImage(m_tmp.path(), 0x10000 + 2048, 0x10000);
  b.BindAll();
  b.ChoosePhone(path);
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_EQ(OpenDescriptorsOf(path), 0);  // the image is closed with the run
  b.handset(0).requests.clear();
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_EQ(Codes(b.handset(0)), (std::vector<uint8_t>{0xA0, 0xAB, 0xC0, 0xEE, 0xC0}));
  EXPECT_EQ(b.handset(0).dev->opens, 1);
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_COMPLETED);
}

// RX_SETTLE_MS reaches every link at DownLoad, also links kept open from the
// run before; out of 0..50 or not a number means no settling.
TEST_F(EngineTest, TheReceiveCadenceSettingReachesEveryLinkAtDownLoad) {
  auto& b = Bench(2);
  std::string path = MakePhoneImage(m_tmp.path(), 0x10000 + 1024, 0x10000);
  b.BindAll();
  b.ChoosePhone(path);
  for (const auto& [setting, ms] : {std::pair{"7", 7}, {"50", 50}, {"0", 0}, {"51", 0}, {"-3", 0}, {"x", 0}}) {
    SCOPED_TRACE(setting);
    CEngineProbe::Binding(b.dlg(), 1).m_comm.SetRxSettleMs(9);
    ASSERT_TRUE(CRegistry::WriteString(kRxSettleSetting, setting));
    b.DownLoad();
    ASSERT_TRUE(b.RunToEnd());
    EXPECT_EQ(b.dlg().Binding(0).m_comm.RxSettleMs(), ms);
    EXPECT_EQ(b.dlg().Binding(1).m_comm.RxSettleMs(), ms);
  }
  EXPECT_EQ(b.handset(0).dev->opens, 1);
}

TEST_F(EngineTest, AnEntryThatFailedAfterItsJumpIsJumpedAndCheckedAgainNextRun) {
  auto& b = Bench(1);
  b.BindAll();
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), 0x10000 + 4096, 0x10000));
  b.handset(0).onBlock = [](int k) { return k == 1 ? BlockAction::NakFailed : BlockAction::Ack; };
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  ASSERT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_FAILED);

  // The operator restarts the handset and binds it again.
  FakeHandset& h = b.handset(0);
  h.onBlock = nullptr;
  h.dataMode = false;
  h.requests.clear();
  CEngineProbe::Binding(b.dlg(), 0).m_nComPort = h.com;
  b.dlg().RefreshPortLabels();
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_EQ(Codes(h), (std::vector<uint8_t>{0xA0, 0xAB, 0xC0, 0xEE, 0xC0}));
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_COMPLETED);
}

TEST_F(EngineTest, TheControlsComeBackOnlyWhenTheLastEntryHasAnsweredTheFinalJump) {
  auto& b = Bench(2);
  b.BindAll();
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), 0x10000 + 2048, 0x10000));
  int jumps = 0;  // the second jump is the final one: its first copy goes unanswered
  b.handset(1).onRequest = [&](const std::vector<uint8_t>& r) -> std::optional<std::vector<uint8_t>> {
    if (r[0] == 0xC0 && ++jumps == 2) return std::vector<uint8_t>{};
    return std::nullopt;
  };
  b.DownLoad();
  ASSERT_TRUE(b.RunUntil([&] { return b.dlg().Outcome(0).m_nResult == RESULT_COMPLETED; }, 60000));
  EXPECT_TRUE(b.dlg().Running());
  EXPECT_FALSE(b.host().m_controls[IDC_DOWNLOAD].enabled);
  EXPECT_FALSE(b.host().m_controls[IDC_PHONE_CODE].enabled);
  // A press that reaches the engine anyway restarts nothing.
  const size_t sent = b.handset(1).requests.size();
  b.DownLoad();
  b.Pump();
  EXPECT_EQ(b.handset(1).requests.size(), sent);

  ASSERT_TRUE(b.RunToEnd());
  EXPECT_EQ(b.dlg().Outcome(1).m_nResult, RESULT_COMPLETED);  // its repeated jump was answered
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_COMPLETED);
  EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
  EXPECT_TRUE(b.host().m_controls[IDC_PHONE_CODE].enabled);
}

TEST_F(EngineTest, TheRunsEndTellsWhichEntriesFailedAndWhyOnceEveryOutcomeIsKnown) {
  auto& b = Bench(3);
  b.BindAll();
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), 0x10000 + 4 * 1024, 0x10000));
  b.handset(1).onBlock = [](int k) { return k == 1 ? BlockAction::NakFailed : BlockAction::Ack; };
  int jumps = 0;  // entry 3's handset never answers the final jump
  b.handset(2).onRequest = [&](const std::vector<uint8_t>& r) -> std::optional<std::vector<uint8_t>> {
    if (r[0] == 0xC0 && ++jumps >= 2) return std::vector<uint8_t>{};
    return std::nullopt;
  };
  b.DownLoad();
  const uint32_t start = b.host().Now();
  ASSERT_TRUE(b.RunUntil([&] { return b.dlg().Outcome(0).m_nResult == RESULT_COMPLETED; }, 60000));
  EXPECT_TRUE(b.dlg().Running());
  EXPECT_TRUE(b.host().m_boxes.empty());  // entry 3's outcome is not known yet
  auto elapsedText = [&] {
    const uint32_t seconds = (b.host().Now() - start) / 1000;
    return "Elapsed time : 0 min " + std::to_string(seconds) + " sec";
  };
  // Nothing moves while entry 3 waits for its jump's reply; the clock does.
  const uint32_t mark = b.host().Now() + 3000;
  ASSERT_TRUE(b.RunUntil([&] { return b.host().Now() >= mark; }, 60000));
  EXPECT_EQ(b.host().m_controls[IDC_ELAPSED].text, elapsedText());
  ASSERT_TRUE(b.RunToEnd());

  ASSERT_EQ(b.host().m_boxes.size(), 1u);
  EXPECT_EQ(b.host().m_boxes[0].text,
            "Download Completed.\n1 completed, 2 failed\nEntry 2 [COM2]: Flash error!!\nEntry 3 [COM3]: 응답이 없습니다.");
  auto e = [&](int k) -> const RunEntry& { return b.dlg().Outcome(k); };
  EXPECT_EQ(e(0).m_strReason, "");
  EXPECT_EQ(e(1).m_strReason, "Flash error!!");
  EXPECT_EQ(e(2).m_strReason, "응답이 없습니다.");
  EXPECT_EQ(e(0).m_nBlocksSent, 4);
  EXPECT_EQ(e(1).m_nBlocksSent, 2);  // the refused block was the second
  EXPECT_EQ(e(0).m_nRetries, 0);
  EXPECT_EQ(e(2).m_nRetries, 2);     // the final jump twice more
  EXPECT_EQ(e(2).m_runLog.back().text, "응답이 없습니다.");
  EXPECT_EQ(b.host().m_controls[IDC_ELAPSED].text, elapsedText());
  EXPECT_TRUE(b.host().m_timers.empty());  // the clock stopped with the run
}

TEST_F(EngineTest, EveryRunLeavesItsReportInTheRunsFolderAndAnUnwritableOneCostsALogLine) {
  auto& b = Bench(2);
  b.BindAll();
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), 0x10000 + 2048, 0x10000));
  const std::string runs = m_tmp.path() + "/state/velmora/runs";
  b.dlg().SetRunReportDir(runs);
  for (int run = 1; run <= 2; ++run) {
    b.DownLoad();
    ASSERT_TRUE(b.RunToEnd());
  }
  std::vector<std::string> names;
  for (const auto& f : std::filesystem::directory_iterator(runs)) names.push_back(f.path().filename().string());
  ASSERT_EQ(names.size(), 2u);  // one per run, nothing left beside them
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(\d{8}T\d{6}\.\d{3}[+-]\d{4}(-\d+)?\.json)")));
    std::stringstream text;
    text << std::ifstream(runs + "/" + name).rdbuf();
    const auto report = JsonValue::Parse(text.str());
    ASSERT_TRUE(report);
    EXPECT_EQ((*report)["program"].s, "velmora");
    EXPECT_EQ((*report)["completed"].Int(), 2);
  }

  // A file where the folder should be: the run goes on and says so once.
  std::ofstream(m_tmp.path() + "/blocked") << "x";
  b.dlg().SetRunReportDir(m_tmp.path() + "/blocked/runs");
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  b.Pump();
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_COMPLETED);
  EXPECT_EQ(b.dlg().Outcome(1).m_nResult, RESULT_COMPLETED);
  int lines = 0;
  for (int k = 0; k < 2; ++k)
    for (const auto& l : b.host().m_logs[k]) lines += l.text.rfind("Run report not written: ", 0) == 0 ? 1 : 0;
  EXPECT_EQ(lines, 1);
}

TEST_F(EngineTest, ChangeDownloaderSwitchesToFlashProgrammingAtTheStartAddress) {
  auto& b = Bench(1);
  const size_t size = 0x20000 + 3 * 1024;
  std::string path = MakePhoneImage(m_tmp.path(), size, 0x20000);
  std::vector<uint8_t> image = ReadFile(path);
  b.BindAll();
  b.ChoosePhone(path);
  ChangeChoices(b.dlg(), [&](ImageChoices& c) { c.m_bChangeDownloader = 1; });
  b.dlg().UpdateData(false);
  int stateAtSwitch = -1, blockAtSwitch = -1;
  b.handset(0).onBlock = [&](int k) {
    if (k == 129) {
      stateAtSwitch = b.dlg().Outcome(0).m_nState;
      blockAtSwitch = b.dlg().Outcome(0).m_nBlock;
    }
    return BlockAction::Ack;
  };
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  // Block 128 went out in STATE_BOOT_BLOCKS and moved the entry to
  // STATE_FLASH_ERASE_SENT with block 129 next, the first flash-programming
  // block.
  EXPECT_EQ(stateAtSwitch, STATE_FLASH_BLOCKS);
  EXPECT_EQ(blockAtSwitch, 130);
  EXPECT_TRUE(HasLog(b.host(), 0, "Boot Processing...잠시만 기다리세요"));
  EXPECT_TRUE(HasLog(b.host(), 0, "Phone Code Download[Change Downloader]"));
  EXPECT_EQ(Codes(b.handset(0)), (std::vector<uint8_t>{0xA0, 0xC0, 0xEE, 0xC0}));
  EXPECT_EQ(b.handset(0).erases[0], (std::array<uint32_t, 3>{0, static_cast<uint32_t>(size), 0}));
  EXPECT_EQ(Flash(b.handset(0), 0, size), Expected(image, 0));
}

TEST_F(EngineTest, BootKindStepsEndOnTheReplyToTheirLastBlock) {
  // A QBFS image with a partial last block, then a phone code step: the
  // next step's request must answer nothing but itself.
  for (size_t qbfsSize : {size_t{2500}, size_t{3072}}) {
    SCOPED_TRACE(qbfsSize);
    auto& b = Bench(2);
    std::vector<uint8_t> qbfs = PatternBytes(qbfsSize, 3);
    std::string qpath = m_tmp.Write("q" + std::to_string(qbfsSize) + ".bin", qbfs);
    std::string ppath = MakePhoneImage(m_tmp.path(), 0x10000 + 4096, 0x10000);
    b.BindAll();
    ChangeChoices(b.dlg(), [&](ImageChoices& c) {
      c.m_bQbfs = 1;
      c.m_strQbfsPath = qpath;
    });
    b.ChoosePhone(ppath);
    b.DownLoad();
    ASSERT_TRUE(b.RunToEnd(60000));  // well inside one block time-out per step
    for (int k = 0; k < 2; ++k) {
      const FakeHandset& h = b.handset(k);
      EXPECT_EQ(h.requests[0][0], 0xA6);
      EXPECT_EQ(h.overlaps, 0);
      EXPECT_EQ(h.markers, 0);
      EXPECT_EQ(h.violations, 0);
      EXPECT_EQ(Flash(h, 0, 3072), Expected(qbfs, 0));
      EXPECT_EQ(b.dlg().Outcome(k).m_nResult, RESULT_COMPLETED);
    }
    EXPECT_LT(b.host().Now(), 5000u);
  }
}

TEST_F(EngineTest, EfsFilesAreSentInNameOrderThenThePhoneCode) {
  auto& b = Bench(1);
  CTempDir efs;
  m_tmp.Write("efs/b.efs", PatternBytes(2500, 5));
  m_tmp.Write("efs/a.efs", PatternBytes(2048, 6));
  m_tmp.Write("efs/notes.cvs", PatternBytes(10, 7));
  std::string ppath = MakePhoneImage(m_tmp.path(), 0x10000 + 2048, 0x10000);
  b.BindAll();
  b.host().m_folderAnswers.push_back(m_tmp.path() + "/efs");
  b.host().Click(IDC_EFS2, 1);
  ASSERT_EQ(b.dlg().Choices().efs.lastIndex, 3);
  EXPECT_EQ(b.dlg().Choices().efs.currentName, "a.efs");
  ChangeChoices(b.dlg(), [&](ImageChoices& c) {
    c.m_bQbfs = 1;  // not run after EFS2 files
    c.m_strQbfsPath = ppath;
  });
  b.ChoosePhone(ppath);
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  const FakeHandset& h = b.handset(0);
  std::vector<uint8_t> firsts;
  for (const auto& r : h.requests)
    if (r[0] == 0xAD || r[0] == 0xA6 || r[0] == 0xA0) firsts.push_back(r[0]);
  EXPECT_EQ(firsts, (std::vector<uint8_t>{0xAD, 0xAD, 0xA0}));
  ASSERT_EQ(h.erases.size(), 3u);
  EXPECT_EQ(h.erases[0][1], 2048u);
  EXPECT_EQ(h.erases[1][1], 2500u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h.requests[0][1])), "a.efs");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h.requests[0][49])), "efs");
  EXPECT_EQ(h.blocksWritten, 2 + 3 + 2);
  EXPECT_EQ(h.markers, 0);
  EXPECT_EQ(b.dlg().Choices().m_bEfs2, 0);
  EXPECT_EQ(b.host().m_controls[IDC_EFS_TEXT].text, "");  // released with the choice
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_COMPLETED);
}

TEST_F(EngineTest, BootLoaderQbfsAndPhoneCodeRunInPlanOrder) {
  auto& b = Bench(1);
  std::string boot = m_tmp.Write("boot.bin", PatternBytes(3000, 8));
  std::string qbfs = m_tmp.Write("qbfs.bin", PatternBytes(4096, 9));
  std::string phone = MakePhoneImage(m_tmp.path(), 0x10000 + 1024, 0x10000);
  b.BindAll();
  ChangeChoices(b.dlg(), [&](ImageChoices& c) {
    c.m_bBootLoader = 1;
    c.m_strBootPath = boot;
    c.m_bQbfs = 1;
    c.m_strQbfsPath = qbfs;
  });
  b.ChoosePhone(phone);
  b.host().m_nYesNoAnswer = IDYES;
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_EQ(Codes(b.handset(0)),
            (std::vector<uint8_t>{0xAA, 0xC0, 0xEF, 0xA6, 0xEE, 0xA0, 0xAB, 0xEE, 0xC0}));
  // The boot loader's size is rounded up to 3072 and erased with the long code.
  EXPECT_EQ(b.handset(0).erases[0][1], 3072u);
  EXPECT_TRUE(HasLog(b.host(), 0, "BootLoader Download"));
  EXPECT_TRUE(HasLog(b.host(), 0, "QBFS Files Download"));
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_COMPLETED);
}

TEST_F(EngineTest, BootLoaderCautionAnsweredNoStartsNothing) {
  auto& b = Bench(1);
  b.BindAll();
  ChangeChoices(b.dlg(), [&](ImageChoices& c) { c.m_bBootLoader = 1; });
  b.DownLoad();
  b.Pump();
  EXPECT_EQ(b.dlg().Choices().m_bBootLoader, 0);
  EXPECT_TRUE(b.handset(0).requests.empty());
  EXPECT_EQ(CountBoxes(b.host(), "No binaries has been selected."), 0);
}

TEST_F(EngineTest, NothingChosenIsReportedBeforeNoPhone) {
  auto& b = Bench(1);
  b.DownLoad();
  ASSERT_EQ(b.host().m_boxes.size(), 1u);
  EXPECT_EQ(b.host().m_boxes[0].text, "No binaries has been selected.");
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), 0x10000 + 1024, 0x10000));
  b.DownLoad();
  EXPECT_EQ(b.host().m_boxes.back().text, "No Phone is connected.");
}

// Twenty unopened ports are opened side by side; one that cannot be opened
// stops the start and says why, the others are connected.
TEST_F(EngineTest, APortThatCannotBeOpenedStopsTheStartWhileTheOthersOpenTogether) {
  auto& b = Bench(20);
  b.BindAll();
  b.ports().HangUp("fake:COM8");  // absent now
  // Each open waits until all twenty have begun: opened one after
  // another, the first would wait in vain.
  std::mutex lock;
  std::condition_variable cv;
  int begun = 0, together = 0;
  bool gaveUp = false;
  for (int k = 0; k < 20; ++k)
    b.handset(k).dev->onOpen = [&] {
      std::unique_lock<std::mutex> g(lock);
      ++begun;
      cv.notify_all();
      if (!gaveUp && cv.wait_for(g, std::chrono::seconds(10), [&] { return begun >= 20; }))
        ++together;
      else
        gaveUp = true;
    };
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), 0x10000 + 4 * 1024, 0x10000));
  b.DownLoad();
  b.Pump();
  EXPECT_EQ(together, 20);
  for (int k = 0; k < 20; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(b.dlg().Binding(k).m_bConnected, k == 7 ? 0 : 1);
    EXPECT_EQ(b.dlg().Binding(k).m_comm.IsOpen(), k != 7);
    EXPECT_TRUE(b.handset(k).requests.empty());
  }
  EXPECT_TRUE(HasLog(b.host(), 7, "USB 연결 상태를 확인하세요."));
  EXPECT_EQ(b.dlg().Outcome(7).m_strReason, b.host().m_logs[7].back().text);
  EXPECT_EQ(CountLog(b.host(), 6, "USB 연결 상태를 확인하세요."), 0);
  EXPECT_FALSE(b.dlg().Running());
  EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
  // The next press finds the nineteen open and opens only the missing one.
  for (int k = 0; k < 20; ++k) b.handset(k).dev->onOpen = nullptr;
  CEngineProbe::Binding(b.dlg(), 7).m_nComPort = 0;
  b.dlg().RefreshPortLabels();
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  for (int k = 0; k < 20; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(b.dlg().Outcome(k).m_nResult, k == 7 ? RESULT_NONE : RESULT_COMPLETED);
    EXPECT_EQ(b.handset(k).dev->opens, k == 7 ? 0 : 1);
  }
}

// While the links open nothing may touch them: a port removal waits for the
// DownLoad to go on, and an interrupt ends the DownLoad with every link shut.
TEST_F(EngineTest, WhileTheLinksOpenARemovalWaitsAndAnInterruptClosesThem) {
  auto& b = Bench(1);
  b.BindAll();
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), 0x10000 + 4 * 1024, 0x10000));
  std::mutex lock;
  std::condition_variable cv;
  bool begun = false, release = false;
  b.handset(0).dev->onOpen = [&] {
    std::unique_lock<std::mutex> g(lock);
    begun = true;
    cv.notify_all();
    cv.wait_for(g, std::chrono::seconds(10), [&] { return release; });
  };
  auto openUntilReleased = [&] {
    {
      std::lock_guard<std::mutex> g(lock);
      begun = release = false;
    }
    b.host().Click(IDC_DOWNLOAD, 0);
    std::unique_lock<std::mutex> g(lock);
    return cv.wait_for(g, std::chrono::seconds(10), [&] { return begun; });
  };
  auto letGo = [&] {
    std::lock_guard<std::mutex> g(lock);
    release = true;
    cv.notify_all();
  };

  ASSERT_TRUE(openUntilReleased());
  EXPECT_TRUE(b.dlg().LinksOpening());
  EXPECT_TRUE(b.dlg().Running());
  DevBroadcastPort note;
  note.number = 1;
  b.dlg().WindowProc(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<intptr_t>(&note));
  EXPECT_EQ(b.dlg().Binding(0).m_nComPort, 1);
  letGo();
  ASSERT_TRUE(b.AwaitLinks());
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_EQ(b.dlg().Binding(0).m_nComPort, 0);
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_FAILED);
  EXPECT_FALSE(b.handset(0).dev->open);

  b.BindAll();
  ASSERT_TRUE(openUntilReleased());
  letGo();
  b.dlg().InterruptRun();
  b.Pump();  // the opener's message, if it came, finds the DownLoad gone
  EXPECT_FALSE(b.dlg().LinksOpening());
  EXPECT_FALSE(b.dlg().Running());
  EXPECT_FALSE(b.dlg().Binding(0).m_comm.IsOpen());
  EXPECT_FALSE(b.handset(0).dev->open);
  EXPECT_EQ(b.handset(0).dev->opens, 2);
  // Interrupted as a run under way is: its entry says so.
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_FAILED);
  EXPECT_EQ(b.dlg().Outcome(0).m_strReason, "Download interrupted.");
  EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
}

// One handset bound to two entries: it is never opened twice, so it never
// takes two downloads; nothing starts while the binding is doubled, and
// once it is undone the next DownLoad runs.
TEST_F(EngineTest, AHandsetBoundToTwoEntriesIsNeverDownloadedTwice) {
  auto& b = Bench(2);
  b.BindAll();
  CEngineProbe::Binding(b.dlg(), 1).m_nComPort = b.handset(0).com;
  b.dlg().RefreshPortLabels();
  const std::string path = MakePhoneImage(m_tmp.path(), 0x10000 + 4 * 1024, 0x10000);
  b.ChoosePhone(path);
  for (int press = 1; press <= 2; ++press) {
    b.DownLoad();
    ASSERT_TRUE(b.RunToEnd());
    EXPECT_TRUE(b.handset(0).requests.empty());
    EXPECT_EQ(CountLog(b.host(), 1, "USB 연결 상태를 확인하세요."), press);
    EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
  }
  CEngineProbe::Binding(b.dlg(), 1).m_nComPort = 0;
  b.dlg().RefreshPortLabels();
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_COMPLETED);
  EXPECT_EQ(b.handset(0).erases.size(), 1u);
  EXPECT_EQ(b.handset(0).overlaps, 0);
  EXPECT_EQ(Flash(b.handset(0), 0x10000, 4 * 1024), Expected(ReadFile(path), 0x10000));
}

TEST_F(EngineTest, AnImageThatFailsToLoadSendsNothing) {
  auto& b = Bench(1);
  b.BindAll();
  b.ChoosePhone(m_tmp.Write("short.bin", PatternBytes(20)));  // no room for a trailer
  b.DownLoad();
  b.Pump();
  EXPECT_TRUE(b.handset(0).requests.empty());
  EXPECT_FALSE(b.dlg().Running());
  EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
  EXPECT_EQ(CountBoxes(b.host(), "This is a damaged file,replace this file with a good one"), 1);
}

TEST_F(EngineTest, AFailingLaterStepStopsTheRunWithoutAnErase) {
  auto& b = Bench(1);
  std::string qbfs = m_tmp.Write("qbfs.bin", PatternBytes(2048, 1));
  b.BindAll();
  ChangeChoices(b.dlg(), [&](ImageChoices& c) {
    c.m_bQbfs = 1;
    c.m_strQbfsPath = qbfs;
  });
  b.ChoosePhone(m_tmp.path() + "/missing.bin");
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_EQ(Codes(b.handset(0)), (std::vector<uint8_t>{0xA6, 0xC0, 0xEE}));
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_FAILED);
  EXPECT_EQ(b.host().m_bars[0].m_strText, "Error!");
  EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
}

TEST_F(EngineTest, InterruptStopsTheRunAtOnceAndTheNextDownLoadStartsAfresh) {
  auto& b = Bench(2);
  std::string path = MakePhoneImage(m_tmp.path(), 0x10000 + 8 * 1024, 0x10000);
  b.BindAll();
  b.ChoosePhone(path);
  // Entry 1's handset swallows its third block, so entry 0 finishes the step
  // and waits for it while entry 1 waits under its block timer.
  bool swallowed = false;
  b.handset(1).onBlock = [&](int k) {
    return (k == 2 && !swallowed && (swallowed = true)) ? BlockAction::Silence : BlockAction::Ack;
  };
  b.DownLoad();
  ASSERT_TRUE(b.RunUntil([&] { return b.dlg().Outcome(0).m_nState == STATE_STEP_WAIT && swallowed; }, 60000));
  ASSERT_TRUE(b.dlg().Running());

  b.dlg().InterruptRun();
  EXPECT_FALSE(b.dlg().Running());
  EXPECT_TRUE(b.host().m_timers.empty());
  EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    const DownloadEntry& e = b.dlg().Binding(k);
    const RunEntry& r = b.dlg().Outcome(k);
    EXPECT_EQ(r.m_nResult, RESULT_FAILED);
    EXPECT_EQ(r.m_nState, STATE_IDLE);
    EXPECT_FALSE(e.m_comm.IsOpen());
    EXPECT_EQ(e.m_pThread, nullptr);  // the receive thread has ended
    EXPECT_FALSE(b.handset(k).dev->open);
    EXPECT_EQ(e.m_nComPort, k + 1);  // still bound for the next DownLoad
    EXPECT_EQ(CountLog(b.host(), k, "Download interrupted."), 1);
    EXPECT_EQ(r.m_strReason, "Download interrupted.");
    EXPECT_EQ(b.host().m_bars[k].m_strText, "Error!");
  }
  // Nothing goes out afterwards: not on a late reply, not on a timer.
  const size_t written0 = b.handset(0).dev->written.size(), written1 = b.handset(1).dev->written.size();
  b.host().PostMessage(WM_ENTRY_PACKET + 1, 0, 0);
  b.RunUntil([] { return false; }, 30000);
  EXPECT_EQ(b.handset(0).dev->written.size(), written0);
  EXPECT_EQ(b.handset(1).dev->written.size(), written1);
  EXPECT_EQ(b.dlg().Outcome(1).m_nResult, RESULT_FAILED);

  // The handsets are restarted, as an operator does after a stopped run.
  for (int k = 0; k < 2; ++k) b.handset(k).dataMode = false;
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(b.dlg().Outcome(k).m_nResult, RESULT_COMPLETED);
    EXPECT_EQ(b.handset(k).dev->opens, 2);
    EXPECT_EQ(Flash(b.handset(k), 0x10000, 8 * 1024), Expected(ReadFile(path), 0x10000));
  }
}

// The window's flow mode: chosen from the menu and kept; DownLoad starts the
// line and stops it. A handset starts once its port has settled, runs on its
// own while its neighbour erases, and stays as it ended while it sits in its
// socket.
TEST_F(EngineTest, FlowModeRunsEachSocketOnItsOwnUntilDownLoadStopsIt) {
  auto& b = Bench(2);
  const std::string path = MakePhoneImage(m_tmp.path(), 0x10000 + 3 * 1024, 0x10000);
  b.BindAll();
  b.ChoosePhone(path);
  b.handset(1).eraseDelayMs = 60000;
  b.host().Click(IDM_FLOW_MODE);
  EXPECT_TRUE(b.dlg().FlowMode());
  EXPECT_EQ(CRegistry::ReadNumber(kFlowModeSetting, 0, 1, 0), 1);
  EXPECT_EQ(b.host().m_controls[IDC_DOWNLOAD].text, "DownLoad (flow)");

  b.host().Click(IDC_DOWNLOAD);
  ASSERT_TRUE(b.dlg().Flowing());
  EXPECT_EQ(b.host().m_controls[IDC_DOWNLOAD].text, "Stop line");
  EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
  EXPECT_FALSE(b.host().m_controls[IDC_PHONE_CODE].enabled);
  const uint32_t pressed = b.host().Now();
  ASSERT_TRUE(b.RunUntil([&] { return !b.handset(0).requests.empty(); }, 10000));
  EXPECT_GE(b.host().Now() - pressed, static_cast<uint32_t>(kDefaultFlowSettleS) * 1000u);

  ASSERT_TRUE(b.RunUntil([&] { return b.dlg().Outcome(0).m_nResult == RESULT_COMPLETED; }, 30000));
  EXPECT_EQ(b.dlg().Outcome(1).m_nResult, RESULT_RUNNING);
  EXPECT_TRUE(b.dlg().RunOf(0)->Plan().flow);
  const size_t sent = b.handset(0).requests.size();
  b.RunUntil([] { return false; }, 20000);
  EXPECT_EQ(b.handset(0).requests.size(), sent) << "a handset left in its socket was flashed again";

  b.host().Click(IDC_DOWNLOAD);
  EXPECT_FALSE(b.dlg().Flowing());
  EXPECT_FALSE(b.dlg().Running());
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_COMPLETED);
  EXPECT_EQ(b.dlg().Outcome(1).m_strReason, "Download interrupted.");
  EXPECT_EQ(b.host().m_controls[IDC_DOWNLOAD].text, "DownLoad (flow)");
  EXPECT_TRUE(b.host().m_controls[IDC_PHONE_CODE].enabled);
  EXPECT_EQ(CountBoxes(b.host(), "Download Completed."), 0);
}
